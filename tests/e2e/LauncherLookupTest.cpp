// Where the launcher looks, end to end: its own bundle (also through
// symbolic links), the configuration file and its per-user copy, the runtime
// library, and the library search path it hands to the runtime.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "e2e/BundleHarness.h"

namespace {

using e2e::Bundle;
using e2e::RunResult;

const char kPackage[] = "com.example.hello";

std::string mainClassOf(const RunResult& r) {
  if (r.record.calls.empty() || r.record.calls[0].argv.empty()) {
    return "<no launch>";
  }
  return r.record.calls[0].argv.back();
}

std::string canonical(const std::string& path) {
  std::error_code error;
  const std::filesystem::path p = std::filesystem::canonical(path, error);
  return error ? "<" + path + ": " + error.message() + ">" : p.string();
}

std::string dyldOf(const RunResult& r) {
  if (r.record.calls.empty()) {
    return "<no launch>";
  }
  const auto& env = r.record.calls[0].env;
  const auto it = env.find("DYLD_LIBRARY_PATH");
  if (it == env.end()) {
    return "<not reported>";
  }
  return it->second ? *it->second : "<unset>";
}

TEST(LauncherConfigLookup, PerUserConfigurationOfThePackageTakesPrecedence) {
  struct Case {
    const char* what;
    std::optional<std::string> package;  // .package content; none: no file
    bool perUserFile;
    enum { HomeSet, HomeUnset, HomeEmpty } home;
    bool debug;
    const char* expectedClass;
  };
  const Case cases[] = {
      {"package and per-user file", std::string(kPackage) + "\n", true,
       Case::HomeSet, false, "user.Main"},
      {"package name without line feed", std::string(kPackage), true,
       Case::HomeSet, false, "user.Main"},
      {"only the first line names the package",
       std::string(kPackage) + "\nother.package\n", true, Case::HomeSet, false,
       "user.Main"},
      {"package without per-user file", std::string(kPackage) + "\n", false,
       Case::HomeSet, false, "bundle.Main"},
      {"per-user file without package", std::nullopt, true, Case::HomeSet,
       false, "bundle.Main"},
      {"empty package file", std::string(), true, Case::HomeSet, false,
       "bundle.Main"},
      {"package name with trailing blank", std::string(kPackage) + " \n", true,
       Case::HomeSet, false, "bundle.Main"},
      {"HOME unset", std::string(kPackage) + "\n", true, Case::HomeUnset, false,
       "bundle.Main"},
      {"HOME unset, diagnostics on", std::string(kPackage) + "\n", true,
       Case::HomeUnset, true, "bundle.Main"},
      {"HOME empty", std::string(kPackage) + "\n", true, Case::HomeEmpty, true,
       "bundle.Main"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", "[Application]\napp.mainclass=bundle.Main\n");
    if (c.package) {
      bundle.writePackage(*c.package);
    }
    const std::string home = bundle.temp() / "home";
    const std::string userDir =
        "Library/Application Support/" + std::string(kPackage);
    if (c.perUserFile) {
      const std::string cfg = "[Application]\napp.mainclass=user.Main\n";
      e2e::writeFile(home + "/" + userDir + "/App.cfg", cfg);
      // With HOME empty a lookup relative to the current directory would
      // find this one.
      e2e::writeFile(bundle.temp() / (userDir + "/App.cfg"), cfg);
    }
    e2e::RunOptions options;
    options.cwd = bundle.temp().path();
    if (c.home == Case::HomeSet) {
      options.env.push_back("HOME=" + home);
    } else if (c.home == Case::HomeEmpty) {
      options.env.push_back("HOME=");
    }
    if (c.debug) {
      options.env.push_back("QUERN_DEBUG=true");
    }

    const RunResult r = e2e::run(bundle.launcher(), options);

    EXPECT_EQ(0, r.exitCode) << r;
    EXPECT_EQ(c.expectedClass, mainClassOf(r)) << r;
    if (!c.debug) {
      EXPECT_EQ("", r.err) << r;
    } else if (c.home == Case::HomeUnset) {
      // The missing home directory is reported once and the launch goes on.
      EXPECT_EQ(1u, r.countErrLines("[ERROR] ")) << r;
      EXPECT_EQ(1u, r.countErrLines("HOME")) << r;
      EXPECT_EQ(1u, r.countErrLines("[ERROR] MacLauncher.cpp:")) << r;
    } else {
      EXPECT_EQ(0u, r.countErrLines("[ERROR] ")) << r;
      EXPECT_EQ(0u, r.countErrLines("Check [")) << r;
    }
  }
}

TEST(LauncherRuntime, RuntimeLibraryIsFoundWhereTheConfigurationSays) {
  // The candidates are tried in order; a file that is no library shows
  // which one was taken, because loading it fails.
  struct Case {
    const char* what;
    const char* runtimeLine;            // "app.runtime=..." or empty
    std::vector<std::string> goodLibs;  // relative to the temporary dir
    std::vector<std::string> textLibs;
    int exitCode;
    std::string expectedLib;  // from "zli lib: [" or the error message
  };
  const std::string own = "App.app/Contents/runtime/Contents/Home/lib/";
  const Case cases[] = {
      {"bundle's own runtime",
       "",
       {own + "libzli.dylib"},
       {},
       0,
       own + "libzli.dylib"},
      {"second candidate when the first is absent",
       "",
       {own + "zli/libzli.dylib"},
       {},
       0,
       own + "zli/libzli.dylib"},
      {"first candidate wins even when it cannot be loaded",
       "",
       {own + "zli/libzli.dylib"},
       {own + "libzli.dylib"},
       1,
       own + "libzli.dylib"},
      {"app.runtime replaces the bundle's runtime",
       "app.runtime=$ROOTDIR/../other runtime\n",
       {"other runtime/Contents/Home/lib/libzli.dylib"},
       {own + "libzli.dylib"},
       0,
       "App.app/../other runtime/Contents/Home/lib/libzli.dylib"},
      {"last app.runtime wins",
       "app.runtime=/nonexistent\napp.runtime=$ROOTDIR/../rt\n",
       {"rt/Contents/Home/lib/zli/libzli.dylib"},
       {},
       0,
       "App.app/../rt/Contents/Home/lib/zli/libzli.dylib"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle(
        "App",
        std::string("[Application]\napp.mainclass=a.Main\n") + c.runtimeLine);
    bundle.remove("Contents/runtime");
    for (const std::string& lib : c.goodLibs) {
      e2e::copyFile(e2e::standInRuntimeLib(), bundle.temp() / lib);
    }
    for (const std::string& lib : c.textLibs) {
      e2e::writeFile(bundle.temp() / lib, "this is no library\n");
    }
    const std::string lib = bundle.temp() / c.expectedLib;

    const RunResult quiet = bundle.launch();
    const RunResult debug = bundle.launch({}, {"QUERN_DEBUG=true"});

    EXPECT_EQ(c.exitCode, quiet.exitCode) << quiet;
    if (c.exitCode == 0) {
      EXPECT_EQ("", quiet.err) << quiet;
      EXPECT_EQ(1u, quiet.record.calls.size()) << quiet;
      EXPECT_EQ(1u, debug.countErrLines("zli lib: [" + lib + "]")) << debug;
    } else {
      EXPECT_EQ(0u, quiet.record.calls.size()) << quiet;
      EXPECT_EQ(0u, quiet.err.find("dlopen(" + lib + ") failed. Error: "))
          << quiet;
      EXPECT_EQ(1u, quiet.errLines().size()) << quiet;
    }
    // The default runtime is reported only when the configuration names
    // none.
    EXPECT_EQ(*c.runtimeLine ? 0u : 1u,
              debug.countErrLines("Property \"app.runtime\" not found in "
                                  "\"Application\" section"))
        << debug;
  }
}

TEST(LauncherRuntime, MissingRuntimeLibraryNamesTheDirectorySearched) {
  struct Case {
    const char* what;
    std::string cfg;
    std::string directory;  // relative to the bundle root, or absolute
  };
  const Case cases[] = {
      {"no runtime in the bundle", "", "Contents/runtime"},
      {"runtime directory without library",
       "[Application]\napp.runtime=$ROOTDIR/Contents/empty\n",
       "Contents/empty"},
      {"runtime directory that does not exist",
       "[Application]\napp.runtime=/nonexistent/runtime\n",
       "/nonexistent/runtime"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", c.cfg);
    bundle.remove("Contents/runtime/Contents/Home/lib/libzli.dylib");
    bundle.write("Contents/empty/Contents/Home/lib/readme.txt", "empty\n");
    const std::string dir =
        c.directory[0] == '/' ? c.directory : bundle.path(c.directory);

    const RunResult r = bundle.launch();

    EXPECT_EQ(1, r.exitCode) << r;
    EXPECT_EQ("Failed to find ZVM in \"" + dir + "\" directory.\n", r.err) << r;
    EXPECT_EQ("", r.out) << r;
    EXPECT_TRUE(r.record.calls.empty()) << r;
  }
}

TEST(LauncherLibraryPath, AppDirectoryIsAddedUnlessAlreadyListed) {
  const Bundle bundle("App");
  const std::string a = bundle.appDir();
  struct Case {
    std::optional<std::string> value;  // none: unset
    std::string expected;              // as the runtime sees it
    bool entryRecorded;
  };
  const Case cases[] = {
      {std::nullopt, ":" + a, true},
      {std::string(), ":" + a, true},
      {std::string("/x"), "/x:" + a, true},
      {"/x:" + a, "/x:" + a, false},
      {a, a, false},
      {a + ":/x", a + ":/x", false},
      {"/x:" + a + "/", "/x:" + a + "/:" + a, true},
      {"/x:" + a + "x", "/x:" + a + "x:" + a, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? "DYLD_LIBRARY_PATH=" + *c.value : "unset");
    e2e::Environment env = {"QUERN_DEBUG=true"};
    if (c.value) {
      env.push_back("DYLD_LIBRARY_PATH=" + *c.value);
    }

    const RunResult r = bundle.launch({}, env);

    EXPECT_EQ(0, r.exitCode) << r;
    EXPECT_EQ(c.expected, dyldOf(r)) << r;
    if (c.entryRecorded) {
      EXPECT_EQ(1u, r.countErrLines(": env var[0]: DYLD_LIBRARY_PATH=[" +
                                    c.expected + "]"))
          << r;
    }
    EXPECT_EQ(c.entryRecorded ? 1u : 0u, r.countErrLines(": env var[")) << r;
  }
}

// How links and relative paths resolve is MacSysInfoTest's table; here the
// launcher takes its bundle from what that gives.
TEST(LauncherPath, LauncherFindsItsBundleThroughSymbolicLinks) {
  const Bundle bundle("App",
                      "[Application]\n"
                      "app.classpath=$APPDIR/app.zar\n"
                      "app.mainclass=a.Main\n");
  const e2e::TempDir& t = bundle.temp();
  std::filesystem::create_directories(t / "links");
  // Two levels down, so that a relative link target taken from here would
  // miss the bundle.
  std::filesystem::create_directories(t / "elsewhere/deeper");
  std::filesystem::create_symlink("../App.app/Contents/MacOS/App",
                                  t / "links/relative");
  // A link named after another application still reads the target's
  // configuration.
  std::filesystem::create_symlink(bundle.launcher(), t / "links/Other");
  bundle.write("Contents/app/Other.cfg", "[Application]\napp.mainclass=x\n");
  bundle.write("Contents/app/relative.cfg", "[Application]\napp.mainclass=x\n");

  struct Case {
    const char* what;
    std::string executable;
    std::string cwd;
  };
  const Case cases[] = {
      {"absolute link named Other", t / "links/Other", t.path()},
      {"relative link run by relative path from another directory",
       "../../links/relative", t / "elsewhere/deeper"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::RunOptions options;
    options.cwd = c.cwd;

    const RunResult r = e2e::run(c.executable, options);

    EXPECT_EQ(0, r.exitCode) << r;
    EXPECT_EQ("", r.err) << r;
    ASSERT_EQ(1u, r.record.calls.size()) << r;
    const std::vector<std::string>& argv = r.record.calls[0].argv;
    ASSERT_EQ(5u, argv.size()) << r;
    // The paths need not be normalised, but they must be absolute and name
    // the launcher and its app directory.
    EXPECT_EQ('/', argv[0][0]) << r;
    EXPECT_EQ(canonical(bundle.launcher()), canonical(argv[0])) << r;
    EXPECT_EQ("-classpath", argv[1]);
    const std::string::size_type slash = argv[2].rfind('/');
    ASSERT_NE(std::string::npos, slash) << r;
    EXPECT_EQ(canonical(bundle.appDir()), canonical(argv[2].substr(0, slash)))
        << r;
    EXPECT_EQ("/app.zar", argv[2].substr(slash)) << r;
    EXPECT_EQ("-Dquern.app-path=" + argv[0], argv[3]) << r;
    EXPECT_EQ("a.Main", argv[4]) << r;
  }
}

TEST(LauncherPath, LauncherReadsTheConfigurationNamedAfterItself) {
  for (const std::string name : {"Foo", "Foo.bin", "My App"}) {
    SCOPED_TRACE(name);
    const Bundle bundle(name, "[Application]\napp.mainclass=own.Main\n");
    bundle.write("Contents/app/App.cfg", "[Application]\napp.mainclass=x\n");
    bundle.write("Contents/app/applauncher.cfg",
                 "[Application]\napp.mainclass=x\n");
    bundle.write("Contents/app/Foo.bin.cfg.cfg",
                 "[Application]\napp.mainclass=x\n");

    const RunResult r = bundle.launch();

    EXPECT_EQ(0, r.exitCode) << r;
    EXPECT_EQ("own.Main", mainClassOf(r)) << r;
  }
}

}  // namespace
