// The package file on arbitrary bytes: the name is the file's bytes up to
// the first line feed, or all of them.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "PackageFile.h"

namespace {

std::string appDir;
std::string packagePath;

void removeAppDir() {
  std::remove(packagePath.c_str());
  rmdir(appDir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceLogger();
  // A file rewritten millions of times belongs in memory: on a disk file
  // system every rewrite may wait for a flush.
  struct stat st;
  const bool shm = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) &&
                   access("/dev/shm", W_OK) == 0;
  std::string pattern =
      std::string(shm ? "/dev/shm" : "/tmp") + "/quern-fuzz-package-XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    std::perror("mkdtemp");
    std::abort();
  }
  appDir = pattern;
  packagePath = appDir + "/.package";
  std::atexit(removeAppDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  FILE* file = std::fopen(packagePath.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size ||
      std::fclose(file) != 0) {
    std::perror(packagePath.c_str());
    std::abort();
  }

  const std::string name = PackageFile::loadFromAppDir(appDir).getPackageName();
  const std::string expected = content.substr(0, content.find('\n'));
  FUZZ_CHECK(name == expected,
             visible(name) + " instead of " + visible(expected));
  return 0;
}
