// The failure line as the unified log receives it: the call behind os_log,
// recorded by a stand-in, and its argument buffer decoded as the log reads
// it. Built with clang only, which encodes the buffer; the Linux build of
// the launcher logs through syslog instead.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "SystemLog.h"

extern "C" {
extern void* __dso_handle;
struct os_log_s {
  int unused;
};
struct os_log_s _os_log_default;
}

namespace {

struct LogCall {
  const void* dso;
  const void* log;
  unsigned type;
  std::string format;
  std::vector<uint8_t> buffer;
  std::string text;  // what the first item's pointer points to
};

std::vector<LogCall> calls;

}  // namespace

// The stand-in of libSystem's log call. A string item holds a pointer that
// is valid during the call only, so the text is copied here.
extern "C" void _os_log_impl(void* dso, void* log, uint8_t type,
                             const char* format, uint8_t* buffer,
                             uint32_t size) {
  LogCall call{
      dso, log, type, format, std::vector<uint8_t>(buffer, buffer + size), ""};
  const char* text = nullptr;
  if (size == 4 + sizeof text) {
    std::memcpy(&text, buffer + 4, sizeof text);
    call.text = text;
  }
  calls.push_back(call);
}

namespace {

TEST(MacSystemLogError, LogsTheLineAsOnePublicStringAtErrorType) {
  const std::string lines[] = {
      "Failed to launch ZVM",
      "Error opening \"/Apps/%s %{private}s.app/x.cfg\" file: 100% gone",
      "",
  };
  // Summary byte: non-scalar items, none private. One item: descriptor
  // string (kind 2) and public (0x2), then the size of a pointer.
  const std::vector<uint8_t> header = {0x02, 1, 0x22, sizeof(char*)};
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    calls.clear();
    SystemLog::error(line);
    ASSERT_EQ(1u, calls.size());
    const LogCall& call = calls[0];
    EXPECT_EQ(&__dso_handle, call.dso);
    EXPECT_EQ(&_os_log_default, call.log);
    EXPECT_EQ(0x10u, call.type);
    EXPECT_EQ("%{public}s", call.format);
    ASSERT_EQ(header.size() + sizeof(char*), call.buffer.size());
    EXPECT_EQ(header, std::vector<uint8_t>(call.buffer.begin(),
                                           call.buffer.begin() + 4));
    EXPECT_EQ(line, call.text);
  }
}

}  // namespace
