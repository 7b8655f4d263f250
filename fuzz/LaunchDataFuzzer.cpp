// The launch-data block: launch descriptions built from the input are
// measured and filled through the exported flat functions, and the block
// is then read back byte by byte against its layout: a 40-byte header, the
// library path, the argument pointers with a closing null, the arguments,
// the name pointers, the names, the value pointers and the values, packed
// without padding, ending exactly at the size that was reported. Then the
// block's environment entries are set and a fake entry point checks what it
// is handed.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ZvmLauncher.h"
#include "ZvmLauncherLib.h"

namespace {

// Environment names get this prefix so that no input can change a variable
// that the process itself depends on.
const std::string envPrefix = "QUERN_FUZZ_";

int closeCount = 0;

void countingClose(void* handle) {
  ++closeCount;
  getZvmlLauncherCallbacks()->closeHandle(handle);
}

int forwardSize(void* handle) {
  return getZvmlLauncherCallbacks()->getZvmlLauncherDataSize(handle);
}

void* forwardInit(void* handle, void* buffer, int bufferSize) {
  return getZvmlLauncherCallbacks()->initZvmlLauncherData(handle, buffer,
                                                          bufferSize);
}

const ZvmlLauncherCallbacks countingCallbacks = {countingClose, forwardSize,
                                                 forwardInit};

template <class T>
T readAt(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Checks one packed pointer array of `slots` entries and the strings right
// behind it; returns the address just past the last string.
const char* checkStrings(const char* block, const char* array, size_t slots,
                         const std::vector<std::string>& expected,
                         const char* what) {
  const char* at = array + slots * sizeof(char*);
  for (size_t i = 0; i != expected.size(); ++i) {
    const char* entry = readAt<const char*>(array + i * sizeof(char*));
    FUZZ_CHECK(entry == at, std::string(what) + " " + std::to_string(i) +
                                " not packed at offset " +
                                std::to_string(at - block));
    FUZZ_CHECK(
        std::memcmp(entry, expected[i].data(), expected[i].size()) == 0 &&
            entry[expected[i].size()] == 0,
        std::string(what) + " " + std::to_string(i) + " is not " +
            visible(expected[i]));
    at += expected[i].size() + 1;
  }
  return at;
}

struct Expected {
  std::vector<std::string> args;
  std::vector<std::string> names;
  std::vector<std::string> values;
  char** argv = nullptr;
  int status = 0;
};

Expected* current = nullptr;

int fakeLaunch(int argc, char** argv, int count1, const char** list1,
               int count2, const char** list2, const char* text1,
               const char* text2, const char* text3, const char* text4,
               unsigned char flag1, unsigned char flag2, unsigned char flag3,
               int mode) {
  FUZZ_CHECK(argc == static_cast<int>(current->args.size()),
             std::to_string(argc));
  FUZZ_CHECK(argv == current->argv, "argv is not the block's");
  FUZZ_CHECK(count1 == 0 && !list1 && count2 == 0 && !list2 &&
                 std::strcmp(text1, "") == 0 && std::strcmp(text2, "") == 0 &&
                 std::strcmp(text3, "zeal") == 0 &&
                 std::strcmp(text4, "zeal") == 0 && flag1 == 0 && flag2 == 0 &&
                 flag3 == 0 && mode == 0,
             "extra arguments");
  return current->status;
}

// The name and value as the C library sees them: up to the first zero byte.
std::string cString(const std::string& s) { return s.substr(0, s.find('\0')); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  Zvm zvm;
  Expected expected;
  std::string libPath;
  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0:
        libPath = input.ConsumeRandomLengthString(256);
        zvm.setLibPath(libPath);
        break;
      case 1:
      case 2:
        expected.args.push_back(input.ConsumeRandomLengthString(64));
        zvm.appendArgument(expected.args.back());
        break;
      default:
        expected.names.push_back(envPrefix +
                                 input.ConsumeRandomLengthString(16));
        expected.values.push_back(input.ConsumeRandomLengthString(64));
        zvm.addEnvVariable(expected.names.back(), expected.values.back());
        break;
    }
  }
  expected.status = static_cast<int>(size % 3) - 1;

