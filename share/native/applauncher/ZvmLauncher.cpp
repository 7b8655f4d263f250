#include "ZvmLauncher.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "CfgFile.h"
#include "Dll.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"

namespace {

static_assert(sizeof(ZvmlLauncherData) == 40, "launch-data header layout");
static_assert(sizeof(char*) == 8, "launch-data pointers are 8 bytes");

// The launch data behind a handle: the Zvm's four fields, either a copy of
// its own or, for a handle made inside Zvm::launch, the Zvm's fields read
// in place (the Zvm outlives the handle and is not changed once filled).
class ZliLaunchData {
 private:
  const std::string ownLibPath;
  const StringList ownArgs;
  const StringList ownEnvNames;
  const StringList ownEnvValues;

 public:
  enum InPlace { inPlace };

  explicit ZliLaunchData(const Zvm& zvm)
      : ownLibPath(zvm.getLibPath()),
        ownArgs(zvm.getArgs()),
        ownEnvNames(zvm.getEnvNames()),
        ownEnvValues(zvm.getEnvValues()),
        libPath(ownLibPath),
        args(ownArgs),
        envNames(ownEnvNames),
        envValues(ownEnvValues) {}

  ZliLaunchData(const Zvm& zvm, InPlace)
      : libPath(zvm.getLibPath()),
        args(zvm.getArgs()),
        envNames(zvm.getEnvNames()),
        envValues(zvm.getEnvValues()) {}

  ZliLaunchData(const ZliLaunchData&) = delete;
  ZliLaunchData& operator=(const ZliLaunchData&) = delete;

  const std::string& libPath;
  const StringList& args;
  const StringList& envNames;
  const StringList& envValues;

  // With a null block, returns the block's size; otherwise writes the whole
  // block at `block` and returns the same size. Measuring and writing are the
  // same walk, so the two always agree. The size is computed in 64 bits; the
  // caller rejects what a 32-bit size cannot hold.
  int64_t initZvmlLauncherData(ZvmlLauncherData* block) const;
};

class BlockWriter {
 public:
  explicit BlockWriter(ZvmlLauncherData* block)
      : base(reinterpret_cast<char*>(block)),
        offset(sizeof(ZvmlLauncherData)) {}

  // Places a string with its terminating zero; returns its address in the
  // block (null when measuring).
  char* putString(const std::string& s) {
    char* const dst = base ? base + offset : nullptr;
    if (dst) {
      std::memcpy(dst, s.data(), s.size());
      dst[s.size()] = 0;
    }
    offset += s.size() + 1;
    return dst;
  }

  // Reserves `count` pointers; returns the offset of the first.
  uint64_t reservePointers(uint64_t count) {
    const uint64_t at = offset;
    offset += count * sizeof(char*);
    return at;
  }

  // The block is packed, so a pointer may land at any byte offset.
  template <class T>
  void put(uint64_t at, T value) {
    if (base) {
      std::memcpy(base + at, &value, sizeof value);
    }
  }

  // Writes the strings and fills the pointer array reserved for them.
  void putStrings(const StringList& strings, uint64_t arrayAt) {
    for (size_t i = 0; i != strings.size(); ++i) {
      put(arrayAt + i * sizeof(char*), putString(strings[i]));
    }
  }

  char* address(uint64_t at) const { return base ? base + at : nullptr; }
  bool isMeasuring() const { return !base; }
  uint64_t size() const { return offset; }

