#include "ReportWriter.h"

#include <nlohmann/json.hpp>

namespace bundlecheck {

namespace {

const char* yesNo(bool value) { return value ? "yes" : "no"; }

// Control characters in paths, keys and values are shown escaped, so that
// each item stays on its own line of the report and a CR can be seen.
std::string shown(const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  std::string result;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      result += "\\r";
    } else if (c == '\n') {
      result += "\\n";
    } else if (c == '\t') {
      result += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      result += "\\x";
      result += hex[byte >> 4];
      result += hex[byte & 15];
    } else {
      result += c;
    }
  }
  return result;
}

std::string where(const Finding& finding) {
  std::string text = finding.file;
  if (finding.line > 0) {
    text += ":" + std::to_string(finding.line);
  }
  return text.empty() ? text : text + ": ";
}

std::string outcome(const Report& report) {
  if (report.error) {
    return "the launcher would fail";
  }
  const size_t n = report.findings.size();
  if (n == 0) {
    return "the bundle would launch; no findings";
  }
  std::string except;
  const std::vector<std::string> macs = report.failingMacs();
  for (size_t i = 0; i != macs.size(); ++i) {
    except += (i == 0                 ? ", but not on "
               : i + 1 == macs.size() ? " or "
                                      : ", ") +
              macs[i];
  }
  return "the bundle would launch" + except + ", with " + std::to_string(n) +
         (n == 1 ? " finding" : " findings");
}

// Raised when a field of the JSON report is removed or changes its meaning;
// new fields leave it as it is.
const int jsonFormatVersion = 1;

std::string versionText(const std::optional<std::string>& version) {
  return !version           ? "unreadable"
         : version->empty() ? "none (no version marker)"
                            : shown(*version);
}

nlohmann::ordered_json optionalString(const std::optional<std::string>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json();
}

nlohmann::ordered_json orNull(const std::string& value) {
  return value.empty() ? nlohmann::ordered_json()
                       : nlohmann::ordered_json(value);
}

// One line for each architecture's signature: its kind, the hardened
// runtime, the entitlements that matter here and the state of each seal.
void writeSignatures(const std::vector<SignatureState>& list,
                     std::ostream& out) {
  for (const SignatureState& state : list) {
    out << "  signature (" << state.arch << "): " << shown(state.kind);
    if (!state.seals.empty()) {
      std::string granted, seals;
      for (const std::string& name : state.entitlements) {
        granted += (granted.empty() ? "" : ", ") + name;
      }
      for (const auto& seal : state.seals) {
        seals += (seals.empty() ? "" : ", ") + seal.first + " " + seal.second;
      }
      out << "; hardened runtime: " << yesNo(state.hardenedRuntime)
          << "; entitlements: " << (granted.empty() ? "none" : granted)
          << "; seals: " << shown(seals);
    }
    out << "\n";
  }
}

nlohmann::ordered_json signatures(const std::vector<SignatureState>& list) {
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  for (const SignatureState& state : list) {
    nlohmann::ordered_json seals = nlohmann::ordered_json::object();
    for (const auto& seal : state.seals) {
      seals[seal.first] = seal.second;
    }
    json.push_back(
        {{"architecture", state.arch},
         {"kind", state.kind},
         {"teamId", orNull(state.teamId)},
         {"hardenedRuntime", state.hardenedRuntime},
         {"cmsSignature", state.cmsSignature
                              ? nlohmann::ordered_json(*state.cmsSignature)
                              : nlohmann::ordered_json()},
         {"entitlements", state.entitlements},
         {"seals", seals}});
  }
  return json;
}

nlohmann::ordered_json architectures(const std::vector<Architecture>& list) {
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  for (const Architecture& arch : list) {
    json.push_back(
        {{"name", arch.name},
         {"signed", arch.isSigned ? nlohmann::ordered_json(*arch.isSigned)
                                  : nlohmann::ordered_json()}});
  }
  return json;
}

nlohmann::ordered_json paths(const std::vector<PathCheck>& checks) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const PathCheck& check : checks) {
    list.push_back({{"path", check.path}, {"exists", check.exists}});
  }
  return list;
}

}  // namespace

