// Every kind of finding the bundle check reports, in one table: the code
// that reports and scripts name it by, its severity and what it means in
// one line. The report writer, the JSON and the table of
// docs/checking-a-bundle.md (`applauncher-check --finding-table`) read it
// from here.
//
// A new kind of finding is one row of BUNDLECHECK_FINDING_CODES; keep rows
// of one subject together. Codes are never reused for another meaning:
// scripts compare them.

#ifndef BUNDLECHECK_FINDINGCODES_H
#define BUNDLECHECK_FINDINGCODES_H

#include <ostream>

namespace bundlecheck {

// How much a finding matters: an error stops the start on some or all
// Macs; with a warning the bundle starts, but most likely not as its
// packager meant; a note is only worth knowing.
enum class Severity { Error, Warning, Note };

// ROW(enumerator, code, severity, meaning); the meaning is Markdown.
#define BUNDLECHECK_FINDING_CODES(ROW)                                         \
  /* Info.plist */                                                             \
  ROW(PlistMissing, "plist-missing", Warning,                                  \
      "the bundle has no `Contents/Info.plist`")                               \
  ROW(PlistNotRead, "plist-not-read", Warning,                                 \
      "`Info.plist` is not a regular file, is larger than 1 MiB or cannot be " \
      "read, so its keys are not checked")                                     \
  ROW(PlistUnreadable, "plist-unreadable", Error,                              \
      "no form of property list reads `Info.plist` (the reason and, for "      \
      "XML, the line are named): the Mac ignores the whole file")              \
  ROW(PlistNotChecked, "plist-not-checked", Warning,                           \
      "`Info.plist` looks like an old-style text property list that the "      \
      "check cannot read, where the Mac may: its keys are not checked")        \
  ROW(PlistNoExecutable, "plist-no-executable", Warning,                       \
      "`CFBundleExecutable` is missing; the Mac starts the file named after "  \
      "the bundle, which its user may rename")                                 \
  ROW(PlistExecutable, "plist-executable", Error,                              \
      "`CFBundleExecutable` names no file of `Contents/MacOS`: the Mac "       \
      "starts nothing")                                                        \
  ROW(PlistPackageType, "plist-package-type", Warning,                         \
      "`CFBundlePackageType` is missing or not `APPL`")                        \
  ROW(PlistIdentifier, "plist-identifier", Warning,                            \
      "`CFBundleIdentifier` is missing: the signing identity, privacy "        \
      "permissions and per-user data are keyed on it")                         \
  ROW(PlistMinimumSystem, "plist-minimum-system", Warning,                     \
      "`LSMinimumSystemVersion` is missing or below 11.0: an older Mac fails " \
      "inside the loader instead of refusing the app cleanly")                 \
  ROW(PlistEnvironment, "plist-environment", Warning,                          \
      "`LSEnvironment` is no dictionary: the system sets none of its "         \
      "variables")                                                             \
  ROW(PlistErrorAlert, "plist-error-alert", Warning,                           \
      "`LSEnvironment` sets `QUERN_ERROR_ALERT` to something other than the "  \
      "string `true`, which leaves the error alert off, or sets a name one "   \
      "slip away from it")                                                     \
  /* The package file and the per-user configuration */                        \
  ROW(PackageCr, "package-cr", Warning,                                        \
      "`.package` was saved with CR-LF line ends; the per-user "               \
      "configuration is then never found")                                     \
  ROW(PackageBlanks, "package-blanks", Warning,                                \
      "the package name in `.package` has blanks around it; the per-user "     \
      "configuration is then never found")                                     \
  ROW(CfgPerUser, "cfg-per-user", Note,                                        \
      "a per-user copy of the configuration is read instead of the bundle's "  \
      "(only without `--no-home`)")                                            \
  ROW(CfgOtherName, "cfg-other-name", Error,                                   \
      "there is no configuration named after the launcher, but one named "     \
      "otherwise beside it, most likely after another launcher")               \
  /* Sections and keys of the configuration */                                 \
  ROW(BeforeSection, "before-section", Warning,                                \
      "a property line before the first section header; the launcher "         \
      "ignores it")                                                            \
  ROW(UnknownKey, "unknown-key", Warning,                                      \
      "a key in a recognised section that is none of the launcher's keys; "    \
      "the key it most likely means is named")                                 \
  ROW(KeyBlanks, "key-blanks", Warning,                                        \
      "a key with leading blanks, which makes it unknown")                     \
  ROW(HeaderBlanks, "header-blanks", Warning,                                  \
      "`[ Name ]` with blanks inside the brackets (an unknown section), or "   \
      "an indented header, which is a property line and opens no section")     \
  ROW(UnknownSection, "unknown-section", Warning,                              \
      "a section the launcher does not know; all its lines are ignored")       \
  ROW(SectionRepeated, "section-repeated", Warning,                            \
      "a recognised section appears again; names the first header")            \
  ROW(SectionReplaced, "section-replaced", Warning,                            \
      "the later occurrence of a section holds a known key and replaces the "  \
      "earlier one entirely; names the discarded lines")                       \
  /* Values */                                                                 \
  ROW(CrLineEnds, "cr-line-ends", Warning,                                     \
      "lines end with a carriage return (CR-LF line ends), which becomes "     \
      "part "                                                                  \
      "of their values: save the file with line feeds only")                   \
  ROW(ValueBlank, "value-blank", Warning,                                      \
      "a value ends with a blank or tab, which is part of it")                 \
  ROW(NotAMacro, "not-a-macro", Warning,                                       \
      "a `$` word that is no macro; the launcher expands nothing else, "       \
      "environment variables included")                                        \
  /* The configuration after expansion */                                      \
  ROW(NoMain, "no-main", Error,                                                \
      "none of `app.mainclass`, `app.mainmodule`, `app.mainzar`: the runtime " \
      "gets nothing to run")                                                   \
  ROW(KeyRepeated, "key-repeated", Warning,                                    \
      "`app.mainclass`, `app.mainmodule`, `app.mainzar`, `app.runtime` or "    \
      "`app.splash` given more than once; only the last counts")               \
  ROW(PathMissing, "path-missing", Warning,                                    \
      "an entry of `app.classpath` or `app.modulepath` that is no existing "   \
      "file or directory")                                                     \
  ROW(SplashMissing, "splash-missing", Warning,                                \
      "the splash file does not exist, so the launcher leaves `-splash:` out") \
  ROW(PathRelative, "path-relative", Warning,                                  \
      "a relative `app.runtime`, class-path, module-path or splash entry: it " \
      "depends on the working directory, `/` from the Finder")                 \
  ROW(MoreFindings, "more-findings", Note,                                     \
      "a configuration repeats one mistake more than 100 times; the rest of "  \
      "that code is not listed")                                               \
  /* The runtime library and the launcher's architectures */                   \
  ROW(RuntimeNotLibrary, "runtime-not-library", Error,                         \
      "the runtime is no shared library at all, or its slice for the "         \
      "architecture is no dynamic library")                                    \
  ROW(RuntimeWrongMachine, "runtime-wrong-machine", Error,                     \
      "a library for another system or machine, or without a slice for one "   \
      "of the launcher's architectures")                                       \
  ROW(RuntimeArm64e, "runtime-arm64e", Error,                                  \
      "an `arm64e` slice only, which an `arm64` launcher cannot load")         \
  ROW(RuntimeUnsigned, "runtime-unsigned", Error,                              \
      "the library's `arm64` slice carries no code signature")                 \
  ROW(RuntimeMalformed, "runtime-malformed", Error,                            \
      "a library header the loader refuses: slices that overlap or repeat, "   \
      "a slice or table past the end, load commands that do not fit")          \
  ROW(LauncherUnsigned, "launcher-unsigned", Error,                            \
      "the launcher's `arm64` slice carries no code signature, so it does "    \
      "not start on Macs with Apple silicon")                                  \
  ROW(LauncherMalformed, "launcher-malformed", Error,                          \
      "the launcher's header or slice is one the Mac does not start")          \
  ROW(LauncherLink, "launcher-link", Warning,                                  \
      "the launcher is a symbolic link into another bundle, so it reads that " \
      "bundle's package file, configuration and runtime")                      \
  /* Code signing */                                                           \
  ROW(LauncherModified, "launcher-modified", Error,                            \
      "the launcher's code no longer matches its signature, or the "           \
      "signature cannot be read: the kernel kills it on Macs with Apple "      \
      "silicon, and on Intel Macs too when it has the hardened runtime")       \
  ROW(RuntimeModified, "runtime-modified", Error,                              \
      "the runtime library's code no longer matches its signature, or the "    \
      "signature cannot be read: the loader refuses it")                       \
  ROW(RuntimeLibraryValidation, "runtime-library-validation", Error,           \
      "the launcher has the hardened runtime without "                         \
      "`com.apple.security.cs.disable-library-validation`, and the runtime "   \
      "is not signed with the launcher's Team ID: the loader refuses it")      \
  ROW(LauncherNoJit, "launcher-no-jit", Warning,                               \
      "a hardened launcher with neither `com.apple.security.cs.allow-jit` "    \
      "nor `com.apple.security.cs.allow-unsigned-executable-memory`: the "     \
      "virtual machine's compiler dies at its first compilation")              \
  ROW(LibraryValidationOff, "library-validation-off", Note,                    \
      "`com.apple.security.cs.disable-library-validation` also lets a "        \
      "per-user `app.runtime` load a foreign library into the signed "         \
      "application")                                                           \
  ROW(LauncherNoTeamId, "launcher-no-team-id", Note,                           \
      "the launcher is ad hoc or not signed: a downloaded copy is blocked "    \
      "unless it is signed with a Developer ID and notarized")                 \
  ROW(SealInfoPlist, "seal-info-plist", Error,                                 \
      "`Info.plist` changed or went missing after the launcher sealed it: a "  \
      "downloaded copy is reported as damaged")                                \
  ROW(SealResources, "seal-resources", Error,                                  \
      "`_CodeSignature/CodeResources` changed, went missing or cannot be "     \
      "read after the launcher sealed it: a downloaded copy is reported as "   \
      "damaged")                                                               \
  ROW(SealFile, "seal-file", Error,                                            \
      "a file under `Contents` changed or went missing after the bundle was "  \
      "sealed, or was added and is not sealed: a downloaded copy is "          \
      "reported as damaged")                                                   \
  ROW(UnsignedCode, "unsigned-code", Warning,                                  \
      "a Mach-O file under `Contents` with a slice that is not signed: "       \
      "notarization rejects the bundle")                                       \
  ROW(CodeWalkCapped, "code-walk-capped", Warning,                             \
      "`Contents` holds more files than the check walks (20000); the rest "    \
      "were not checked for signatures and seals")

enum class Code {
#define BUNDLECHECK_ENUMERATOR(id, code, severity, meaning) id,
  BUNDLECHECK_FINDING_CODES(BUNDLECHECK_ENUMERATOR)
#undef BUNDLECHECK_ENUMERATOR
};

const char* codeName(Code code);
Severity severityOf(Code code);
const char* meaningOf(Code code);
const char* severityName(Severity severity);

// The whole table as Markdown: code, severity, meaning, one row each.
void writeFindingTable(std::ostream& out);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_FINDINGCODES_H