 private:
  char* const base;
  uint64_t offset;
};

int64_t ZliLaunchData::initZvmlLauncherData(ZvmlLauncherData* block) const {
  BlockWriter writer(block);

  char* const path = writer.putString(libPath);

  const uint64_t argvAt = writer.reservePointers(args.size() + 1);
  writer.putStrings(args, argvAt);
  writer.put(argvAt + args.size() * sizeof(char*), static_cast<char*>(nullptr));

  const uint64_t namesAt = writer.reservePointers(envNames.size());
  writer.putStrings(envNames, namesAt);

  const uint64_t valuesAt = writer.reservePointers(envValues.size());
  writer.putStrings(envValues, valuesAt);

  writer.put(offsetof(ZvmlLauncherData, libPath), path);
  writer.put(offsetof(ZvmlLauncherData, argc),
             static_cast<int32_t>(args.size()));
  writer.put(offsetof(ZvmlLauncherData, envCount),
             static_cast<int32_t>(envNames.size()));
  writer.put(offsetof(ZvmlLauncherData, argv), writer.address(argvAt));
  writer.put(offsetof(ZvmlLauncherData, envNames), writer.address(namesAt));
  writer.put(offsetof(ZvmlLauncherData, envValues), writer.address(valuesAt));

  const int64_t size = static_cast<int64_t>(writer.size());
  if (writer.isMeasuring()) {
    LOG_TRACE("Need " << size << " bytes for ZvmlLauncherData buffer");
  } else {
    LOG_TRACE("Initialized " << size << " bytes at "
                             << static_cast<const void*>(block) << " address");
  }
  return size;
}

// Measures the data behind a handle; throws when the block's 32-bit size
// cannot hold it.
int measure(const ZliLaunchData* data) {
  const int64_t size = data->initZvmlLauncherData(nullptr);
  if (size > INT32_MAX) {
    QUERN_THROW("Launch data of " << size
                                  << " bytes does not fit in a launch-data "
                                     "block");
  }
  return static_cast<int>(size);
}

void closeHandle(void* handle) { delete static_cast<ZliLaunchData*>(handle); }

int getZvmlLauncherDataSize(void* handle) {
  try {
    return measure(static_cast<const ZliLaunchData*>(handle));
  } catch (const std::runtime_error& e) {
    reportError(SourceCodePos(__FILE__, "getZvmlLauncherDataSize", __LINE__),
                e);
  } catch (...) {
    reportUnknownError(
        SourceCodePos(__FILE__, "getZvmlLauncherDataSize", __LINE__));
  }
  return -1;
}

void* initZvmlLauncherData(void* handle, void* buffer, int bufferSize) {
  try {
    const ZliLaunchData* data = static_cast<const ZliLaunchData*>(handle);
    if (measure(data) <= bufferSize) {
      data->initZvmlLauncherData(static_cast<ZvmlLauncherData*>(buffer));
      return buffer;
    }
  } catch (const std::runtime_error& e) {
    reportError(SourceCodePos(__FILE__, "initZvmlLauncherData", __LINE__), e);
  } catch (...) {
    reportUnknownError(
        SourceCodePos(__FILE__, "initZvmlLauncherData", __LINE__));
  }
  return nullptr;
}

const ZvmlLauncherCallbacks callbacks = {closeHandle, getZvmlLauncherDataSize,
                                         initZvmlLauncherData};

struct FreeBlock {
  void operator()(ZvmlLauncherData* block) const { std::free(block); }
};

// Appends every value of the property; moves them out of `consumable`, the
// same configuration as `cfg`, when that is given.
void appendProperty(const CfgFile& cfg, CfgFile* consumable,
                    const CfgFile::Id<CfgFile::SectionNameTag>& section,
                    const CfgFile::Id<CfgFile::PropertyNameTag>& property,
                    StringList& args) {
  if (consumable) {
    StringList values = consumable->takeValues(section, property);
    args.insert(args.end(), std::make_move_iterator(values.begin()),
                std::make_move_iterator(values.end()));
    return;
  }
  const CfgFile::Properties& props = cfg.getProperties(section);
  const CfgFile::Properties::const_iterator it = props.find(property);
  if (it != props.end()) {
    args.insert(args.end(), it->second.begin(), it->second.end());
  }
}

}  // namespace

const ZvmlLauncherCallbacks* getZvmlLauncherCallbacks() { return &callbacks; }

