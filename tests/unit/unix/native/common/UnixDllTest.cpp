#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "Dll.h"
#include "ErrorHandling.h"
#include "helpers/TestSupport.h"

namespace {

const std::string probeLib = QUERN_DLL_PROBE;
const char* const probeSymbol = "quernDllProbeAnswer";

// Whether the loader still holds the library, without loading it.
bool isLoaded(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (!h) {
    return false;
  }
  dlclose(h);
  return true;
}

int callProbe(void* address) {
  int (*f)();
  std::memcpy(&f, &address, sizeof f);
  return f();
}

// The loader's own text for opening `path`.
std::string dlopenText(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_LAZY);
  if (h) {
    dlclose(h);
    return "(opened)";
  }
  return dlerror();
}

// The loader's own text for a symbol missing from the probe library.
std::string dlsymText(const std::string& name) {
  void* h = dlopen(probeLib.c_str(), RTLD_LAZY);
  dlerror();
  void* address = dlsym(h, name.c_str());
  const char* text = dlerror();
  const std::string result = address ? "(found)" : text ? text : "";
  dlclose(h);
  return result;
}

TEST(UnixDll, OpenFailureCarriesTheLoaderText) {
  using testsupport::fixturePath;
  const std::string paths[] = {
      fixturePath("dll/no-such-library.dylib"),
      "no/such/relative/lib.dylib",
      fixturePath("dll/not-a-library.dylib"),
      fixturePath("dll/truncated-header.dylib"),
      fixturePath("dll"),
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const std::string loaderText = dlopenText(path);
    ASSERT_NE("(opened)", loaderText);
    ASSERT_FALSE(loaderText.empty());
    try {
      Dll dll(path);
      ADD_FAILURE() << "opened";
    } catch (const QuernError<std::runtime_error>& e) {
      EXPECT_EQ("dlopen(" + path + ") failed. Error: " + loaderText,
                e.rawMessage());
      EXPECT_EQ(0u, std::string(e.what()).find("UnixDll.cpp("));
      EXPECT_NE(std::string::npos,
                std::string(e.what()).find(") at loadLibrary(): dlopen("));
    }
  }
}

TEST(UnixDll, MissingSymbolFailsOnlyWhenAskedTo) {
  Dll dll(probeLib);
  EXPECT_EQ(probeLib, dll.getPath());

  EXPECT_EQ(nullptr, dll.getFunction("quernNoSuchFunction", false));
  void* found = dll.getFunction(probeSymbol, false);
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(42, callProbe(found));
  EXPECT_EQ(found, dll.getFunction(probeSymbol, true));

  const std::string expected = "dlsym(" + probeLib +
                               ", quernNoSuchFunction) failed. Error: " +
                               dlsymText("quernNoSuchFunction");
  try {
    dll.getFunction("quernNoSuchFunction", true);
    ADD_FAILURE() << "found";
  } catch (const QuernError<std::runtime_error>& e) {
    EXPECT_EQ(expected, e.rawMessage());
    EXPECT_NE(std::string::npos,
              std::string(e.what()).find(") at getFunction(): dlsym("));
  }
  try {
    void* out = nullptr;
    dll.getFunction(tstrings::any("quernNoSuchFunction"), out);
    ADD_FAILURE() << "found";
  } catch (const QuernError<std::runtime_error>& e) {
    EXPECT_EQ(expected, e.rawMessage());
  }
  try {
    DllFunction<void*> f(dll, "quernNoSuchFunction");
    ADD_FAILURE() << "found";
  } catch (const QuernError<std::runtime_error>& e) {
    EXPECT_EQ(expected, e.rawMessage());
  }
}

TEST(UnixDll, CopyOwnsItsOwnHandle) {
  ASSERT_FALSE(isLoaded(probeLib));
  {
    std::unique_ptr<Dll> original(new Dll(probeLib));
    const Dll copy(*original);
    EXPECT_EQ(probeLib, copy.getPath());
    original.reset();
    // Closing the original leaves the copy's open.
    ASSERT_TRUE(isLoaded(probeLib));
    EXPECT_EQ(42, callProbe(copy.getFunction(probeSymbol, true)));
  }
  // Each object closed what it opened, no more and no less.
  EXPECT_FALSE(isLoaded(probeLib));
}

TEST(UnixDll, FunctionOutlivesTheTemporaryLibrary) {
  ASSERT_FALSE(isLoaded(probeLib));
  {
    const DllFunction<void*> f(Dll(probeLib), probeSymbol);
    ASSERT_TRUE(isLoaded(probeLib));
    EXPECT_EQ(42, callProbe(f));
  }
  EXPECT_FALSE(isLoaded(probeLib));

  // A failed construction releases the copy it had opened.
  try {
    const DllFunction<void*> f(Dll(probeLib), "quernNoSuchFunction");
    ADD_FAILURE() << "found";
  } catch (const QuernError<std::runtime_error>&) {
  }
  EXPECT_FALSE(isLoaded(probeLib));
}

}  // namespace
