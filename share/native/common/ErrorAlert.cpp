#include "ErrorAlert.h"

#include <cstdint>

#include "Dll.h"
#include "SysInfo.h"

namespace {

// The framework's types, as the functions below take them: its objects stay
// opaque to the launcher.
typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFURL* CFURLRef;
typedef double CFTimeInterval;
typedef unsigned long CFOptionFlags;
typedef long CFIndex;
typedef uint32_t CFStringEncoding;
typedef unsigned char Boolean;

typedef CFStringRef (*CreateWithBytes)(CFAllocatorRef, const uint8_t*, CFIndex,
                                       CFStringEncoding, Boolean);
typedef CFStringRef (*CreateWithCString)(CFAllocatorRef, const char*,
                                         CFStringEncoding);
typedef void (*Release)(CFTypeRef);
typedef int32_t (*DisplayAlert)(CFTimeInterval, CFOptionFlags, CFURLRef,
                                CFURLRef, CFURLRef, CFStringRef, CFStringRef,
                                CFStringRef, CFStringRef, CFStringRef,
                                CFOptionFlags*);

const CFStringEncoding utf8Encoding = 0x08000100;
const CFOptionFlags stopAlertLevel = 0;

// A string the framework made, released when the scope ends.
class CfString {
 public:
  CfString(Release release, CFStringRef string)
      : release(release), string(string) {}
  ~CfString() {
    if (string) {
      release(string);
    }
  }
  CfString(const CfString&) = delete;
  CfString& operator=(const CfString&) = delete;

  CFStringRef get() const { return string; }

 private:
  const Release release;
  const CFStringRef string;
};

std::string showOrThrow(const std::string& appName, const std::string& line) {
  const Dll framework(ErrorAlert::frameworkPath());
  CreateWithBytes createWithBytes;
  CreateWithCString createWithCString;
  Release release;
  DisplayAlert displayAlert;
  framework.getFunction("CFStringCreateWithBytes", createWithBytes);
  framework.getFunction("CFStringCreateWithCString", createWithCString);
  framework.getFunction("CFRelease", release);
  framework.getFunction("CFUserNotificationDisplayAlert", displayAlert);

  const auto fromBytes = [&](const std::string& text) {
    const std::string utf8 = ErrorAlert::validUtf8(text);
    return createWithBytes(nullptr,
                           reinterpret_cast<const uint8_t*>(utf8.data()),
                           static_cast<CFIndex>(utf8.size()), utf8Encoding, 0);
  };
  const CfString header(release, fromBytes(appName));
  const CfString message(release, fromBytes(line));
  const CfString ok(release, createWithCString(nullptr, "OK", utf8Encoding));
  if (!header.get() || !message.get() || !ok.get()) {
    return "CFStringCreateWithBytes() or CFStringCreateWithCString() failed";
  }
  CFOptionFlags response = 0;
  const int32_t status = displayAlert(
      ErrorAlert::timeoutSeconds, stopAlertLevel, nullptr, nullptr, nullptr,
      header.get(), message.get(), ok.get(), nullptr, nullptr, &response);
  if (status != 0) {
    return "CFUserNotificationDisplayAlert() returned " +
           std::to_string(status);
  }
  return std::string();
}

}  // namespace

namespace ErrorAlert {

bool isWanted() {
  return SysInfo::getEnvVariable(std::nothrow, "QUERN_ERROR_ALERT", "") ==
         "true";
}

std::string show(const std::string& appName, const std::string& line) noexcept {
  try {
    return showOrThrow(appName, line);
  } catch (const QuernErrorBase& e) {
    return e.rawMessage();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return "unknown error";
}

std::string validUtf8(const std::string& text) {
  static const char replacement[] = "\xef\xbf\xbd";
  std::string result;
  result.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      result += text[i++];
      continue;
    }
    // The number of continuation bytes and the range of the first one,
    // which rules out overlong forms, surrogates and values past U+10FFFF.
    int need = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
      need = 1;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      need = 2;
      low = lead == 0xe0 ? 0xa0 : 0x80;
      high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      need = 3;
      low = lead == 0xf0 ? 0x90 : 0x80;
      high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    size_t end = i + 1;
    int have = 0;
    while (have < need && end < n &&
           static_cast<unsigned char>(text[end]) >= low &&
           static_cast<unsigned char>(text[end]) <= high) {
      ++end;
      ++have;
      low = 0x80;
      high = 0xbf;
    }
    if (need > 0 && have == need) {
      result.append(text, i, end - i);
    } else {
      result += replacement;
    }
    i = end;
  }
  return result;
}

}  // namespace ErrorAlert
