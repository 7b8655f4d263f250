// applauncher-check on bundles whose launcher and runtime are real arm64
// files signed by a linker (tests/fixtures/macho), re-signed by the fixture
// signer for the hardened, Team ID, entitlement and sealed cases, and
// changed after signing the ways releases break.

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>

#include "e2e/BundleHarness.h"
#include "helpers/FixtureSigner.h"
#include "helpers/MachOFixture.h"

namespace {

using e2e::Bundle;
using json = nlohmann::ordered_json;
using testsupport::poke;
using testsupport::SignOptions;
const auto npos = std::string::npos;

// Signed with a Team ID, hardened or not, granting these entitlements
// (short names of com.apple.security.cs.*).
SignOptions team(const std::string& id, bool hardened,
                 const std::vector<std::string>& entitlements = {}) {
  SignOptions options;
  options.teamId = id;
  options.hardenedRuntime = hardened;
  std::string list =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
      "version=\"1.0\"><dict>";
  for (const std::string& name : entitlements) {
    list += "<key>com.apple.security.cs." + name + "</key><true/>";
  }
  options.entitlements = list + "</dict></plist>\n";
  return options;
}

void flip(const std::string& path, size_t at) {
  std::string bytes = e2e::readFile(path);
  bytes.at(at) ^= 1;
  e2e::writeFile(path, bytes);
}

// A universal file of these thin files, each at a 16 KiB boundary.
std::string universalOf(const std::vector<std::string>& slices) {
  std::string file;
  poke(file, 0, 0xcafebabe, 4, true);
  poke(file, 4, slices.size(), 4, true);
  for (size_t i = 0; i != slices.size(); ++i) {
    const size_t offset = (file.size() + 0x3fff) / 0x4000 * 0x4000;
    const size_t at = 8 + 20 * i;
    for (int field = 0; field != 2; ++field) {  // CPU type and subtype
      uint64_t value = 0;
      for (int byte = 3; byte >= 0; --byte) {
        value = value << 8 |
                static_cast<unsigned char>(slices[i][4 + 4 * field + byte]);
      }
      poke(file, at + 4 * field, value, 4, true);
    }
    poke(file, at + 8, offset, 4, true);
    poke(file, at + 12, slices[i].size(), 4, true);
    poke(file, at + 16, 14, 4, true);
    file.resize(std::max(file.size(), offset));
    file += slices[i];
  }
  return file;
}

TEST(BundleSigning, VerdictsOfSigningOnBundles) {
  struct Row {
    std::string what;
    std::optional<SignOptions> launcher, runtime;  // none: the linker's
    bool sealed;                                   // signBundle
    std::function<void(const Bundle&)> after;      // a change after signing
    int status;
    // Every finding: "code" or "code:words|words" (of its file and message).
    std::vector<std::string> findings;
    std::string seals;  // of the launcher's signature, "name state, ..."
  };
  const std::optional<SignOptions> linker;
  const SignOptions a = team("TEAMAAAAAA", true, {"allow-jit"});
  const SignOptions plainA = team("TEAMAAAAAA", false);
  const auto nothing = [](const Bundle&) {};
  const std::string intact = "code intact, entitlements intact";
  const std::string sealedIntact = intact + ", Info.plist intact, resources ";
  const std::string exe =
      e2e::readFile(e2e::fixturePath("macho/linker-signed-arm64-exe"));
  const std::string dylib =
      e2e::readFile(e2e::fixturePath("macho/linker-signed-arm64.dylib"));
  // Universal files of a linker-signed x86_64 slice (at 16384) and the
  // arm64 fixture (at 32768), with bytes flipped at these offsets.
  const auto universal = [&](std::vector<size_t> launcherFlips,
                             std::vector<size_t> runtimeFlips = {}) {
    return [&, launcherFlips, runtimeFlips](const Bundle& b) {
      e2e::writeFile(
          b.runtimeLib(),
          universalOf({testsupport::machO("x86_64 dylib signed"), dylib}));
      e2e::writeFile(
          b.launcher(),
          universalOf({testsupport::machO("x86_64 exe signed"), exe}));
      for (const size_t at : launcherFlips) {
        flip(b.launcher(), at);
      }
      for (const size_t at : runtimeFlips) {
        flip(b.runtimeLib(), at);
      }
    };
  };
  const Row rows[] = {
      {"untouched linker-signed files",
       linker,
       linker,
       false,
       nothing,
       2,
       {"launcher-no-team-id:Developer ID"},
       "code intact"},
      {"the launcher modified after signing",
       linker,
       linker,
       false,
       [](const Bundle& b) { flip(b.launcher(), 792); },
       1,
       {"launcher-modified:on Macs with Apple silicon (arm64)|kernel kills",
        "launcher-no-team-id"},
       "code changed: page 0 (bytes 0 to 16384) differs"},
      {"universal launcher, its x86_64 slice changed",
       linker,
       linker,
       false,
       universal({16384 + 28}),
       2,
       {"launcher-modified:on Intel Macs (x86_64)|may still start",
        "launcher-no-team-id"},
       "code changed: page 0 (bytes 0 to 48) differs"},
      {"universal launcher, both slices changed",
       linker,
       linker,
       false,
       universal({16384 + 28, 32768 + 792}),
       1,
       {"launcher-modified:on Intel Macs (x86_64)|may still start",
        "launcher-modified:on Macs with Apple silicon (arm64)",
        "launcher-no-team-id"},
       "code changed: page 0 (bytes 0 to 48) differs"},
      {"universal runtime, its x86_64 slice changed",
       linker,
       linker,
       false,
       universal({}, {16384 + 28}),
       2,
       {"runtime-modified:on Intel Macs (x86_64)|may still load",
        "launcher-no-team-id"},
       "code intact"},
      {"the runtime modified after signing",
       linker,
       linker,
       false,
       [](const Bundle& b) { flip(b.runtimeLib(), 4000); },
       1,
       {"runtime-modified:libzli.dylib|page 0|loader refuses",
        "launcher-no-team-id"},
       "code intact"},
      {"same Team ID, hardened", a, plainA, false, nothing, 0, {}, intact},
      {"another Team ID",
       a,
       team("TEAMBBBBBB", false),
       false,
       nothing,
       1,
       {"runtime-library-validation:TEAMAAAAAA|TEAMBBBBBB|disable-library-"
        "validation"},
       intact},
      {"an ad-hoc runtime behind a hardened launcher",
       a,
       linker,
       false,
       nothing,
       1,
       {"runtime-library-validation:ad hoc"},
       intact},
      {"disable-library-validation",
       team("TEAMAAAAAA", true, {"allow-jit", "disable-library-validation"}),
       linker,
       false,
       nothing,
       2,
       {"library-validation-off:app.runtime"},
       intact},
      {"no JIT entitlement",
       team("TEAMAAAAAA", true),
       plainA,
       false,
       nothing,
       2,
       {"launcher-no-jit:allow-unsigned-executable-memory"},
       intact},
      {"the entitlements changed after signing",
       a,
       plainA,
       false,
       [](const Bundle& b) {
         std::string bytes = e2e::readFile(b.launcher());
         bytes.replace(bytes.find("allow-jit"), 9, "allow-JIT");
         e2e::writeFile(b.launcher(), bytes);
       },
       1,
       {"launcher-modified:entitlements", "launcher-no-jit"},
       "code intact, entitlements changed"},
      {"sealed and intact",
       a,
       plainA,
       true,
       nothing,
       0,
       {},
       sealedIntact + "intact"},
      {"Info.plist changed after signing",
       a,
       plainA,
       true,
       [](const Bundle& b) {
         e2e::writeFile(b.path("Contents/Info.plist"),
                        e2e::readFile(b.path("Contents/Info.plist")) + " ");
       },
       2,
       {"seal-info-plist:Info.plist|damaged"},
       intact + ", Info.plist changed, resources intact"},
      {"a sealed .cfg edited",
       a,
       plainA,
       true,
       [](const Bundle& b) { b.writeCfg("[Application]\napp.mainclass=b\n"); },
       2,
       {"seal-file:Contents/app/App.cfg|changed after"},
       sealedIntact + "changed: 1 file"},
      {"a file added after sealing, one removed",
       a,
       plainA,
       true,
       [](const Bundle& b) {
         b.write("Contents/app/added.txt", "x");
         b.remove("Contents/app/lib.txt");
       },
       2,
       {"seal-file:added.txt|not sealed", "seal-file:lib.txt|missing"},
       sealedIntact + "changed: 2 files"},
      {"CodeResources changed",
       a,
       plainA,
       true,
       [](const Bundle& b) {
         b.write("Contents/_CodeSignature/CodeResources", "<plist/>");
       },
       2,
       {"seal-resources:changed"},
       sealedIntact + "changed"},
      {"more files than the walk takes",
       a,
       plainA,
       false,
       [](const Bundle& b) {
         for (int i = 0; i != 20000; ++i) {
           e2e::writeFile(b.path("Contents/app/many/" + std::to_string(i)), "");
         }
       },
       2,
       {"code-walk-capped:first 20000 files"},
       intact},
      {"an unsigned native.dylib under Contents/app",
       a,
       plainA,
       false,
       [](const Bundle& b) {
         b.write("Contents/app/native.dylib",
                 testsupport::machO("arm64 dylib"));
       },
       2,
       {"unsigned-code:Contents/app/native.dylib|(arm64)|notarization"},
       intact},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Bundle b("App", "[Application]\napp.mainclass=demo.Main\n");
    b.write("Contents/app/lib.txt", "sealed");
    e2e::writeFile(
        b.runtimeLib(),
        row.runtime ? testsupport::resign(dylib, *row.runtime) : dylib);
    e2e::writeFile(b.launcher(), row.launcher
                                     ? testsupport::resign(exe, *row.launcher)
                                     : exe);
    if (row.sealed) {
      testsupport::signBundle(b.root(), "App", *row.launcher);
    }
    row.after(b);
    const testsupport::ChildResult text =
        e2e::run(QUERN_CHECK, {{"--no-home", b.root()}, "", {}, "", 60});
    const e2e::RunResult run = e2e::run(
        QUERN_CHECK, {{"--json", "--no-home", b.root()}, "", {}, "", 60});
    const json report = json::parse(run.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << run;
    EXPECT_EQ(row.status, run.exitCode) << text.out;
    EXPECT_EQ(row.status, text.exitCode);
    std::vector<std::string> codes, expected;
    for (const json& f : report["findings"]) {
      codes.push_back(f["code"]);
    }
    for (const std::string& e : row.findings) {
      expected.push_back(e.substr(0, e.find(':')));
      bool found = false;
      for (const json& f : report["findings"]) {
        const std::string said = f["file"].get<std::string>() + " " +
                                 f["message"].get<std::string>();
        bool all = f["code"] == expected.back();
        for (size_t at = e.find(':'); all && at != npos;) {
          const size_t end = e.find('|', at + 1);
          all = said.find(e.substr(at + 1, end - at - 1)) != npos;
          at = end;
        }
        found = found || all;
      }
      EXPECT_TRUE(found) << e << "\n" << text.out;
    }
    std::sort(codes.begin(), codes.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, codes);
    if (row.status == 1) {
      const std::string killed = row.what.find("universal") != npos
                                     ? "Macs with Apple silicon do not start"
                                     : "No Mac starts";
      const bool loader =
          row.what.find("runtime") != npos || row.what.find("Team ID") != npos;
      EXPECT_EQ(json(loader ? "dlopen(" + b.runtimeLib() + ") failed. Error: "
                            : killed + " the launcher at \"" + b.launcher() +
                                  "\": it does not match its signature"),
                report["error"]);
    }
    // The launcher's signature, in both reports.
    const json& signature = report["launcher"]["signatures"].at(0);
    std::string seals;
    for (const auto& [name, state] : signature["seals"].items()) {
      seals +=
          (seals.empty() ? "" : ", ") + name + " " + state.get<std::string>();
    }
    EXPECT_EQ(row.seals, seals);
    const std::string kind = signature["kind"];
    EXPECT_EQ(row.launcher ? "Team ID " + row.launcher->teamId
                           : std::string("linker-signed"),
              kind);
    EXPECT_EQ(row.launcher && row.launcher->hardenedRuntime,
              signature["hardenedRuntime"]);
    EXPECT_EQ(row.launcher.has_value(), signature["cmsSignature"]);
    EXPECT_NE(npos, text.out.find("\n  signature (arm64): " + kind + "; "));
  }
}

}  // namespace
