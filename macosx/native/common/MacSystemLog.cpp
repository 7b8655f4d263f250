// The unified log of macOS (Console.app, `log show`), written through
// os_log: the default log of the process, type error. The unified log keeps
// a string argument private unless it is marked public, and would show the
// line as "<private>"; support staff look for exactly this line, which holds
// the paths of the bundle's own files and nothing of the user's, so it is
// logged as public text. The log names the process itself; no name is set.
//
// The declarations below are those of the system's os_log, which the cross
// build's compiler does not carry; libSystem defines them. clang builds the
// argument buffer (__builtin_os_log_format), the layout of which the unified
// log reads.

#include <cstdint>

#include "SystemLog.h"

extern "C" {
// The image the call comes from; the linker defines it in each image.
extern void* __dso_handle;
// OS_LOG_DEFAULT is the address of this object.
extern struct os_log_s _os_log_default;
void _os_log_impl(void* dso, void* log, uint8_t type, const char* format,
                  uint8_t* buffer, uint32_t size);
}

// A macro: the compiler reads the format of each builtin call from the
// literal itself.
#define QUERN_LINE_FORMAT "%{public}s"

namespace {

const uint8_t errorType = 0x10;

// The unified log finds the format by its address in the image, in the
// section where os_log puts every format.
__attribute__((section("__TEXT,__oslogstring"))) const char lineFormat[] =
    QUERN_LINE_FORMAT;

}  // namespace

namespace SystemLog {

void error(const std::string& line) noexcept {
  const char* const text = line.c_str();
  alignas(16) uint8_t
      buffer[__builtin_os_log_format_buffer_size(QUERN_LINE_FORMAT, text)];
  _os_log_impl(&__dso_handle, &_os_log_default, errorType, lineFormat,
               static_cast<uint8_t*>(
                   __builtin_os_log_format(buffer, QUERN_LINE_FORMAT, text)),
               sizeof buffer);
}

}  // namespace SystemLog
