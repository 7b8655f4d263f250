#include <gtest/gtest.h>

#include <cerrno>
#include <istream>
#include <string>

#include "FileReader.h"

namespace {

// Reads `content` in pieces of at most `piece` bytes, and fails with EIO
// for any read at or after `failAt`.
FileReader::ReadFunction failingRead(const std::string& content, size_t piece,
                                     size_t failAt) {
  return [=](char* buffer, size_t size, uint64_t offset) -> std::ptrdiff_t {
    if (offset >= failAt) {
      errno = EIO;
      return -1;
    }
    const std::string part = offset < content.size()
                                 ? content.substr(offset, std::min(size, piece))
                                 : std::string();
    part.copy(buffer, part.size());
    return static_cast<std::ptrdiff_t>(part.size());
  };
}

TEST(FileReader, AFailedReadEndsTheBytesAndIsRecorded) {
  const std::string content = "first\nsecond\nthird\n";
  const struct {
    const char* what;
    size_t piece, failAt;
    std::string streamed;  // what the stream delivers before it ends
    int error;
  } rows[] = {
      {"no failure", 100, 1000, content, 0},
      {"after some bytes", 8, 8, "first\nse", EIO},
      {"after several reads", 3, 12, "first\nsecond", EIO},
      {"at once", 100, 0, "", EIO},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FileReader streamed(failingRead(content, row.piece, row.failAt));
    std::istream input(&streamed);
    const std::string got((std::istreambuf_iterator<char>(input)),
                          std::istreambuf_iterator<char>());
    EXPECT_EQ(row.streamed, got);
    EXPECT_EQ(row.error, streamed.readError());

    FileReader atOffset(failingRead(content, row.piece, row.failAt));
    EXPECT_EQ(row.streamed, atOffset.readAt(0, 1000));
    EXPECT_EQ(row.error, atOffset.readError());
  }
  FileReader reader(failingRead(content, 4, 1000));
  EXPECT_EQ("second", reader.readAt(6, 6));
  EXPECT_EQ("", reader.readAt(100, 6));
  EXPECT_EQ(0, reader.readError());
}

}  // namespace