  // The size that the layout gives, counted here on its own.
  uint64_t layoutSize = 40 + libPath.size() + 1;
  layoutSize += sizeof(char*) * (expected.args.size() + 1);
  for (const std::string& s : expected.args) {
    layoutSize += s.size() + 1;
  }
  layoutSize += 2 * sizeof(char*) * expected.names.size();
  for (size_t i = 0; i != expected.names.size(); ++i) {
    layoutSize += expected.names[i].size() + 1 + expected.values[i].size() + 1;
  }

  // A buffer one byte short is refused and left untouched; the sanitizer
  // sees any write past its end.
  {
    void* handle = zvm.exportLauncher();
    std::vector<char> tooSmall(layoutSize - 1, 'x');
    FUZZ_CHECK(getZvmlLauncherCallbacks()->initZvmlLauncherData(
                   handle, tooSmall.data(),
                   static_cast<int>(tooSmall.size())) == nullptr,
               "short buffer filled");
    FUZZ_CHECK(tooSmall == std::vector<char>(layoutSize - 1, 'x'),
               "short buffer written");
    getZvmlLauncherCallbacks()->closeHandle(handle);
  }

  closeCount = 0;
  int32_t blockSize = -7;
  ZvmlLauncherData* const block = zvmLauncherCreateZvmlLauncherData(
      &countingCallbacks, zvm.exportLauncher(), &blockSize);
  FUZZ_CHECK(closeCount == 1, std::to_string(closeCount) + " closes");
  FUZZ_CHECK(block, "no block");
  FUZZ_CHECK(static_cast<uint64_t>(blockSize) == layoutSize,
             std::to_string(blockSize) + " bytes reported, layout gives " +
                 std::to_string(layoutSize));

  const char* const base = reinterpret_cast<const char*>(block);
  FUZZ_CHECK(readAt<const char*>(base + 0) == base + 40, "libPath pointer");
  const int32_t argc = readAt<int32_t>(base + 8);
  const int32_t envCount = readAt<int32_t>(base + 12);
  const char* const argv = readAt<const char*>(base + 16);
  const char* const names = readAt<const char*>(base + 24);
  const char* const values = readAt<const char*>(base + 32);
  FUZZ_CHECK(argc == static_cast<int32_t>(expected.args.size()),
             std::to_string(argc));
  FUZZ_CHECK(envCount == static_cast<int32_t>(expected.names.size()),
             std::to_string(envCount));
  FUZZ_CHECK(std::memcmp(base + 40, libPath.data(), libPath.size()) == 0 &&
                 base[40 + libPath.size()] == 0,
             "library path");
  FUZZ_CHECK(argv == base + 40 + libPath.size() + 1, "argv offset");
  const char* at = checkStrings(base, argv, expected.args.size() + 1,
                                expected.args, "argument");
  FUZZ_CHECK(readAt<const char*>(argv + argc * sizeof(char*)) == nullptr,
             "argv not closed by null");
  FUZZ_CHECK(names == at, "name array offset");
  at = checkStrings(base, names, expected.names.size(), expected.names, "name");
  FUZZ_CHECK(values == at, "value array offset");
  at = checkStrings(base, values, expected.values.size(), expected.values,
                    "value");
  FUZZ_CHECK(at == base + blockSize,
             "block ends at offset " + std::to_string(at - base) +
                 ", size is " + std::to_string(blockSize));

  // Start: every entry is set in order, so for a name given twice the later
  // value wins; names the C library refuses are passed over.
  std::map<std::string, std::string> environment;
  for (size_t i = 0; i != expected.names.size(); ++i) {
    const std::string name = cString(expected.names[i]);
    if (name.find('=') == std::string::npos) {
      environment[name] = cString(expected.values[i]);
    }
  }
  expected.argv = block->argv;
  current = &expected;
  void* entry = nullptr;
  int (*launch)(int, char**, int, const char**, int, const char**, const char*,
                const char*, const char*, const char*, unsigned char,
                unsigned char, unsigned char, int) = fakeLaunch;
  std::memcpy(&entry, &launch, sizeof entry);
  const int status = zvmLauncherStartZvm(block, entry);
  FUZZ_CHECK(status == expected.status, std::to_string(status));
  for (const auto& variable : environment) {
    const char* value = std::getenv(variable.first.c_str());
    FUZZ_CHECK(value && variable.second == value,
               visible(variable.first) + " is not " + visible(variable.second));
    unsetenv(variable.first.c_str());
  }
  current = nullptr;
  std::free(block);
  return 0;
}