Zvm::Zvm() {
  LOG_TRACE("Zvm(" << static_cast<const void*>(this) << ")::Zvm()");
}

Zvm::~Zvm() {
  LOG_TRACE("Zvm(" << static_cast<const void*>(this) << ")::~Zvm()");
}

Zvm& Zvm::setLibPath(const std::string& path) {
  libPath = path;
  return *this;
}

Zvm& Zvm::appendArgument(const std::string& value) {
  args.push_back(value);
  return *this;
}

Zvm& Zvm::addEnvVariable(const std::string& name, const std::string& value) {
  envNames.push_back(name);
  envValues.push_back(value);
  return *this;
}

namespace {

// The arguments of Zvm::initFromConfigFile, appended to `args`; the lists of
// runtime options and application arguments are moved out of `consumable`,
// the same configuration as `cfg`, when that is given.
void initFromConfigFile(const CfgFile& cfg, CfgFile* consumable,
                        const std::string& appPath, StringList& args) {
  const CfgFile::Properties& app = cfg.getProperties(SectionName::Application);
  CfgFile::Properties::const_iterator it;

  it = app.find(PropertyName::modulepath);
  if (it != app.end()) {
    for (const std::string& path : it->second) {
      args.push_back("--module-path");
      args.push_back(path);
    }
  }

  it = app.find(PropertyName::classpath);
  if (it != app.end()) {
    args.push_back("-classpath");
    args.push_back(CfgFile::asPathList(*it));
  }

  it = app.find(PropertyName::splash);
  if (it != app.end()) {
    const std::string splash = CfgFile::asString(*it);
    if (FileUtils::isFileExists(splash)) {
      args.push_back("-splash:" + splash);
    } else {
      LOG_WARNING("Splash property ignored. File \"" << splash
                                                     << "\" not found");
    }
  }

  appendProperty(cfg, consumable, SectionName::ZealOptions,
                 PropertyName::zealOptions, args);

  args.push_back("-Dquern.app-path=" + appPath);

  it = app.find(PropertyName::mainmodule);
  if (it != app.end()) {
    args.push_back("-m");
    args.push_back(CfgFile::asString(*it));
  }

  it = app.find(PropertyName::mainclass);
  if (it != app.end()) {
    args.push_back(CfgFile::asString(*it));
  }

  it = app.find(PropertyName::mainzar);
  if (it != app.end()) {
    args.push_back("-zar");
    args.push_back(CfgFile::asString(*it));
  }

  appendProperty(cfg, consumable, SectionName::ArgOptions,
                 PropertyName::arguments, args);
}

}  // namespace

Zvm& Zvm::initFromConfigFile(const CfgFile& cfg, const std::string& appPath) {
  ::initFromConfigFile(cfg, nullptr, appPath, args);
  return *this;
}

Zvm& Zvm::initFromConfigFile(CfgFile&& cfg, const std::string& appPath) {
  ::initFromConfigFile(cfg, &cfg, appPath, args);
  return *this;
}

void* Zvm::exportLauncher() const { return new ZliLaunchData(*this); }

void Zvm::launch() {
  // The handle reads this description in place rather than copying it:
  // the block is the same, and a long description is not held twice more.
  const std::unique_ptr<ZvmlLauncherData, FreeBlock> block(
      zvmLauncherCreateZvmlLauncherData(
          &callbacks, new ZliLaunchData(*this, ZliLaunchData::inPlace),
          nullptr));
  if (!block) {
    QUERN_THROW("Failed to create ZVM launch data");
  }

  LOG_TRACE("ZVM library: \"" << libPath << "\"");

  const DllFunction<void*> zliLaunch(Dll(tstrings::any(libPath)),
                                     tstrings::any("ZLI_Launch"));

  const int exitCode = zvmLauncherStartZvm(block.get(), zliLaunch);
  if (exitCode != 0) {
    QUERN_THROW("Failed to launch ZVM");
  }
}
