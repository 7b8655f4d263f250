// A file read through a stream buffer, or at any offset, that tells a failed
// read from the end of the file. The launcher reads its configuration and
// package files with it, the bundle check every file it reads.
//
// C++ libraries differ there: GNU's sets a file stream's bad state when a
// read fails, LLVM's libc++ (the one of macOS) reports the end of the file,
// so a stream's own state cannot show that the rest of a file was lost.

#ifndef FILEREADER_H
#define FILEREADER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <streambuf>
#include <string>

class FileReader : public std::streambuf {
 public:
  // Reads up to `size` bytes at `offset` into `buffer`, as pread does: the
  // number read, 0 at the end of the file, -1 with errno set on failure.
  typedef std::function<std::ptrdiff_t(char* buffer, std::size_t size,
                                       std::uint64_t offset)>
      ReadFunction;

  // Unopened, the buffer reads as an empty file.
  FileReader() = default;
  // Reads through `read` instead of a file of its own.
  explicit FileReader(ReadFunction read) : read_(std::move(read)) {}
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader() override;

  // Opens `path` for reading; false, with errno saying why, when it cannot
  // be opened.
  bool open(const std::string& path);

  // 0 while every read succeeded; else the errno of the read that failed,
  // where the buffer's content ended.
  int readError() const { return readError_; }

  // Up to `size` bytes at `offset`: fewer at the end of the file, or up to
  // a failed read, which readError() then tells. Leaves the stream's
  // position where it was.
  std::string readAt(std::uint64_t offset, std::size_t size);

  // The first `maxSize` bytes of the file at `path` (all of a shorter file)
  // into `bytes`; false when it cannot be opened or a read fails, with
  // errno saying why and `bytes` holding what was read before.
  static bool readStart(const std::string& path, std::size_t maxSize,
                        std::string& bytes);

 protected:
  int_type underflow() override;

 private:
  // One read of `read_`; records a failure.
  std::ptrdiff_t readOnce(char* buffer, std::size_t size, std::uint64_t offset);

  ReadFunction read_;
  int fd_ = -1;
  std::uint64_t position_ = 0;  // of the byte after the buffer's content
  int readError_ = 0;
  char buffer_[8192];
};

#endif  // FILEREADER_H