void writeText(const Report& report, std::ostream& out) {
  out << "Bundle: " << shown(report.bundle);
  if (!report.bundlePath.empty() && report.bundlePath != report.bundle) {
    out << " (" << shown(report.bundlePath) << ")";
  }
  out << "\n";
  if (!report.workingDirectory.empty()) {
    out << "Working directory: " << shown(report.workingDirectory) << "\n";
  }
  if (!report.launcherPath.empty()) {
    out << "Launcher: " << shown(report.launcherPath) << "\n"
        << "  present: " << yesNo(report.launcherExists)
        << ", regular file: " << yesNo(report.launcherIsRegularFile)
        << ", executable: " << yesNo(report.launcherIsExecutable) << "\n";
    if (!report.launcherLinkTarget.empty()) {
      out << "  symbolic link to: " << shown(report.launcherLinkTarget) << "\n";
    }
    if (!report.launcherFormat.empty()) {
      out << "  format: " << shown(report.launcherFormat) << "\n";
    }
    if (report.launcherIsRegularFile) {
      out << "  version: " << versionText(report.launcherVersion) << "\n";
    }
    writeSignatures(report.launcherSignatures, out);
    out << "Info.plist: " << shown(report.infoPlistPath) << " ("
        << report.infoPlistFormat << ")\n";
    if (report.errorAlert) {
      out << "  error alert: " << (*report.errorAlert ? "on" : "off") << "\n";
    }
  }
  if (!report.packageFilePath.empty()) {
    out << "Package file: " << shown(report.packageFilePath);
    if (!report.packageFileExists) {
      out << " (absent)";
    } else {
      out << "\n  package name: " << shown(report.packageName);
    }
    out << "\n";
  }
  if (!report.cfgFileUsed.empty() || !report.cfgCandidates.empty()) {
    out << "Configuration:\n";
    for (const PathCheck& candidate : report.cfgCandidates) {
      out << "  candidate: " << shown(candidate.path)
          << (candidate.exists ? " (found)" : " (absent)") << "\n";
    }
    if (!report.cfgFileUsed.empty()) {
      out << "  used: " << shown(report.cfgFileUsed) << "\n";
    }
  }
  out << "Findings: " << report.findings.size() << "\n";
  for (const Finding& finding : report.findings) {
    out << "  " << severityName(finding.severity()) << ": "
        << shown(where(finding)) << shown(finding.message) << " ["
        << codeName(finding.code) << "]\n";
  }
  if (!report.runtimeDir.empty() || !report.libCandidates.empty()) {
    out << "Runtime:\n  directory: " << shown(report.runtimeDir)
        << (report.runtimeDirConfigured ? " (app.runtime)" : " (default)")
        << "\n";
    for (const PathCheck& candidate : report.libCandidates) {
      out << "  candidate: " << shown(candidate.path)
          << (candidate.exists ? " (found)" : " (absent)") << "\n";
    }
    if (!report.libPath.empty()) {
      out << "  library: " << shown(report.libPath)
          << "\n  format: " << report.libFormat << "\n";
      writeSignatures(report.libSignatures, out);
    }
    // Whether it loads, for each architecture of the launcher.
    for (const ArchLoad& load : report.platform) {
      out << "  " << (load.arch.empty() ? "launcher" : shown(load.arch))
          << (load.macs.empty() ? "" : ", " + load.macs) << ": "
          << (load.code ? "fails [" + std::string(codeName(*load.code)) + "]"
                        : "loads")
          << "\n";
    }
    if (report.loadAttempted) {
      out << "  loaded, ZLI_Launch found: " << yesNo(report.loaded) << "\n";
    } else if (!report.notLoaded.empty()) {
      out << "  not loaded: " << shown(report.notLoaded) << "\n";
    }
  }
  // A failure to load the runtime comes after the vector is built; it is
  // shown then too.
  if (!report.arguments.empty()) {
    out << "Environment:\n";
    for (const auto& entry : report.environment) {
      out << "  " << shown(entry.first) << "=" << shown(entry.second) << "\n";
    }
    out << "Arguments:\n";
    for (size_t i = 0; i != report.arguments.size(); ++i) {
      out << "  [" << i << "] " << shown(report.arguments[i]) << "\n";
    }
  }
  if (report.error) {
    out << "Error: " << *report.error << "\n";
    if (report.errorCause) {
      out << (report.errorCutAtLoaderText
                  ? "  (the loader's own message follows; the cause: "
                  : "  (the cause: ")
          << shown(*report.errorCause) << ")\n";
    }
  }
  out << "Result: " << outcome(report) << "\n";
}

