// The path functions against properties that define them: what each part
// is made of, where it sits in the input, and how the parts fit together
// again. '/' and '\' both count as separators.
//
// Input: one mode byte, then a path and a tail. With an odd mode byte every
// input byte is mapped onto a small alphabet of separators, dots, blanks and
// letters, so that separator runs and "/." endings are common.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "FileUtils.h"
#include "FuzzSupport.h"

namespace {

bool isSep(char c) { return c == '/' || c == '\\'; }

bool hasSep(const std::string& s) {
  return s.find_first_of("/\\") != std::string::npos;
}

bool onlySeps(const std::string& s) {
  for (char c : s) {
    if (!isSep(c)) {
      return false;
    }
  }
  return true;
}

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0 && s.size() >= prefix.size();
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string mapped(const std::string& s) {
  static const char alphabet[] = {'/', '\\', '.', 'a', 'b', ' ', '/', '.'};
  std::string out(s);
  for (char& c : out) {
    c = alphabet[static_cast<unsigned char>(c) % sizeof alphabet];
  }
  return out;
}

void checkBasename(const std::string& p) {
  const std::string b = FileUtils::basename(p);
  const std::string what = "basename(" + visible(p) + ") = " + visible(b);
  FUZZ_CHECK(!hasSep(b), what);
  FUZZ_CHECK(endsWith(p, b), what);
  if (b.size() < p.size()) {
    FUZZ_CHECK(isSep(p[p.size() - b.size() - 1]), what);
  } else {
    FUZZ_CHECK(!hasSep(p), what);
  }
}

void checkRemoveTrailingSlash(const std::string& p) {
  const std::string r = FileUtils::removeTrailingSlash(p);
  const std::string what =
      "removeTrailingSlash(" + visible(p) + ") = " + visible(r);
  FUZZ_CHECK(startsWith(p, r), what);
  FUZZ_CHECK(r.empty() || !isSep(r.back()), what);
  FUZZ_CHECK(onlySeps(p.substr(r.size())), what);
}

// The directory part of q (q being the path without a trailing "/." or
// "\.") is what stands before the separator run in front of the last
// component; it never ends in a separator, and it is empty when nothing but
// separators stands there.
void checkDirname(const std::string& p) {
  const std::string d = FileUtils::dirname(p);
  const std::string what = "dirname(" + visible(p) + ") = " + visible(d);
  std::string q = p;
  if (q.size() >= 2 && isSep(q[q.size() - 2]) && q.back() == '.') {
    q.resize(q.size() - 2);
  }
  if (!hasSep(q)) {
    FUZZ_CHECK(d.empty(), what);
    return;
  }
  FUZZ_CHECK(startsWith(q, d), what);
  FUZZ_CHECK(d.empty() || !isSep(d.back()), what);
  const std::string rest = q.substr(d.size());
  const std::string::size_type lastSep = rest.find_last_of("/\\");
  FUZZ_CHECK(lastSep != std::string::npos &&
                 onlySeps(rest.substr(0, lastSep + 1)) && isSep(rest[0]),
             what);

  // Directory and base name put back together give the path with its last
  // separator run made one '/'.
  const std::string b = FileUtils::basename(q);
  if (!d.empty() && !b.empty() && q == p) {
    const std::string joined = FileUtils::combinePath(d, b);
    FUZZ_CHECK(joined == d + "/" + b, what + ", joined " + visible(joined));
  }
}

void checkCombinePath(const std::string& base, const std::string& tail) {
  const std::string c = FileUtils::combinePath(base, tail);
  const std::string what = "combinePath(" + visible(base) + ", " +
                           visible(tail) + ") = " + visible(c);
  if (base.empty()) {
    FUZZ_CHECK(c == tail, what);
    return;
  }
  if (tail.empty()) {
    FUZZ_CHECK(c == base, what);
    return;
  }
  // The base without its trailing separators, one '/', then the tail with
  // at most one leading separator dropped.
  const std::string head = FileUtils::removeTrailingSlash(base);
  FUZZ_CHECK(
      startsWith(c, head) && c.size() > head.size() && c[head.size()] == '/',
      what);
  const std::string rest = c.substr(head.size() + 1);
  FUZZ_CHECK(rest == (isSep(tail[0]) ? tail.substr(1) : tail), what);
  // The join keeps the tail's last component, and a one-component tail
  // hangs directly under the base.
  FUZZ_CHECK(FileUtils::basename(c) == FileUtils::basename(tail), what);
  if (!hasSep(tail) && tail != ".") {
    FUZZ_CHECK(FileUtils::dirname(c) == head, what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool map = input.ConsumeBool();
  std::string path = input.ConsumeRandomLengthString(512);
  std::string tail = input.ConsumeRemainingBytesAsString();
  if (map) {
    path = mapped(path);
    tail = mapped(tail);
  }
  for (const std::string* p : {&path, &tail}) {
    checkBasename(*p);
    checkRemoveTrailingSlash(*p);
    checkDirname(*p);
  }
  checkCombinePath(path, tail);
  checkCombinePath(tail, path);
  FUZZ_CHECK(FileUtils::isDirSeparator('/') &&
                 FileUtils::isDirSeparator('\\') &&
                 !FileUtils::isDirSeparator(path.empty() ? 'a' : path[0]) ==
                     !isSep(path.empty() ? 'a' : path[0]),
             "isDirSeparator");
  return 0;
}
