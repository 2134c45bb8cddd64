// The option read of every sale: ReadBool of one key in a settings file of
// 200 keys, through the safe INI file with its cross-process lock.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/BenchSettingsFile.h"
#include "support/SafeIniFiles.h"

namespace {

class SettingsFile {
 public:
  SettingsFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "selvo-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
    path_ = dir_ + "/Selvo.ini";
    selvo::bench::WriteSettingsFile(path_, false);
  }
  ~SettingsFile() { std::filesystem::remove_all(dir_); }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

// The floor: open, read, close and find the key, nothing else.
void BM_BareIniRead(benchmark::State& state) {
  SettingsFile file;
  if (selvo::bench::BareIniRead(file.path(), "\nRSumCanNotBeLowThenZSum=") != '0') state.SkipWithError("key not found");
  for (auto _ : state) benchmark::DoNotOptimize(selvo::bench::BareIniRead(file.path(), "\nRSumCanNotBeLowThenZSum="));
}
BENCHMARK(BM_BareIniRead);

// One object, many reads.
void BM_ReadBool(benchmark::State& state) {
  SettingsFile file;
  selvo::TSafeIniFile ini(file.path());
  for (auto _ : state) benchmark::DoNotOptimize(ini.ReadBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", true));
}
BENCHMARK(BM_ReadBool);

// What a sale does: create the object, read the option, free the object.
void BM_SaleOptionRead(benchmark::State& state) {
  SettingsFile file;
  for (auto _ : state) {
    selvo::TSafeIniFile ini(file.path());
    benchmark::DoNotOptimize(ini.ReadBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", true));
  }
}
BENCHMARK(BM_SaleOptionRead);

// The editor's write of the option: a whole-file rewrite under the lock.
void BM_WriteBool(benchmark::State& state) {
  SettingsFile file;
  selvo::TSafeIniFile ini(file.path());
  bool value = false;
  for (auto _ : state) ini.WriteBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", value = !value);
}
BENCHMARK(BM_WriteBool);

}  // namespace

BENCHMARK_MAIN();
