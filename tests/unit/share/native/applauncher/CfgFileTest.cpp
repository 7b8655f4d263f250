#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "helpers/TestSupport.h"

namespace {

typedef CfgFile::Id<CfgFile::SectionNameTag> SectionId;
typedef CfgFile::Id<CfgFile::PropertyNameTag> PropertyId;

const SectionId* const allSections[] = {
    &SectionName::Application, &SectionName::ZealOptions,
    &SectionName::PrewarmZealOptions,
    &SectionName::PrewarmGenerateCacheZealOptions, &SectionName::ArgOptions};

const PropertyId* const allProperties[] = {
    &PropertyName::version,    &PropertyName::mainzar,
    &PropertyName::mainmodule, &PropertyName::mainclass,
    &PropertyName::classpath,  &PropertyName::modulepath,
    &PropertyName::runtime,    &PropertyName::splash,
    &PropertyName::memory,     &PropertyName::arguments,
    &PropertyName::zealOptions};

std::string fixture(const std::string& name) {
  return testsupport::fixturePath("cfg/" + name);
}

std::string visible(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\r') {
      result += "\\r";
    } else {
      result += c;
    }
  }
  return result;
}

// Every recognised section and property the configuration holds, one line
// each: "<section>/<key>=[<value>][<value>]...", carriage returns shown as
// "\r". Lookups go through the same calls the launcher uses.
std::string dump(const CfgFile& cfg) {
  std::string result;
  for (const SectionId* section : allSections) {
    const CfgFile::Properties& properties = cfg.getProperties(*section);
    for (const PropertyId* property : allProperties) {
      const CfgFile::Properties::const_iterator it = properties.find(*property);
      if (it == properties.end()) {
        continue;
      }
      result += section->name() + "/" + property->name() + "=";
      for (const std::string& value : it->second) {
        result += "[" + visible(value) + "]";
      }
      result += "\n";
    }
  }
  return result;
}

std::string loadError(const std::string& path) {
  try {
    CfgFile::load(path);
  } catch (const QuernErrorBase& e) {
    return e.rawMessage();
  }
  return "(no error)";
}

