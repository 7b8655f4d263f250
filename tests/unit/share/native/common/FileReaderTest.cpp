#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "FileReader.h"
#include "helpers/TestSupport.h"

// A directory opens and fails at the first read: the reader says so on both
// C++ libraries, where a file stream of LLVM's libc++ sees an empty file.
TEST(FileReader, ReadStartTellsAFailedReadFromTheEnd) {
  const testsupport::TempDir tmp;
  testsupport::writeFile(tmp / "file", std::string(9000, 'x') + "end");
  std::string bytes;
  EXPECT_TRUE(FileReader::readStart(tmp / "file", 9001, bytes));
  EXPECT_EQ(std::string(9000, 'x') + "e", bytes);
  EXPECT_FALSE(FileReader::readStart(tmp.path(), 100, bytes));
  EXPECT_EQ(EISDIR, errno);
  EXPECT_EQ("", bytes);
}
