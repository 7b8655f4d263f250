#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "ZvmLauncher.h"
#include "helpers/LauncherTestSupport.h"
#include "helpers/TestSupport.h"

namespace {

using testsupport::LaunchData;
using testsupport::pointerAt;
using testsupport::readAt;
using testsupport::RecordingLogAppender;
using testsupport::ScopedEnv;
using testsupport::TempDir;

const char* at(const ZvmlLauncherData* block, size_t offset) {
  return reinterpret_cast<const char*>(block) + offset;
}

// The block that the layout prescribes for `zvm` at address `base`, built
// byte by byte: header, path, argument pointers with a null entry,
// arguments, name pointers, names, value pointers, values; no padding.
std::vector<char> expectedImage(const char* base, const Zvm& zvm) {
  std::vector<char> image(40, 0);
  auto putPointer = [&](size_t at, const char* p) {
    std::memcpy(image.data() + at, &p, sizeof p);
  };
  auto putString = [&](const std::string& s) {
    const size_t offset = image.size();
    image.insert(image.end(), s.begin(), s.end());
    image.push_back(0);
    return offset;
  };
  auto putArray = [&](const StringList& strings, size_t extra) {
    const size_t arrayAt = image.size();
    image.resize(image.size() + 8 * (strings.size() + extra), 0);
    for (size_t i = 0; i != strings.size(); ++i) {
      const size_t offset = putString(strings[i]);
      putPointer(arrayAt + 8 * i, base + offset);
    }
    return arrayAt;
  };

  putPointer(0, base + putString(zvm.getLibPath()));
  const size_t argvAt = putArray(zvm.getArgs(), 1);
  const size_t namesAt = putArray(zvm.getEnvNames(), 0);
  const size_t valuesAt = putArray(zvm.getEnvValues(), 0);
  const int32_t argc = static_cast<int32_t>(zvm.getArgs().size());
  const int32_t envCount = static_cast<int32_t>(zvm.getEnvNames().size());
  std::memcpy(image.data() + 8, &argc, 4);
  std::memcpy(image.data() + 12, &envCount, 4);
  putPointer(16, base + argvAt);
  putPointer(24, base + namesAt);
  putPointer(32, base + valuesAt);
  return image;
}

size_t documentedSize(const Zvm& zvm) {
  auto strings = [](const StringList& l) {
    size_t n = 0;
    for (const std::string& s : l) {
      n += s.size() + 1;
    }
    return n;
  };
  const size_t argc = zvm.getArgs().size();
  const size_t envCount = zvm.getEnvNames().size();
  return 40 + zvm.getLibPath().size() + 1 + 8 * (argc + 1) +
         strings(zvm.getArgs()) + 8 * envCount + strings(zvm.getEnvNames()) +
         8 * envCount + strings(zvm.getEnvValues());
}

std::string streamed(const void* p) { return (tstrings::any() << p).str(); }

class ZvmLauncher : public ::testing::Test {
 protected:
  RecordingLogAppender log;
  testsupport::ScopedLogAppender installed{&log};
};

TEST_F(ZvmLauncher, EmptyConfigurationAppendsOnlyTheAppPath) {
  const CfgFile emptyCfg;
  Zvm fromLvalue;
  fromLvalue.initFromConfigFile(emptyCfg, "/b/Contents/MacOS/App");
  Zvm fromTemporary;
  fromTemporary.initFromConfigFile(CfgFile(), "/b/Contents/MacOS/App");
  for (const Zvm* zvm : {&fromLvalue, &fromTemporary}) {
    EXPECT_EQ(StringList{"-Dquern.app-path=/b/Contents/MacOS/App"},
              zvm->getArgs());
    EXPECT_TRUE(zvm->getEnvNames().empty());
    EXPECT_EQ("", zvm->getLibPath());
  }
  EXPECT_TRUE(log.at("WARNING").empty());
}

TEST_F(ZvmLauncher, InitFromConfigFileAppendsEveryStepInOrder) {
  TempDir tmp;
  const std::string splash = tmp / "splash.png";
  testsupport::writeFile(splash, "png");

  CfgFile cfg;
  cfg.setPropertyValue(SectionName::Application, PropertyName::modulepath,
                       {"/mods/a", "/mods/b c"})
      .setPropertyValue(SectionName::Application, PropertyName::classpath,
                        {"/cp/one.zar", "/cp/two.zar"})
      .setPropertyValue(SectionName::Application, PropertyName::splash,
                        {splash})
      .setPropertyValue(SectionName::Application, PropertyName::mainmodule,
                        {"ignored.first", "com.example.app/com.example.Main"})
      .setPropertyValue(SectionName::Application, PropertyName::mainclass,
                        {"com.example.Main"})
      .setPropertyValue(SectionName::Application, PropertyName::mainzar,
                        {"/app/main.zar"})
      .setPropertyValue(SectionName::Application, PropertyName::memory,
                        {"auto"})
      .setPropertyValue(SectionName::Application, PropertyName::version,
                        {"1.0"})
      .setPropertyValue(SectionName::Application, PropertyName::runtime,
                        {"/rt"})
      .setPropertyValue(SectionName::Application, PropertyName::zealOptions,
                        {"-Xwrong-section"})
      .setPropertyValue(SectionName::ZealOptions, PropertyName::zealOptions,
                        {"-Xmx1g", "-Dkey=value with blank"})
      .setPropertyValue(SectionName::ZealOptions, PropertyName::mainclass,
                        {"wrong.Section"})
      .setPropertyValue(SectionName::PrewarmZealOptions,
                        PropertyName::zealOptions, {"-Xprewarm"})
      .setPropertyValue(SectionName::PrewarmGenerateCacheZealOptions,
                        PropertyName::zealOptions, {"-Xgenerate"})
      .setPropertyValue(SectionName::ArgOptions, PropertyName::arguments,
                        {"--first", "second arg", ""});

  const std::string appPath = "-Dquern.app-path=/bundle/Contents/MacOS/App";

  Zvm zvm;
  zvm.appendArgument("/bundle/Contents/MacOS/App");
  zvm.initFromConfigFile(cfg, "/bundle/Contents/MacOS/App");
  const StringList fromConfig = {"--module-path",
                                 "/mods/a",
                                 "--module-path",
                                 "/mods/b c",
                                 "-classpath",
                                 "/cp/one.zar:/cp/two.zar",
                                 "-splash:" + splash,
                                 "-Xmx1g",
                                 "-Dkey=value with blank",
                                 appPath,
                                 "-m",
                                 "com.example.app/com.example.Main",
                                 "com.example.Main",
                                 "-zar",
                                 "/app/main.zar",
                                 "--first",
                                 "second arg",
                                 ""};
  StringList expected = {"/bundle/Contents/MacOS/App"};
  expected.insert(expected.end(), fromConfig.begin(), fromConfig.end());
  EXPECT_EQ(expected, zvm.getArgs());
  EXPECT_TRUE(log.at("WARNING").empty());

  // A second call appends the same arguments once more, also when the
  // configuration is handed over as a temporary.
  zvm.initFromConfigFile(cfg, "/bundle/Contents/MacOS/App");
  expected.insert(expected.end(), fromConfig.begin(), fromConfig.end());
  EXPECT_EQ(expected, zvm.getArgs());
  zvm.initFromConfigFile(CfgFile(cfg), "/bundle/Contents/MacOS/App");
  expected.insert(expected.end(), fromConfig.begin(), fromConfig.end());
  EXPECT_EQ(expected, zvm.getArgs());
}

TEST_F(ZvmLauncher, AbsentSplashFileIsDroppedWithOneWarning) {
  TempDir tmp;
  const std::string missing = tmp / "no-such-splash.png";
  for (const std::string& splash : {missing, std::string()}) {
    SCOPED_TRACE("splash [" + splash + "]");
    log.events.clear();
    CfgFile cfg;
    cfg.setPropertyValue(SectionName::Application, PropertyName::splash,
                         {splash});
    cfg.setPropertyValue(SectionName::Application, PropertyName::mainclass,
                         {"Main"});
    Zvm zvm;
    zvm.initFromConfigFile(cfg, "/bundle/Contents/MacOS/App");
    ASSERT_EQ(2u, zvm.getArgs().size());
    EXPECT_EQ(0u, zvm.getArgs()[0].find("-Dquern.app-path="));
    EXPECT_EQ("Main", zvm.getArgs()[1]);

    const std::vector<LogEvent> warnings = log.at("WARNING");
    ASSERT_EQ(1u, warnings.size());
    EXPECT_EQ("Splash property ignored. File \"" + splash + "\" not found",
              warnings[0].message);
    EXPECT_EQ("initFromConfigFile", warnings[0].funcName);
    EXPECT_EQ("ZvmLauncher.cpp", warnings[0].fileName);
  }
}

TEST_F(ZvmLauncher, BlockOfTheWorkedExamples) {
  {
    SCOPED_TRACE("two-byte path, one one-byte argument: 61 bytes");
    Zvm zvm;
    zvm.setLibPath("ab");
    zvm.appendArgument("x");
    int32_t size = 0;
    LaunchData block = testsupport::makeLaunchData(zvm, &size);
    ASSERT_NE(nullptr, block);
    const ZvmlLauncherData* b = block.get();
    EXPECT_EQ(61, size);
    EXPECT_EQ(at(b, 40), pointerAt(b, 0));
    EXPECT_EQ(1, readAt<int32_t>(b, 8));
    EXPECT_EQ(0, readAt<int32_t>(b, 12));
    EXPECT_EQ(at(b, 43), pointerAt(b, 16));
    EXPECT_EQ(at(b, 61), pointerAt(b, 24));
    EXPECT_EQ(at(b, 61), pointerAt(b, 32));
    EXPECT_EQ(0, std::memcmp(at(b, 40), "ab", 3));
    EXPECT_EQ(at(b, 59), pointerAt(b, 43));
    EXPECT_EQ(nullptr, pointerAt(b, 51));
    EXPECT_EQ(0, std::memcmp(at(b, 59), "x", 2));
    // The declared header agrees with the offsets.
    EXPECT_EQ(at(b, 40), b->libPath);
    EXPECT_EQ(1, b->argc);
    EXPECT_EQ(0, b->envCount);
  }
  {
    SCOPED_TRACE("empty path, nothing else: 49 bytes");
    Zvm zvm;
    int32_t size = 0;
    LaunchData block = testsupport::makeLaunchData(zvm, &size);
    ASSERT_NE(nullptr, block);
    const ZvmlLauncherData* b = block.get();
    EXPECT_EQ(49, size);
    EXPECT_EQ(at(b, 40), pointerAt(b, 0));
    EXPECT_EQ(0, *at(b, 40));
    EXPECT_EQ(0, readAt<int32_t>(b, 8));
    EXPECT_EQ(0, readAt<int32_t>(b, 12));
    EXPECT_EQ(at(b, 41), pointerAt(b, 16));
    EXPECT_EQ(nullptr, pointerAt(b, 41));
    EXPECT_EQ(at(b, 49), pointerAt(b, 24));
    EXPECT_EQ(at(b, 49), pointerAt(b, 32));
  }
}

TEST_F(ZvmLauncher, BlockMatchesTheLayoutByteForByte) {
  struct Case {
    const char* name;
    std::string libPath;
    StringList args;
    StringList names;
    StringList values;
  };
  const Case cases[] = {
      {"odd lengths", "/r/libzli.dylib", {"a", "bb", "ccc"}, {"N"}, {"v"}},
      {"empty strings everywhere", "", {"", ""}, {"", ""}, {"", ""}},
      {"high bytes and blanks",
       "\xc3\xa9/lib",
       {"\xff\x01", "with space", "tab\t", "%s%n"},
       {"A", "BB", "A"},
       {"1", "22", "333"}},
      {"entries without arguments", "l", {}, {"X"}, {"yy"}},
      {"arguments without entries", "lib", {"-m", "mod/Main"}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Zvm zvm;
    zvm.setLibPath(c.libPath);
    for (const std::string& a : c.args) {
      zvm.appendArgument(a);
    }
    for (size_t i = 0; i != c.names.size(); ++i) {
      zvm.addEnvVariable(c.names[i], c.values[i]);
    }
    int32_t size = 0;
    LaunchData block = testsupport::makeLaunchData(zvm, &size);
    ASSERT_NE(nullptr, block);
    const char* base = reinterpret_cast<const char*>(block.get());

    const std::vector<char> image = expectedImage(base, zvm);
    EXPECT_EQ(documentedSize(zvm), image.size());
    ASSERT_EQ(image.size(), static_cast<size_t>(size));
    EXPECT_EQ(0, std::memcmp(base, image.data(), image.size()));

    // The argument array ends with a null entry; the name and value arrays
    // run straight into their strings.
    const ZvmlLauncherData* b = block.get();
    const char* argv = pointerAt(b, 16);
    EXPECT_EQ(nullptr, readAt<const char*>(b, argv - base + 8 * c.args.size()));
    const char* names = pointerAt(b, 24);
    const char* values = pointerAt(b, 32);
    if (!c.names.empty()) {
      EXPECT_EQ(names + 8 * c.names.size(), pointerAt(b, names - base));
      EXPECT_EQ(values + 8 * c.names.size(), pointerAt(b, values - base));
    } else {
      EXPECT_EQ(names, values);
      EXPECT_EQ(base + size, names);
    }
  }
}

TEST_F(ZvmLauncher, MeasurementAndFillReportTheSameSize) {
  Zvm zvm;
  zvm.setLibPath("/rt/libzli.dylib");
  zvm.appendArgument("/app/App");
  zvm.addEnvVariable("A", "b");
  log.events.clear();
  int32_t size = 0;
  LaunchData block = testsupport::makeLaunchData(zvm, &size);
  ASSERT_NE(nullptr, block);

  StringList messages;
  for (const LogEvent& e : log.events) {
    if (e.funcName == "initZvmlLauncherData") {
      EXPECT_EQ("TRACE", e.logLevel);
      EXPECT_EQ("ZvmLauncher.cpp", e.fileName);
      messages.push_back(e.message);
    }
  }
  const std::string n = std::to_string(size);
  const StringList expected = {
      "Need " + n + " bytes for ZvmlLauncherData buffer",
      "Need " + n + " bytes for ZvmlLauncherData buffer",
      "Initialized " + n + " bytes at " + streamed(block.get()) + " address"};
  EXPECT_EQ(expected, messages);
  EXPECT_EQ(documentedSize(zvm), static_cast<size_t>(size));
}

// The stand-in runtime's report, without its "call <n>" line.
StringList reportBody(const std::string& report, int* calls) {
  static const std::regex callLine("call [0-9]+");
  StringList body;
  *calls = 0;
  for (const std::string& line : testsupport::splitLines(report)) {
    if (std::regex_match(line, callLine)) {
      ++*calls;
    } else {
      body.push_back(line);
    }
  }
  return body;
}

class ZvmLauncherLaunch : public ZvmLauncher {
 protected:
  ZvmLauncherLaunch()
      : record(tmp / "record.txt"),
        recordEnv("ZLI_STANDIN_RECORD", record),
        quiet("ZLI_STANDIN_QUIET", std::nullopt),
        status("ZLI_STANDIN_STATUS", std::nullopt),
        reenter("ZLI_STANDIN_REENTER", std::nullopt),
        reported("ZLI_STANDIN_ENV",
                 std::string("QUERN_H3_ENV:QUERN_H3_EMPTY:QUERN_H3_NEVER")),
        debug("QUERN_DEBUG", std::nullopt),
        var("QUERN_H3_ENV", std::nullopt),
        empty("QUERN_H3_EMPTY", std::nullopt),
        never("QUERN_H3_NEVER", std::nullopt) {
    zvm.setLibPath(testsupport::standInRuntimeLib());
    zvm.appendArgument("/bundle/Contents/MacOS/App");
    zvm.appendArgument("-Dquern.app-path=/bundle/Contents/MacOS/App");
    zvm.appendArgument("with space");
    zvm.appendArgument("");
    zvm.appendArgument("tab\tand\\");
    zvm.addEnvVariable("QUERN_H3_ENV", "first");
    zvm.addEnvVariable("QUERN_H3_EMPTY", "");
    zvm.addEnvVariable("QUERN_H3_ENV", "second");
  }

  // Expects `launch` to fail with exactly `message` and the runtime to have
  // been left alone, the environment entries included.
  void expectFailureBeforeRuntime(const std::string& message) {
    try {
      zvm.launch();
      ADD_FAILURE() << "launch did not fail";
    } catch (const QuernError<std::runtime_error>& e) {
      EXPECT_EQ(message, e.rawMessage());
    }
    EXPECT_FALSE(std::filesystem::exists(record));
    EXPECT_EQ(nullptr, getenv("QUERN_H3_ENV"));
    EXPECT_EQ(nullptr, getenv("QUERN_H3_EMPTY"));
  }

  TempDir tmp;
  const std::string record;
  ScopedEnv recordEnv, quiet, status, reenter, reported, debug, var, empty,
      never;
  Zvm zvm;
};

TEST_F(ZvmLauncherLaunch, RuntimeReceivesTheRecordedVector) {
  const StringList argsBefore = zvm.getArgs();
  zvm.launch();
  zvm.launch();

  int calls = 0;
  const StringList body = reportBody(testsupport::readFile(record), &calls);
  EXPECT_EQ(2, calls);
  const StringList one = {
      "argc 5",
      "argv[0] /bundle/Contents/MacOS/App",
      "argv[1] -Dquern.app-path=/bundle/Contents/MacOS/App",
      "argv[2] with space",
      "argv[3] ",
      "argv[4] tab\\tand\\\\",
      "extra 0 null 0 null \"\" \"\" \"zeal\" \"zeal\" 0 0 0 0",
      "env QUERN_H3_ENV=second",
      "env QUERN_H3_EMPTY=",
      "env QUERN_H3_NEVER unset",
      "end"};
  StringList two = one;
  two.insert(two.end(), one.begin(), one.end());
  EXPECT_EQ(two, body);
  EXPECT_EQ(argsBefore, zvm.getArgs());

  // The block is made before the library is loaded.
  StringList trace;
  for (const LogEvent& e : log.events) {
    if (e.funcName == "initZvmlLauncherData") {
      trace.push_back(e.message.substr(0, e.message.find(' ')));
    } else if (e.funcName == "launch") {
      trace.push_back(e.message);
    }
  }
  const std::string library =
      "ZVM library: \"" + testsupport::standInRuntimeLib() + "\"";
  const StringList order = {"Need", "Need", "Initialized", library,
                            "Need", "Need", "Initialized", library};
  EXPECT_EQ(order, trace);
}

TEST_F(ZvmLauncherLaunch, NonZeroRuntimeStatusFails) {
  for (const char* value : {"3", "-1"}) {
    SCOPED_TRACE(value);
    ScopedEnv s("ZLI_STANDIN_STATUS", std::string(value));
    testsupport::writeFile(record, "");
    try {
      zvm.launch();
      ADD_FAILURE() << "launch did not fail";
    } catch (const QuernError<std::runtime_error>& e) {
      EXPECT_STREQ("Failed to launch ZVM", e.rawMessage());
      EXPECT_NE(std::string::npos,
                std::string(e.what()).find(" at launch(): Failed to launch"));
    }
    int calls = 0;
    reportBody(testsupport::readFile(record), &calls);
    EXPECT_EQ(1, calls);
  }
}

TEST_F(ZvmLauncherLaunch, MissingLibraryFailsWithLoaderText) {
  const std::string lib = tmp / "runtime/lib/libzli.dylib";
  zvm.setLibPath(lib);
  // What the loader itself says about that path.
  ASSERT_EQ(nullptr, dlopen(lib.c_str(), RTLD_LAZY));
  const std::string loaderText = dlerror();
  expectFailureBeforeRuntime("dlopen(" + lib +
                             ") failed. Error: " + loaderText);
}

TEST_F(ZvmLauncherLaunch, BlockThatCannotBeMadeFailsBeforeRuntime) {
  if (QUERN_TEST_SANITIZED) {
    GTEST_SKIP() << "needs a limited address space";
  }
  // A description of 64 MiB, launched with the address space limited to
  // half and to one and a half times that much more: depending on whether
  // the handle copies the description or reads it in place, one of the two
  // leaves no room for the block. A null block must never reach the
  // runtime. Memory that earlier tests freed would still count as used, so
  // each launch runs in a fresh process.
  constexpr size_t size = 64u << 20;
  ScopedEnv quietRuntime("ZLI_STANDIN_QUIET", std::string("1"));
  StringList outcomes;
  for (const size_t extra : {size / 2, size / 2 * 3}) {
    const testsupport::ChildResult child = testsupport::runInFreshProcess(
        std::to_string(extra), [this](const std::string& extra) {
          zvm.appendArgument(std::string(size, 'a'));
          if (!testsupport::limitAddressSpace(std::stoull(extra))) {
            return 2;
          }
          try {
            zvm.launch();
            std::cerr << "launched";
          } catch (const QuernError<std::runtime_error>& e) {
            std::cerr << e.rawMessage();
          } catch (const std::bad_alloc&) {
            std::cerr << "out of memory";
          }
          return 0;
        });
    ASSERT_EQ(0, child.exitCode) << child;
    outcomes.push_back(child.err);
  }
  SCOPED_TRACE(::testing::PrintToString(outcomes));
  EXPECT_NE(outcomes.end(), std::find(outcomes.begin(), outcomes.end(),
                                      "Failed to create ZVM launch data"));
  EXPECT_EQ(outcomes.end(), std::find(outcomes.begin(), outcomes.end(),
                                      "Failed to launch ZVM"));
}

}  // namespace
