// A file read through a stream buffer that tells a failed read from the end
// of the file. The launcher reads its configuration and package files with
// it, the bundle check its Info.plist.
//
// C++ libraries differ there: GNU's sets a file stream's bad state when a
// read fails, LLVM's libc++ (the one of macOS) reports the end of the file,
// so a stream's own state cannot show that the rest of a file was lost.

#ifndef FILEREADER_H
#define FILEREADER_H

#include <cstddef>
#include <cstdio>
#include <streambuf>
#include <string>

class FileReader : public std::streambuf {
 public:
  FileReader() = default;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader() override;

  // Opens `path` for reading; false, with errno saying why, when it cannot
  // be opened. Unopened, the buffer reads as an empty file.
  bool open(const std::string& path);

  // 0 while every read succeeded; else the errno of the read that failed,
  // where the buffer's content ended.
  int readError() const { return readError_; }

  // The first `maxSize` bytes of the file at `path` (all of a shorter file)
  // into `bytes`; false when it cannot be opened or a read fails, with
  // errno saying why and `bytes` holding what was read before.
  static bool readStart(const std::string& path, std::size_t maxSize,
                        std::string& bytes);

 protected:
  int_type underflow() override;

 private:
  std::FILE* file_ = nullptr;
  int readError_ = 0;
  char buffer_[8192];
};

#endif  // FILEREADER_H
