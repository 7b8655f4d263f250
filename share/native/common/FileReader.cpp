#include "FileReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

FileReader::~FileReader() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

bool FileReader::open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY);
  if (fd_ < 0) {
    return false;
  }
  const int fd = fd_;
  read_ = [fd](char* buffer, std::size_t size,
               std::uint64_t offset) -> std::ptrdiff_t {
    // No file holds bytes where an offset cannot point.
    if (offset >
        static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      return 0;
    }
    ssize_t count;
    do {
      count = ::pread(fd, buffer, size, static_cast<off_t>(offset));
    } while (count < 0 && errno == EINTR);
    return count;
  };
  return true;
}

std::ptrdiff_t FileReader::readOnce(char* buffer, std::size_t size,
                                    std::uint64_t offset) {
  if (!read_ || readError_ != 0) {
    return 0;
  }
  errno = 0;
  const std::ptrdiff_t count = read_(buffer, size, offset);
  if (count < 0) {
    readError_ = errno != 0 ? errno : EIO;
    return 0;
  }
  return count;
}

FileReader::int_type FileReader::underflow() {
  if (gptr() < egptr()) {
    return traits_type::to_int_type(*gptr());
  }
  // The bytes read before a failure still count; the stream ends after them.
  const std::ptrdiff_t count = readOnce(buffer_, sizeof buffer_, position_);
  if (count == 0) {
    return traits_type::eof();
  }
  position_ += static_cast<std::uint64_t>(count);
  setg(buffer_, buffer_, buffer_ + count);
  return traits_type::to_int_type(*gptr());
}

std::string FileReader::readAt(std::uint64_t offset, std::size_t size) {
  // `size` is a limit, often far above what the file holds: the string
  // grows with what comes, not to the limit up front.
  std::string bytes;
  std::size_t got = 0;
  while (got < size) {
    const std::size_t want =
        std::min(size - got, std::max<std::size_t>(got, 64 * 1024));
    bytes.resize(got + want);
    const std::ptrdiff_t count = readOnce(&bytes[got], want, offset + got);
    got += static_cast<std::size_t>(count);
    if (count == 0) {
      break;
    }
  }
  bytes.resize(got);
  return bytes;
}

bool FileReader::readStart(const std::string& path, std::size_t maxSize,
                           std::string& bytes) {
  FileReader reader;
  if (!reader.open(path)) {
    bytes.clear();
    return false;
  }
  bytes = reader.readAt(0, maxSize);
  if (reader.readError() != 0) {
    errno = reader.readError();
    return false;
  }
  return true;
}