void writeJson(const Report& report, std::ostream& out) {
  nlohmann::ordered_json findings = nlohmann::ordered_json::array();
  for (const Finding& finding : report.findings) {
    findings.push_back(
        {{"code", codeName(finding.code)},
         {"severity", severityName(finding.severity())},
         {"file", orNull(finding.file)},
         {"line", finding.line > 0 ? nlohmann::ordered_json(finding.line)
                                   : nlohmann::ordered_json()},
         {"message", finding.message}});
  }
  nlohmann::ordered_json loads = nlohmann::ordered_json::array();
  for (const ArchLoad& load : report.platform) {
    loads.push_back(
        {{"architecture", orNull(load.arch)},
         {"macs", orNull(load.macs)},
         {"loads", !load.code},
         {"finding", load.code ? nlohmann::ordered_json(codeName(*load.code))
                               : nlohmann::ordered_json()}});
  }
  nlohmann::ordered_json environment = nlohmann::ordered_json::array();
  for (const auto& entry : report.environment) {
    environment.push_back({{"name", entry.first}, {"value", entry.second}});
  }
  const nlohmann::ordered_json json = {
      {"formatVersion", jsonFormatVersion},
      {"bundle", report.bundle},
      {"bundlePath", orNull(report.bundlePath)},
      {"workingDirectory", orNull(report.workingDirectory)},
      {"launcher",
       {{"path", orNull(report.launcherPath)},
        {"exists", report.launcherExists},
        {"regularFile", report.launcherIsRegularFile},
        {"executable", report.launcherIsExecutable},
        {"linkTarget", orNull(report.launcherLinkTarget)},
        {"format", orNull(report.launcherFormat)},
        {"architectures", architectures(report.launcherArchitectures)},
        {"signatures", signatures(report.launcherSignatures)},
        {"version", orNull(report.launcherVersion.value_or(""))}}},
      {"infoPlist",
       {{"path", orNull(report.infoPlistPath)},
        {"format", orNull(report.infoPlistFormat)},
        {"bundleExecutable", optionalString(report.bundleExecutable)},
        {"bundlePackageType", optionalString(report.bundlePackageType)},
        {"bundleIdentifier", optionalString(report.bundleIdentifier)},
        {"minimumSystemVersion", optionalString(report.minimumSystemVersion)},
        {"errorAlert", report.errorAlert
                           ? nlohmann::ordered_json(*report.errorAlert)
                           : nlohmann::ordered_json()}}},
      {"packageFile",
       {{"path", orNull(report.packageFilePath)},
        {"exists", report.packageFileExists},
        {"packageName", report.packageFileExists
                            ? nlohmann::ordered_json(report.packageName)
                            : nlohmann::ordered_json()}}},
      {"configuration",
       {{"candidates", paths(report.cfgCandidates)},
        {"used", orNull(report.cfgFileUsed)}}},
      {"findings", findings},
      {"runtime",
       {{"directory", orNull(report.runtimeDir)},
        {"configured", report.runtimeDirConfigured},
        {"candidates", paths(report.libCandidates)},
        {"library", orNull(report.libPath)},
        {"format", orNull(report.libFormat)},
        {"architectures", architectures(report.libArchitectures)},
        {"signatures", signatures(report.libSignatures)},
        {"loads", loads},
        {"loaded", report.loadAttempted ? nlohmann::ordered_json(report.loaded)
                                        : nlohmann::ordered_json()},
        {"notLoaded", orNull(report.notLoaded)}}},
      {"environment", environment},
      {"arguments", report.arguments},
      {"error", optionalString(report.error)},
      {"errorCause", optionalString(report.errorCause)},
      {"wouldLaunch", report.wouldLaunch()},
      {"exitStatus", report.exitStatus()}};
  // Paths and values are bytes; what is not UTF-8 is shown as U+FFFD.
  out << json.dump(2, ' ', false,
                   nlohmann::ordered_json::error_handler_t::replace)
      << "\n";
}

}  // namespace bundlecheck
