#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "ZvmLauncher.h"
#include "ZvmLauncherLib.h"
#include "helpers/LauncherTestSupport.h"
#include "helpers/TestSupport.h"

namespace {

using testsupport::entryAt;
using testsupport::LaunchData;
using testsupport::makeLaunchData;
using testsupport::ScopedEnv;
using testsupport::splitLines;
using testsupport::StderrCapture;

// A callback table that counts its calls and answers as told.
struct FakeCallbacks {
  int sizeResult = 0;
  bool fillSucceeds = true;
  int closeCalls = 0;
  int sizeCalls = 0;
  int fillCalls = 0;
  std::vector<std::string> order;
  std::vector<void*> handles;
  void* fillBuffer = nullptr;
  int fillBufferSize = 0;
};

FakeCallbacks fake;

void fakeClose(void* handle) {
  ++fake.closeCalls;
  fake.order.push_back("close");
  fake.handles.push_back(handle);
}

int fakeSize(void* handle) {
  ++fake.sizeCalls;
  fake.order.push_back("size");
  fake.handles.push_back(handle);
  return fake.sizeResult;
}

void* fakeFill(void* handle, void* buffer, int bufferSize) {
  ++fake.fillCalls;
  fake.order.push_back("fill");
  fake.handles.push_back(handle);
  fake.fillBuffer = buffer;
  fake.fillBufferSize = bufferSize;
  // Touch every byte the callee was promised, so that a short allocation
  // shows under the address sanitizer.
  std::memset(buffer, 0xA5, static_cast<size_t>(bufferSize));
  return fake.fillSucceeds ? buffer : nullptr;
}

const ZvmlLauncherCallbacks fakeTable = {fakeClose, fakeSize, fakeFill};

// Stands in for ZLI_Launch: records what it got and what the environment
// held at that moment.
struct LaunchCall {
  int calls = 0;
  int result = 0;
  std::vector<std::string> watched;

  int argc = -1;
  char** argv = nullptr;
  StringList args;
  bool argvEndsWithNull = false;
  int count1 = -1;
  const char** list1 = nullptr;
  int count2 = -1;
  const char** list2 = nullptr;
  const char* text[4] = {nullptr, nullptr, nullptr, nullptr};
  unsigned char flags[3] = {9, 9, 9};
  int mode = -1;
  std::map<std::string, std::optional<std::string>> env;
};

LaunchCall launchCall;

int recordingLaunch(int argc, char** argv, int count1, const char** list1,
                    int count2, const char** list2, const char* text1,
                    const char* text2, const char* text3, const char* text4,
                    unsigned char flag1, unsigned char flag2,
                    unsigned char flag3, int mode) {
  LaunchCall& c = launchCall;
  ++c.calls;
  c.argc = argc;
  c.argv = argv;
  c.args.clear();
  for (int i = 0; i < argc; ++i) {
    c.args.push_back(entryAt(argv, i));
  }
  c.argvEndsWithNull = entryAt(argv, argc) == nullptr;
  c.count1 = count1;
  c.list1 = list1;
  c.count2 = count2;
  c.list2 = list2;
  c.text[0] = text1;
  c.text[1] = text2;
  c.text[2] = text3;
  c.text[3] = text4;
  c.flags[0] = flag1;
  c.flags[1] = flag2;
  c.flags[2] = flag3;
  c.mode = mode;
  c.env.clear();
  for (const std::string& name : c.watched) {
    const char* value = getenv(name.c_str());
    c.env[name] = value ? std::optional<std::string>(value) : std::nullopt;
  }
  return c.result;
}

void* recordingLaunchAddress() {
  ZliLaunchFunc f = recordingLaunch;
  void* address;
  std::memcpy(&address, &f, sizeof address);
  return address;
}

// Splits debug output into its messages, checking each line's prefix.
StringList debugMessages(const std::string& text) {
  static const std::regex line("ZvmLauncherLib\\.c:[0-9]+: (.*)");
  StringList messages;
  for (const std::string& l : splitLines(text)) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) {
      ADD_FAILURE() << "unexpected debug line: " << l;
      continue;
    }
    messages.push_back(m[1]);
  }
  return messages;
}