TEST(CfgFileLoad, ReadsSectionsAndPropertiesLineByLine) {
  const struct {
    const char* file;
    const char* expected;
  } cases[] = {
      {"empty.cfg", ""},
      {"comments-only.cfg", ""},
      // '[Application] ; x' opens Application; ' [Application]' is a
      // property line, so ZealOptions stays open; the last "]" ends the
      // name, and names are neither trimmed nor folded.
      {"headers.cfg",
       "Application/app.mainzar=[a.zar]\n"
       "ZealOptions/zeal-options=[-Xa]\n"},
      // Split at the first "=" without a backslash in front; nothing is
      // trimmed or unescaped; a line without "=" is a key with an empty
      // value; the empty key and indented keys are not recognised.
      {"properties.cfg",
       "Application/app.version=[]\n"
       "Application/app.mainclass=[a\\=b]\n"
       "Application/app.classpath=[a=b]\n"
       "Application/app.modulepath=[]\n"
       "Application/app.splash=[  s p ; \"q\" \\ ]\n"
       "ArgOptions/arguments=[][--flag=on]\n"},
      // The carriage return stays in values and makes a line that holds
      // only it a property line; behind a header's "]" it does no harm.
      {"crlf.cfg",
       "Application/app.mainzar=[a.zar\\r]\n"
       "ZealOptions/zeal-options=[-Xa\\r]\n"},
      {"before-first-header.cfg", "Application/app.classpath=[lib]\n"},
      // A section that occurs again replaces what it had...
      {"section-twice.cfg",
       "Application/app.classpath=[lib]\n"
       "ZealOptions/zeal-options=[-Xa]\n"},
      // ...unless the second occurrence collects nothing recognised.
      {"section-twice-empty.cfg",
       "Application/app.mainzar=[a.zar]\n"
       "ZealOptions/zeal-options=[-Xa]\n"},
      {"repeated-key.cfg",
       "Application/app.mainzar=[first.zar][last.zar]\n"
       "ZealOptions/zeal-options=[-Xa][-Xb][-Xa]\n"},
      {"no-final-newline.cfg", "ArgOptions/arguments=[a][last]\n"},
      {"every-key.cfg",
       "Application/app.version=[A:app.version]\n"
       "Application/app.mainzar=[A:app.mainzar]\n"
       "Application/app.mainmodule=[A:app.mainmodule]\n"
       "Application/app.mainclass=[A:app.mainclass]\n"
       "Application/app.classpath=[A:app.classpath]\n"
       "Application/app.modulepath=[A:app.modulepath]\n"
       "Application/app.runtime=[A:app.runtime]\n"
       "Application/app.splash=[A:app.splash]\n"
       "Application/app.memory=[A:app.memory]\n"
       "Application/arguments=[A:arguments]\n"
       "Application/zeal-options=[A:zeal-options]\n"
       "ZealOptions/arguments=[ZealOptions:2]\n"
       "ZealOptions/zeal-options=[ZealOptions:1]\n"
       "PrewarmZealOptions/arguments=[PrewarmZealOptions:2]\n"
       "PrewarmZealOptions/zeal-options=[PrewarmZealOptions:1]\n"
       "PrewarmGenerateCacheZealOptions/arguments="
       "[PrewarmGenerateCacheZealOptions:2]\n"
       "PrewarmGenerateCacheZealOptions/zeal-options="
       "[PrewarmGenerateCacheZealOptions:1]\n"
       "ArgOptions/arguments=[ArgOptions:2]\n"
       "ArgOptions/zeal-options=[ArgOptions:1]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(c.expected, dump(CfgFile::load(fixture(c.file))));
  }
}

TEST(CfgFileLoad, FailuresCarryTheExactMessage) {
  const testsupport::TempDir scratch;
  const std::string missing = scratch.path() + "/missing.cfg";
  const struct {
    std::string path;
    std::string expected;
  } cases[] = {
      {missing,
       "Error opening \"" + missing + "\" file: " + std::strerror(ENOENT)},
      // The line number counts the comment and the blank line too.
      {fixture("missing-bracket.cfg"),
       "Error parsing [" + fixture("missing-bracket.cfg") +
           "] file at 5: Missing ']' character"},
      // A carriage return is not a closing bracket.
      {fixture("missing-bracket-crlf.cfg"),
       "Error parsing [" + fixture("missing-bracket-crlf.cfg") +
           "] file at 3: Missing ']' character"},
      // A directory opens but cannot be read.
      {scratch.path(), "Failed to read \"" + scratch.path() +
                           "\" file up to the end: " + std::strerror(EISDIR)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.expected, loadError(c.path));
  }

  try {
    CfgFile::load(fixture("missing-bracket.cfg"));
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    const std::string what = e.what();
    EXPECT_EQ(0u, what.find("CfgFile.cpp(")) << what;
    EXPECT_NE(std::string::npos, what.find(") at load(): Error parsing ["))
        << what;
  }
}

// Tells each replacement as "<line>:<section>:<discarded lines>".
class ReplacementRecorder : public CfgFile::LoadListener {
 public:
  void sectionHeader(int, const std::string&, bool) override {}
  void property(int, const std::string&, const std::string&, const std::string&,
                PropertyOutcome) override {}
  void sectionReplaced(int lineno, const std::string& section,
                       const std::vector<int>& discarded) override {
    std::string lines;
    for (const int line : discarded) {
      lines += (lines.empty() ? "" : ",") + std::to_string(line);
    }
    told.push_back(std::to_string(lineno) + ":" + section + ":" + lines);
  }
  std::vector<std::string> told;
};

TEST(CfgFileLoad, ListenerLearnsTheLinesARepeatedSectionDiscards) {
  ReplacementRecorder recorder;
  const CfgFile cfg =
      CfgFile::load(fixture("sections-replaced.cfg"), &recorder);
  // The occurrence at line 7 records nothing and replaces nothing; the one
  // at line 10 discards the first one's recorded lines, not its unknown key.
  EXPECT_EQ((std::vector<std::string>{"12:Application:2,4", "14:ZealOptions:6",
                                      "16:Application:11"}),
            recorder.told);
  EXPECT_EQ("M", CfgFile::asString(
                     *cfg.getProperties(SectionName::Application).begin()));
}

TEST(CfgFileModel, ReadsValuesAndReplacesThemByProperty) {
  const struct {
    StringList values;
    const char* last;
    const char* pathList;
  } cases[] = {
      {{"a", "b"}, "b", "a:b"},
      {{"x"}, "x", "x"},
      {{"", "y"}, "y", ":y"},
      {{"a:b", "", "c"}, "c", "a:b::c"},
      {{}, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pathList);
    const CfgFile::Properties::value_type entry(PropertyName::classpath,
                                                c.values);
    EXPECT_EQ(c.last, CfgFile::asString(entry));
    EXPECT_EQ(c.pathList, CfgFile::asPathList(entry));
  }

  CfgFile cfg = CfgFile::load(fixture("section-twice-empty.cfg"));
  EXPECT_TRUE(cfg.getProperties(SectionName::ArgOptions).empty());

  CfgFile& self =
      cfg.setPropertyValue(SectionName::ArgOptions, PropertyName::arguments,
                           StringList{"one", "two"});
  EXPECT_EQ(&cfg, &self);
  cfg.setPropertyValue(SectionName::Application, PropertyName::mainzar,
                       StringList{"b.zar"})
      .setPropertyValue(SectionName::Application, PropertyName::splash,
                        StringList{"s.png"});
  EXPECT_EQ(
      "Application/app.mainzar=[b.zar]\n"
      "Application/app.splash=[s.png]\n"
      "ZealOptions/zeal-options=[-Xa]\n"
      "ArgOptions/arguments=[one][two]\n",
      dump(cfg));

  // Identity is the name's text, not where it is stored.
  const std::string name = "ArgOptions";
  const SectionId copy(name.c_str());
  EXPECT_TRUE(copy == SectionName::ArgOptions);
  EXPECT_FALSE(copy < SectionName::ArgOptions);
  EXPECT_FALSE(SectionName::ArgOptions < copy);
  EXPECT_EQ(1u, cfg.getProperties(copy).size());
  EXPECT_TRUE(SectionName::Application < SectionName::ArgOptions);
}

CfgFile oneValue(const std::string& value) {
  CfgFile cfg;
  cfg.setPropertyValue(SectionName::Application, PropertyName::classpath,
                       StringList{value});
  return cfg;
}

std::string expandOne(const std::string& value, const CfgFile::Macros& macros) {
  const CfgFile expanded = oneValue(value).expandMacros(macros);
  return expanded.getProperties(SectionName::Application)
      .find(PropertyName::classpath)
      ->second.at(0);
}

CfgFile::Macros launcherMacros(const std::string& root) {
  CfgFile::Macros macros;
  macros["$APPDIR"] = root + "/Contents/app";
  macros["$BINDIR"] = root + "/Contents/MacOS";
  macros["$ROOTDIR"] = root;
  return macros;
}

TEST(CfgFileExpandMacros, ReplacesKeysUntilAPassChangesNothing) {
  const CfgFile::Macros appDir = {{"$APPDIR", "/p/app"}};
  const struct {
    CfgFile::Macros macros;
    const char* value;
    const char* expected;
  } cases[] = {
      {appDir, "$APPDIR/lib/a.zar", "/p/app/lib/a.zar"},
      {appDir, "$APPDIR:$APPDIR", "/p/app:/p/app"},
      {appDir, "$APPDIRX", "/p/appX"},
      {appDir, "$HOME/x", "$HOME/x"},
      {appDir, "$APPDI", "$APPDI"},
      {appDir, "", ""},
      {{{"$A", "$B"}, {"$B", "x"}}, "$A", "x"},
      {{{"$A", "x"}, {"$B", "$A"}}, "$B", "x"},
      {{{"$A", "x"}, {"$B", "$A"}, {"$C", "$B"}}, "$C$C", "xx"},
      // Nested macros whose text grows beyond (n + 1) (m + 1) bytes, n the
      // value's length and m the longest macro value's, on the way or in
      // the end.
      {{{"$A", "$B$B$B$B"}, {"$B", "$C$C$C$C"}, {"$C", "x"}},
       "$A",
       "xxxxxxxxxxxxxxxx"},
      {{{"$A", "$B$B"}, {"$B", "$C$C"}, {"$C", "$D$D"}, {"$D", "xx"}},
       "$A",
       "xxxxxxxxxxxxxxxx"},
      {{{"", "zzz"}, {"$A", "x"}}, "$A", "x"},
      // Values that hold their own key and still settle: a later macro of
      // the same pass takes the key apart, or shortens the text again.
      {{{"$A", "$B$A"}, {"$B$A", "$B$B"}}, "$A", "$B$B"},
      {{{"$A", "$A$B"}, {"$B", ""}}, "x$A", "x$A"},
      // A macro value that names another macro.
      {{{"$APPDIR", "/r/Contents/app"},
        {"$BINDIR", "$APPDIR/../MacOS"},
        {"$ROOTDIR", "/r"}},
       "$BINDIR/x:$ROOTDIR",
       "/r/Contents/app/../MacOS/x:/r"},
      // A key made of the end of an inserted value and the text after it.
      {launcherMacros("/v/$APP"), "$ROOTDIRDIR/x", "/v//v/$APP/Contents/app/x"},
      {launcherMacros("/Applications/Demo.app"),
       "$ROOTDIR/Contents/runtime:$BINDIR:$APPDIR/lib",
       "/Applications/Demo.app/Contents/runtime:"
       "/Applications/Demo.app/Contents/MacOS:"
       "/Applications/Demo.app/Contents/app/lib"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(c.expected, expandOne(c.value, c.macros));
  }
}

TEST(CfgFileExpandMacros, LeavesTheOriginalAndTheLayoutUnchanged) {
  const CfgFile loaded = CfgFile::load(fixture("repeated-key.cfg"));
  const std::string before = dump(loaded);

  EXPECT_EQ(before, dump(loaded.expandMacros(CfgFile::Macros())));

  CfgFile::Macros macros = {{"-X", "-Y$A"}, {".zar", ".pkg"}, {"$A", "b"}};
  EXPECT_EQ(
      "Application/app.mainzar=[first.pkg][last.pkg]\n"
      "ZealOptions/zeal-options=[-Yba][-Ybb][-Yba]\n",
      dump(loaded.expandMacros(macros)));
  EXPECT_EQ(before, dump(loaded));

  macros["$A"] = "$A-";
  EXPECT_THROW(loaded.expandMacros(macros), QuernErrorBase);
  EXPECT_EQ(before, dump(loaded));
}

// The expansion by its rules alone, with no guard: at most `maxPasses`
// passes and `maxLength` bytes. False when the value has not settled by
// then.
bool expandByTheRules(std::string& value, const CfgFile::Macros& macros,
                      int maxPasses, std::string::size_type maxLength) {
  for (int pass = 0; pass < maxPasses; ++pass) {
    std::string candidate = value;
    for (const auto& macro : macros) {
      candidate = tstrings::replace(candidate, macro.first, macro.second);
      if (candidate.size() > maxLength) {
        return false;
      }
    }
    if (candidate == value) {
      return true;
    }
    value = candidate;
  }
  return false;
}

std::string pick(std::mt19937& random, const std::vector<std::string>& from,
                 int most) {
  std::string result;
  const int count = std::uniform_int_distribution<int>(0, most)(random);
  for (int i = 0; i < count; ++i) {
    result +=
        from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
  }
  return result;
}

// With the launcher's three macros, whose values are absolute paths, every
// value that settles is accepted and gives what the rules give; every value
// that is refused never settles. Image roots and values are made from
// pieces of the keys, so that keys form across replacements.
TEST(CfgFileExpandMacros, LauncherMacrosRefuseExactlyTheValuesThatNeverSettle) {
  const std::vector<std::string> rootPieces = {
      "/",   "x", "$",       "$APP",    "$ROOTDI",
      "DIR", "R", "$APPDIR", "$BINDIR", "$ROOTDIR"};
  const std::vector<std::string> valuePieces = {
      "$APPDIR", "$BINDIR", "$ROOTDIR", "$APP", "$ROOT", "DIR",
      "OTDIR",   "R",       "$",        "/x",   ":"};
  std::mt19937 random(20261208);
  int settled = 0;
  int refused = 0;
  for (int i = 0; i < 4000; ++i) {
    // Most roots hold no key; some do, and then nothing with a key settles.
    std::string root = "/" + pick(random, rootPieces, 3);
    const CfgFile::Macros macros = launcherMacros(root);
    const std::string value = pick(random, valuePieces, 8);
    SCOPED_TRACE("root " + root + ", value " + value);

    std::string expected = value;
    const bool settles = expandByTheRules(expected, macros, 100, 8192);
    try {
      const std::string actual = expandOne(value, macros);
      ASSERT_TRUE(settles) << "accepted " << actual;
      ASSERT_EQ(expected, actual);
      ++settled;
    } catch (const QuernErrorBase& e) {
      ASSERT_FALSE(settles) << e.rawMessage();
      ++refused;
    }
  }
  // Both sides were exercised.
  EXPECT_GT(settled, 1000);
  EXPECT_GT(refused, 100);
}

// Any macro table: what is accepted is what the rules give.
TEST(CfgFileExpandMacros, AnyMacroTableGivesWhatTheRulesGive) {
  const std::vector<std::string> pieces = {"$", "A", "B", "/", "$A", "$B"};
  std::mt19937 random(7);
  int settled = 0;
  for (int i = 0; i < 4000; ++i) {
    CfgFile::Macros macros;
    const int count = std::uniform_int_distribution<int>(1, 3)(random);
    for (int k = 0; k < count; ++k) {
      std::string key = pick(random, pieces, 2);
      if (key.empty()) {
        key = "$";
      }
      macros[key] = pick(random, pieces, 3);
    }
    const std::string value = pick(random, pieces, 6);
    std::string expected = value;
    const bool settles = expandByTheRules(expected, macros, 100, 4096);
    try {
      const std::string actual = expandOne(value, macros);
      SCOPED_TRACE("value " + value);
      ASSERT_TRUE(settles) << "accepted " << actual;
      ASSERT_EQ(expected, actual);
      ++settled;
    } catch (const QuernErrorBase&) {
    }
  }
  EXPECT_GT(settled, 2000);
}

TEST(CfgFileExpandMacros, AcceptsLargeAndSlowlySettlingValues) {
  // Tens of megabytes of paths, in one pass that changes them and one that
  // finds nothing left, each macro building one text.
  const std::string root = "/Applications/Sample.app";
  std::string value;
  std::string expected;
  while (expected.size() < 30u << 20) {
    value += "$APPDIR/lib/a.zar:$ROOTDIR/b:$BINDIR:";
    expected += root + "/Contents/app/lib/a.zar:" + root + "/b:" + root +
                "/Contents/MacOS:";
  }
  CfgFile::ExpansionWork work;
  const CfgFile expanded =
      oneValue(value).expandMacros(launcherMacros(root), &work);
  EXPECT_TRUE(expected == expanded.getProperties(SectionName::Application)
                              .find(PropertyName::classpath)
                              ->second.at(0));
  EXPECT_EQ(2u, work.passes);
  EXPECT_LE(work.bytesBuilt, 3 * expected.size());

  // An image root that ends in the beginning of a key: every pass makes
  // the key once more from the root's end and the next "R", so the value
  // needs one pass per "R", and each "R" brings in a whole root.
  const std::string share = "/Volumes/" + std::string(120, 'v') + "/Share";
  const int count = 1100;
  std::string chain = "$ROOTDIR" + std::string(count, 'R');
  std::string settled;
  for (int i = 0; i <= count; ++i) {
    settled += share;
  }
  settled += "$ROOTDI";
  EXPECT_TRUE(settled == expandOne(chain, launcherMacros(share + "$ROOTDI")));
}

// A table with a macro value that holds a key, or starts with a byte that a
// key holds, gets two limits: 64 changing passes more than it has macros,
// and 64 n bytes + 64 KiB built for a value of n bytes.
TEST(CfgFileExpandMacros, OtherTablesSettleWithinTheirLimits) {
  // "$A" moves one place to the right with each pass.
  const CfgFile::Macros moving = {{"$Ax", "x$A"}};
  // "$A" brings in 128 "$B": one pass builds 256 + 128 * length bytes for
  // "$B" of that length.
  std::string manyB;
  for (int i = 0; i < 128; ++i) {
    manyB += "$B";
  }
  const struct {
    const char* what;
    CfgFile::Macros macros;
    std::string value;
    std::string expected;
  } cases[] = {
      {"65 changing passes", moving, "$A" + std::string(65, 'x'),
       std::string(65, 'x') + "$A"},
      {"66 changing passes", moving, "$A" + std::string(66, 'x'), ""},
      {"64 KiB + 128 bytes built",
       {{"$A", manyB}, {"$B", std::string(511, 'A')}},
       "$A",
       std::string(128 * 511, 'A')},
      {"64 KiB + 256 bytes built",
       {{"$A", manyB}, {"$B", std::string(512, 'A')}},
       "$A",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string actual = "(refused)";
    try {
      actual = expandOne(c.value, c.macros);
    } catch (const QuernErrorBase&) {
    }
    const std::string expected = c.expected.empty() ? "(refused)" : c.expected;
    EXPECT_TRUE(expected == actual) << actual.substr(0, 80);
  }
}

TEST(CfgFileExpandMacros, StopsValuesThatNeverSettleWithinBoundedWork) {
  const std::string filler(4000, 'x');
  // A long image root, as long as paths go, that holds "$APPDIR".
  const std::string longRoot =
      "/Volumes/" + std::string(900, 'd') + "/$APPDIR/build";
  std::string tenTimes = "/Users/u";
  for (int i = 0; i < 10; ++i) {
    tenTimes += "/$APPDIR";
  }
  CfgFile::Macros manyTimes = launcherMacros("/r");
  manyTimes["$APPDIR"] = "/a/$APPDIR:$APPDIR:$APPDIR";
  std::string manyA;
  for (int i = 0; i < 2000; ++i) {
    manyA += "$A";
  }
  const struct {
    const char* what;
    CfgFile::Macros macros;
    std::string value;
  } cases[] = {
      {"application directory holding its key", launcherMacros(longRoot),
       "$APPDIR/lib:" + filler},
      {"image root holding a key", launcherMacros("/$BINDIR"),
       filler + "$ROOTDIR"},
      {"folder names holding \"$APPDIR\" ten times",
       launcherMacros(tenTimes + "/Demo.app"), "$BINDIR"},
      {"macro value holding its key several times", manyTimes,
       filler + "$APPDIR"},
      {"two macros naming each other",
       {{"$A", "x$B"}, {"$B", "y$A"}},
       filler + "$A"},
      {"macro growing by thousands of bytes a pass",
       {{"$A", "$A" + filler}},
       filler + "$A"},
      {"cycle of constant length",
       {{"$A", "$C"}, {"$B", "$A"}, {"$C", "$B"}},
       filler + "$A"},
      {"growth next to a shrinking macro",
       {{"$A", "$A" + std::string(200, 'y')}, {"$B", ""}},
       "$A" + filler},
      {"doubling next to a shrinking macro",
       {{"$A", "$A$A"}, {"$B", ""}},
       "$A" + filler},
      {"thousands of keys, each put back thousands of times",
       {{"$A", manyA}},
       manyA},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CfgFile cfg = oneValue("lib/plain.zar");
    cfg.setPropertyValue(SectionName::ZealOptions, PropertyName::zealOptions,
                         StringList{"-Xplain", c.value});
    const std::string before = dump(cfg);
    CfgFile::ExpansionWork work;
    std::string message = "(no error)";
    try {
      cfg.expandMacros(c.macros, &work);
    } catch (const QuernErrorBase& e) {
      message = e.rawMessage();
    }
    EXPECT_EQ(
        "Macro expansion of \"zeal-options\" in section \"ZealOptions\" does "
        "not settle",
        message);
    EXPECT_EQ(before, dump(cfg));
    // The work stays within the limits, which bound the time: one pass for
    // each of the two plain values, at most 65 more than there are macros
    // for the refused one (the last of them refused).
    EXPECT_LE(work.passes, 2 + c.macros.size() + 65);
    EXPECT_LE(work.bytesBuilt, 64 * c.value.size() + (64 << 10));
  }
}

}  // namespace
