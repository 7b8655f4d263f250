// Micro-benchmarks of the three steps whose cost grows with the size of an
// application's configuration: parsing the ".cfg" file, expanding its
// macros and packing the launch-data block. Each reports its items per
// second and a fitted complexity over the sizes it runs.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "CfgFile.h"
#include "Log.h"
#include "ZvmLauncher.h"
#include "ZvmLauncherLib.h"

namespace {

const char appDir[] = "/Applications/Sample.app/Contents/app";

CfgFile::Macros launcherMacros() {
  CfgFile::Macros macros;
  macros["$APPDIR"] = appDir;
  macros["$BINDIR"] = "/Applications/Sample.app/Contents/MacOS";
  macros["$ROOTDIR"] = "/Applications/Sample.app";
  return macros;
}

std::string optionValue(int64_t i) {
  return "-Dbench.option." + std::to_string(i) + "=value-" + std::to_string(i);
}

// A configuration file with `lines` "zeal-options" lines, removed when the
// benchmark ends.
class TemporaryCfgFile {
 public:
  explicit TemporaryCfgFile(int64_t lines) {
    char pattern[] = "/tmp/quern-bench-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
      std::perror("mkstemp");
      std::abort();
    }
    close(fd);
    path = pattern;
    std::ofstream out(path);
    out << "[Application]\napp.mainclass=bench.Main\n"
           "app.classpath=$APPDIR/bench.zar\n[ZealOptions]\n";
    for (int64_t i = 0; i < lines; ++i) {
      out << "zeal-options=" << optionValue(i) << '\n';
    }
  }
  ~TemporaryCfgFile() { std::remove(path.c_str()); }

  std::string path;
};

void BM_CfgFileLoad(benchmark::State& state) {
  const TemporaryCfgFile file(state.range(0));
  for (auto _ : state) {
    CfgFile cfg = CfgFile::load(file.path);
    benchmark::DoNotOptimize(cfg);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_CfgFileLoad)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// Many values, each holding one macro, as a class path of many entries has.
void BM_ExpandMacrosManyValues(benchmark::State& state) {
  StringList values;
  for (int64_t i = 0; i < state.range(0); ++i) {
    values.push_back("$APPDIR/lib/library-" + std::to_string(i) + ".zar");
  }
  CfgFile cfg;
  cfg.setPropertyValue(SectionName::Application, PropertyName::classpath,
                       values);
  const CfgFile::Macros macros = launcherMacros();
  for (auto _ : state) {
    CfgFile expanded = cfg.expandMacros(macros);
    benchmark::DoNotOptimize(expanded);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ExpandMacrosManyValues)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// Values without any macro, as most runtime options are.
void BM_ExpandMacrosPlainValues(benchmark::State& state) {
  StringList values;
  for (int64_t i = 0; i < state.range(0); ++i) {
    values.push_back(optionValue(i));
  }
  CfgFile cfg;
  cfg.setPropertyValue(SectionName::ZealOptions, PropertyName::zealOptions,
                       values);
  const CfgFile::Macros macros = launcherMacros();
  for (auto _ : state) {
    CfgFile expanded = cfg.expandMacros(macros);
    benchmark::DoNotOptimize(expanded);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ExpandMacrosPlainValues)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// One value holding many occurrences of the same macro.
void BM_ExpandMacrosOneLongValue(benchmark::State& state) {
  std::string value = "-Dbench.path=";
  for (int64_t i = 0; i < state.range(0); ++i) {
    value += i ? ":$APPDIR" : "$APPDIR";
  }
  CfgFile cfg;
  cfg.setPropertyValue(SectionName::ZealOptions, PropertyName::zealOptions,
                       StringList(1, value));
  const CfgFile::Macros macros = launcherMacros();
  for (auto _ : state) {
    CfgFile expanded = cfg.expandMacros(macros);
    benchmark::DoNotOptimize(expanded);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ExpandMacrosOneLongValue)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// Measure, allocate and fill the launch-data block through the callbacks,
// as each launch does, and release it.
void BM_PackLaunchData(benchmark::State& state) {
  Zvm zvm;
  zvm.setLibPath(
      "/Applications/Sample.app/Contents/runtime/Contents/Home/lib/"
      "libzli.dylib");
  zvm.addEnvVariable("DYLD_LIBRARY_PATH", std::string(":") + appDir);
  for (int64_t i = 0; i < state.range(0); ++i) {
    zvm.appendArgument(optionValue(i));
  }
  const ZvmlLauncherCallbacks* callbacks = getZvmlLauncherCallbacks();
  void* handle = zvm.exportLauncher();
  for (auto _ : state) {
    const int size = callbacks->getZvmlLauncherDataSize(handle);
    void* buffer = size > 0 ? std::malloc(static_cast<size_t>(size)) : nullptr;
    if (!buffer || !callbacks->initZvmlLauncherData(handle, buffer, size)) {
      std::free(buffer);
      state.SkipWithError("no launch-data block");
      break;
    }
    benchmark::DoNotOptimize(buffer);
    std::free(buffer);
  }
  callbacks->closeHandle(handle);
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PackLaunchData)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

}  // namespace

int main(int argc, char** argv) {
  // The launcher always builds its trace messages and lets the appender
  // drop them; here as there, nothing is printed.
  NopLogAppender nop;
  Logger::defaultLogger().setAppender(&nop);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
