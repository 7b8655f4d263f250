#include "FileReader.h"

#include <algorithm>
#include <cerrno>

FileReader::~FileReader() {
  if (file_) {
    std::fclose(file_);
  }
}

bool FileReader::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) {
    return false;
  }
  // This buffer is the only one: every byte is copied once.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return true;
}

FileReader::int_type FileReader::underflow() {
  if (gptr() < egptr()) {
    return traits_type::to_int_type(*gptr());
  }
  if (!file_ || readError_ != 0) {
    return traits_type::eof();
  }
  errno = 0;
  const std::size_t count = std::fread(buffer_, 1, sizeof buffer_, file_);
  // The bytes read before a failure still count; the stream ends after them.
  if (std::ferror(file_)) {
    readError_ = errno != 0 ? errno : EIO;
  }
  if (count == 0) {
    return traits_type::eof();
  }
  setg(buffer_, buffer_, buffer_ + count);
  return traits_type::to_int_type(*gptr());
}

bool FileReader::readStart(const std::string& path, std::size_t maxSize,
                           std::string& bytes) {
  bytes.clear();
  FileReader reader;
  if (!reader.open(path)) {
    return false;
  }
  char chunk[4096];
  while (bytes.size() < maxSize) {
    const std::size_t wanted = std::min(sizeof chunk, maxSize - bytes.size());
    const std::streamsize got =
        reader.sgetn(chunk, static_cast<std::streamsize>(wanted));
    bytes.append(chunk, static_cast<std::size_t>(got));
    if (static_cast<std::size_t>(got) < wanted) {
      break;
    }
  }
  if (reader.readError() != 0) {
    errno = reader.readError();
    return false;
  }
  return true;
}
