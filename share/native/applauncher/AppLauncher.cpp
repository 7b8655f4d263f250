#include "AppLauncher.h"

#include <memory>
#include <utility>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "SysInfo.h"
#include "ZvmLauncher.h"

namespace {

std::string findZvmLib(const CfgFile& cfgFile,
                       const std::string& defaultRuntimePath,
                       const StringList& zvmLibNames,
                       AppLauncher::Listener* listener) {
  const CfgFile::Properties& appOptions =
      cfgFile.getProperties(SectionName::Application);
  const CfgFile::Properties::const_iterator runtime =
      appOptions.find(PropertyName::runtime);

  std::string runtimePath;
  if (runtime != appOptions.end()) {
    runtimePath = CfgFile::asString(*runtime);
  } else {
    runtimePath = defaultRuntimePath;
    LOG_TRACE("Property \"" << PropertyName::runtime.name()
                            << "\" not found in \""
                            << SectionName::Application.name()
                            << "\" section of launcher config file."
                            << " Using Zeal runtime from \"" << runtimePath
                            << "\" directory");
  }
  if (listener) {
    listener->runtimeDir(runtimePath, runtime != appOptions.end());
  }

  for (const std::string& libName : zvmLibNames) {
    const std::string candidate = FileUtils::combinePath(runtimePath, libName);
    const bool exists = FileUtils::isFileExists(candidate);
    if (listener) {
      listener->zvmLibCandidate(candidate, exists);
    }
    if (exists) {
      return candidate;
    }
  }

  QUERN_THROW("Failed to find ZVM in \"" << runtimePath << "\" directory.");
}

}  // namespace

AppLauncher::AppLauncher()
    : AppLauncher(SysInfo::getProcessModulePath(),
                  SysInfo::getCommandArgs(SysInfo::WithoutProgramName)) {}

AppLauncher::AppLauncher(const std::string& launcherPath,
                         const StringList& args)
    : args(args), launcherPath(launcherPath) {}

AppLauncher& AppLauncher::setDefaultRuntimePath(const std::string& v) {
  defaultRuntimePath = v;
  return *this;
}

AppLauncher& AppLauncher::setAppDir(const std::string& v) {
  appDirPath = v;
  return *this;
}

AppLauncher& AppLauncher::setLibEnvVariableName(const std::string& v) {
  libEnvVariableName = v;
  return *this;
}

AppLauncher& AppLauncher::setImageRoot(const std::string& v) {
  imageRoot = v;
  return *this;
}

AppLauncher& AppLauncher::addZvmLibName(const std::string& v) {
  zvmLibNames.push_back(v);
  return *this;
}

AppLauncher& AppLauncher::addCfgFileLookupDir(const std::string& v) {
  cfgFileLookupDirs.push_back(v);
  return *this;
}

AppLauncher& AppLauncher::setListener(Listener* v) {
  listener = v;
  return *this;
}

CfgFile::Macros AppLauncher::getMacros() const {
  CfgFile::Macros macros;
  macros["$APPDIR"] = appDirPath;
  macros["$BINDIR"] = FileUtils::dirname(launcherPath);
  macros["$ROOTDIR"] = imageRoot;
  return macros;
}

std::string AppLauncher::getCfgFilePath() const {
  const std::string cfgFileName =
      FileUtils::stripExeSuffix(FileUtils::basename(launcherPath)) + ".cfg";

  for (const std::string& dir : cfgFileLookupDirs) {
    const std::string candidate = FileUtils::combinePath(dir, cfgFileName);
    // "file exit", as diagnostics readers and their scripts match it.
    LOG_TRACE("Check [" << candidate << "] file exit");
    const bool exists = FileUtils::isFileExists(candidate);
    if (listener) {
      listener->cfgFileCandidate(candidate, exists);
    }
    if (exists) {
      return candidate;
    }
  }

  return FileUtils::combinePath(appDirPath, cfgFileName);
}

bool AppLauncher::libEnvVariableContainsAppDir() const {
  StringList paths;
  tstrings::split(paths,
                  SysInfo::getEnvVariable(std::nothrow, libEnvVariableName, ""),
                  std::string(1, FileUtils::pathSeparator));
  for (const std::string& path : paths) {
    if (path == appDirPath) {
      return true;
    }
  }
  return false;
}

Zvm* AppLauncher::createZvmLauncher() const {
  const std::string cfgFilePath = getCfgFilePath();
  LOG_TRACE("Launcher config file path: \"" << cfgFilePath << "\"");

  CfgFile cfgFile =
      CfgFile::load(cfgFilePath,
                    listener ? listener->cfgFileLoading(cfgFilePath) : nullptr)
          .expandMacros(getMacros());

  if (!args.empty()) {
    cfgFile.setPropertyValue(SectionName::ArgOptions, PropertyName::arguments,
                             args);
  }
  if (listener) {
    listener->cfgFileReady(cfgFile);
  }

  std::unique_ptr<Zvm> zvm(new Zvm());

  if (!libEnvVariableContainsAppDir()) {
    zvm->addEnvVariable(
        libEnvVariableName,
        SysInfo::getEnvVariable(std::nothrow, libEnvVariableName, "") +
            FileUtils::pathSeparator + appDirPath);
  }

  zvm->setLibPath(
      findZvmLib(cfgFile, defaultRuntimePath, zvmLibNames, listener));
  zvm->appendArgument(launcherPath);
  // The configuration is not used again: its long lists move to the Zvm.
  zvm->initFromConfigFile(std::move(cfgFile), launcherPath);

  return zvm.release();
}