class ZvmLauncherLib : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = FakeCallbacks();
    launchCall = LaunchCall();
  }

  // The trace lines of the object side are not this unit's subject.
  testsupport::RecordingLogAppender quietLog;
  testsupport::ScopedLogAppender installed{&quietLog};
};

TEST_F(ZvmLauncherLib, NullHandleCallsNoCallback) {
  fake.sizeResult = 49;
  int32_t size = 12345;
  EXPECT_EQ(nullptr,
            zvmLauncherCreateZvmlLauncherData(&fakeTable, nullptr, &size));
  EXPECT_EQ(nullptr,
            zvmLauncherCreateZvmlLauncherData(&fakeTable, nullptr, nullptr));
  EXPECT_EQ(0, fake.sizeCalls);
  EXPECT_EQ(0, fake.fillCalls);
  EXPECT_EQ(0, fake.closeCalls);
  EXPECT_EQ(12345, size);
}

TEST_F(ZvmLauncherLib, CreateClosesHandleExactlyOnceWhateverHappens) {
  struct Case {
    const char* name;
    int sizeResult;
    bool fillSucceeds;
    bool withSizePointer;
    bool expectBlock;
    StringList expectOrder;
  };
  const Case cases[] = {
      {"size query fails", -1, true, true, false, {"size", "close"}},
      {"size query answers zero", 0, true, true, false, {"size", "close"}},
      {"size query answers INT_MIN",
       INT_MIN,
       true,
       true,
       false,
       {"size", "close"}},
      {"fill fails", 49, false, true, false, {"size", "fill", "close"}},
      {"filled", 61, true, true, true, {"size", "fill", "close"}},
      {"filled, no size pointer",
       4096,
       true,
       false,
       true,
       {"size", "fill", "close"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake = FakeCallbacks();
    fake.sizeResult = c.sizeResult;
    fake.fillSucceeds = c.fillSucceeds;
    int handleToken = 0;
    int32_t size = 12345;

    LaunchData block(zvmLauncherCreateZvmlLauncherData(
        &fakeTable, &handleToken, c.withSizePointer ? &size : nullptr));

    EXPECT_EQ(c.expectOrder, fake.order);
    EXPECT_EQ(1, fake.closeCalls);
    for (void* h : fake.handles) {
      EXPECT_EQ(&handleToken, h);
    }
    if (fake.fillCalls) {
      EXPECT_EQ(c.sizeResult, fake.fillBufferSize);
    }
    if (c.expectBlock) {
      ASSERT_NE(nullptr, block);
      EXPECT_EQ(fake.fillBuffer, block.get());
    } else {
      // A buffer the fill refused is released by the create function; the
      // leak checker sees it if not.
      EXPECT_EQ(nullptr, block);
    }
    EXPECT_EQ(c.expectBlock && c.withSizePointer ? c.sizeResult : 12345, size);
  }
}

TEST_F(ZvmLauncherLib, FailedAllocationPrintsSystemTextAndClosesHandle) {
  if (QUERN_TEST_SANITIZED) {
    GTEST_SKIP() << "needs a limited address space";
  }
  // In a fresh process: memory that earlier tests freed would still count
  // as used.
  const testsupport::ChildResult child =
      testsupport::runInFreshProcess("", [](const std::string&) {
        setenv("QUERN_DEBUG", "true", 1);
        fake.sizeResult = INT_MAX;
        if (!testsupport::limitAddressSpace(256ull << 20)) {
          return 2;
        }
        int handleToken = 0;
        int32_t size = 7;
        ZvmlLauncherData* block =
            zvmLauncherCreateZvmlLauncherData(&fakeTable, &handleToken, &size);
        std::cerr << "block " << (block ? "set" : "null") << " close "
                  << fake.closeCalls << " fill " << fake.fillCalls << " size "
                  << size << "\n";
        return 0;
      });
  ASSERT_EQ(0, child.exitCode) << child;
  const StringList lines = splitLines(child.err);
  ASSERT_EQ(2u, lines.size()) << child;
  EXPECT_EQ(StringList{std::strerror(ENOMEM)}, debugMessages(lines[0] + "\n"));
  EXPECT_EQ("block null close 1 fill 0 size 7", lines[1]);
}

TEST_F(ZvmLauncherLib, StartSetsEnvironmentLaterValueWinningAndPassesResult) {
  ScopedEnv a("QUERN_H3_A", std::nullopt);
  ScopedEnv b("QUERN_H3_B", std::nullopt);
  ScopedEnv untouched("QUERN_H3_UNTOUCHED", std::string("before"));
  ScopedEnv debug("QUERN_DEBUG", std::nullopt);
  Zvm zvm;
  zvm.setLibPath("/rt/lib/libzli.dylib");
  zvm.appendArgument("/app/Contents/MacOS/App");
  zvm.appendArgument("arg with space");
  zvm.appendArgument("");
  zvm.addEnvVariable("QUERN_H3_A", "first");
  zvm.addEnvVariable("QUERN_H3_B", "");
  zvm.addEnvVariable("QUERN_H3_A", "second");

  for (const int result : {0, 1, -7}) {
    SCOPED_TRACE(result);
    unsetenv("QUERN_H3_A");
    unsetenv("QUERN_H3_B");
    launchCall = LaunchCall();
    launchCall.result = result;
    launchCall.watched = {"QUERN_H3_A", "QUERN_H3_B", "QUERN_H3_UNTOUCHED"};
    LaunchData block = makeLaunchData(zvm);
    ASSERT_NE(nullptr, block);

    StderrCapture err;
    EXPECT_EQ(result,
              zvmLauncherStartZvm(block.get(), recordingLaunchAddress()));
    EXPECT_EQ("", err.text());

    const LaunchCall& c = launchCall;
    EXPECT_EQ(1, c.calls);
    EXPECT_EQ(3, c.argc);
    EXPECT_EQ(block->argv, c.argv);
    EXPECT_EQ(zvm.getArgs(), c.args);
    EXPECT_TRUE(c.argvEndsWithNull);
    EXPECT_EQ(0, c.count1);
    EXPECT_EQ(nullptr, c.list1);
    EXPECT_EQ(0, c.count2);
    EXPECT_EQ(nullptr, c.list2);
    ASSERT_NE(nullptr, c.text[0]);
    ASSERT_NE(nullptr, c.text[2]);
    EXPECT_STREQ("", c.text[0]);
    EXPECT_EQ(c.text[0], c.text[1]);
    EXPECT_STREQ("zeal", c.text[2]);
    EXPECT_EQ(c.text[2], c.text[3]);
    EXPECT_EQ(0, c.flags[0]);
    EXPECT_EQ(0, c.flags[1]);
    EXPECT_EQ(0, c.flags[2]);
    EXPECT_EQ(0, c.mode);

    const std::map<std::string, std::optional<std::string>> expectedEnv = {
        {"QUERN_H3_A", std::string("second")},
        {"QUERN_H3_B", std::string("")},
        {"QUERN_H3_UNTOUCHED", std::string("before")}};
    EXPECT_EQ(expectedEnv, c.env);
  }
}

TEST_F(ZvmLauncherLib, StartRefusesNullBlockOrEntryPoint) {
  Zvm zvm;
  zvm.appendArgument("x");
  LaunchData block = makeLaunchData(zvm);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(-1, zvmLauncherStartZvm(nullptr, recordingLaunchAddress()));
  EXPECT_EQ(-1, zvmLauncherStartZvm(block.get(), nullptr));
  EXPECT_EQ(0, launchCall.calls);
}

TEST_F(ZvmLauncherLib, FailedSetenvIsReportedAndLaterEntriesStillSet) {
  ScopedEnv debug("QUERN_DEBUG", std::string("true"));
  ScopedEnv after("QUERN_H3_AFTER", std::nullopt);
  Zvm zvm;
  zvm.setLibPath("lib");
  zvm.addEnvVariable("", "empty name");
  zvm.addEnvVariable("BAD=NAME", "y");
  zvm.addEnvVariable("QUERN_H3_AFTER", "z");
  launchCall.result = 5;
  launchCall.watched = {"QUERN_H3_AFTER"};
  LaunchData block = makeLaunchData(zvm);
  ASSERT_NE(nullptr, block);

  StderrCapture err;
  EXPECT_EQ(5, zvmLauncherStartZvm(block.get(), recordingLaunchAddress()));
  const StringList messages = debugMessages(err.text());

  EXPECT_EQ(1, launchCall.calls);
  EXPECT_EQ(std::optional<std::string>("z"), launchCall.env["QUERN_H3_AFTER"]);
  const StringList expected = {
      "zli lib: [lib]",           "env var[0]: =[empty name]",
      "env var[1]: BAD=NAME=[y]", "env var[2]: QUERN_H3_AFTER=[z]",
      "setenv(0) failed",         "setenv(1) failed"};
  EXPECT_EQ(expected, messages);
}

TEST_F(ZvmLauncherLib, DebugLinesOnlyWithDiagnosticsOn) {
  ScopedEnv a("QUERN_H3_A", std::nullopt);
  // Values that look like formats must come out as they are.
  Zvm withEnv;
  withEnv.setLibPath("/rt/lib%s.dylib");
  withEnv.appendArgument("/app/App");
  withEnv.appendArgument("%s%n%d%%");
  withEnv.addEnvVariable("QUERN_H3_A", "first");
  withEnv.addEnvVariable("QUERN_H3_A", "%x second");
  const StringList withEnvLines = {
      "zli lib: [/rt/lib%s.dylib]", "zli arg[0]: [/app/App]",
      "zli arg[1]: [%s%n%d%%]", "env var[0]: QUERN_H3_A=[first]",
      "env var[1]: QUERN_H3_A=[%x second]"};
  Zvm noEnv;
  noEnv.setLibPath("");
  const StringList noEnvLines = {"zli lib: []"};

  // Which values switch diagnostics on is LauncherErrorsTest's table.
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on ? "QUERN_DEBUG=true" : "QUERN_DEBUG unset");
    ScopedEnv debug("QUERN_DEBUG",
                    on ? std::optional<std::string>("true") : std::nullopt);
    for (const Zvm* zvm : {&withEnv, &noEnv}) {
      LaunchData block = makeLaunchData(*zvm);
      ASSERT_NE(nullptr, block);
      StderrCapture err;
      EXPECT_EQ(0, zvmLauncherStartZvm(block.get(), recordingLaunchAddress()));
      const std::string text = err.text();
      if (on) {
        EXPECT_EQ(zvm == &withEnv ? withEnvLines : noEnvLines,
                  debugMessages(text));
      } else {
        EXPECT_EQ("", text);
      }
    }
  }
}

TEST_F(ZvmLauncherLib, LogPrefixesBaseNameAndLine) {
  ScopedEnv debug("QUERN_DEBUG", std::string("true"));
  struct Case {
    const char* file;
    const char* expected;
  };
  const Case cases[] = {
      {"/a/b/c.c", "c.c:42: 5-x%\n"},
      {"plain.c", "plain.c:42: 5-x%\n"},
      {"dir/", ":42: 5-x%\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    StderrCapture err;
    zvmLauncherLog(c.file, 42, "%d-%s%%", 5, "x");
    EXPECT_EQ(c.expected, err.text());
  }
}

}  // namespace
