// In-process speed of the two hot phases: reading a full-capacity component file and writing a
// full-capacity combined file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "conversion/run.h"
#include "recordio/recordio.h"

namespace {

namespace fs = std::filesystem;
using namespace recordio;

constexpr int kDataRecords = 4125;

fs::path scratch() {
  static const fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "cdmg2csv-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
  }();
  return dir;
}

// A component file at the capacity bound: 32 header records, 4125 data records of random fields
// written "%10.5f" (Gaussian, sigma 50), as in the whole-process benchmark's record.
std::string full_component_file() {
  const fs::path path = scratch() / "component.txt";
  std::ofstream out(path);
  for (int k = 1; k <= 32; ++k) out << "header record " << k << '\n';
  std::mt19937 rng(7);
  std::normal_distribution<double> value(0.0, 50.0);
  char field[32];
  for (int r = 0; r < kDataRecords; ++r) {
    for (int f = 0; f < 8; ++f) {
      std::snprintf(field, sizeof field, "%10.5f", value(rng));
      out << field;
    }
    out << '\n';
  }
  return path.string();
}

void connect_console_to_null() {
  static char name[] = "/dev/null";
  const olist o{0, 6, name, sizeof name - 1, "unknown", nullptr, nullptr, 0, nullptr};
  f_open(&o);
}

void BM_ReadFullComponentFile(benchmark::State& state) {
  static cdmg::Run run;
  std::string path = full_component_file();
  path.resize(cdmg::kNameLength, ' ');
  connect_console_to_null();
  for (auto _ : state) {
    cdmg::read_component(run, cdmg::HeaderPlan::kA, path.data(), run.x);
    benchmark::DoNotOptimize(run.x.data());
  }
  if (run.nt != 8 * kDataRecords - 8) state.SkipWithError("unexpected sample count");
  // Seconds per field, shown with an SI prefix ("12.3n" is 12.3 ns).
  state.counters["time_per_field"] =
      benchmark::Counter(8.0 * kDataRecords, benchmark::Counter::kIsIterationInvariantRate |
                                                 benchmark::Counter::kInvert);
}

void BM_WriteFullCombinedFile(benchmark::State& state) {
  static cdmg::Run run;
  std::mt19937 rng(11);
  std::normal_distribution<float> value(0.0f, 50.0f);
  for (int k = 0; k < cdmg::kCapacity; ++k) {
    run.x[static_cast<std::size_t>(k)] = value(rng);
    run.y[static_cast<std::size_t>(k)] = value(rng);
    run.z[static_cast<std::size_t>(k)] = value(rng);
  }
  run.dt = 0.005f;
  constexpr ftnint kRows = 8 * kDataRecords - 8;
  run.nt = kRows;
  std::string name = (scratch() / "combined.csv").string();
  name.resize(cdmg::kNameLength, ' ');
  std::memcpy(run.infile1, name.data(), cdmg::kNameLength);
  for (auto _ : state) cdmg::write_output_file(run);
  // Seconds per row, shown with an SI prefix ("52.1n" is 52.1 ns).
  state.counters["time_per_row"] = benchmark::Counter(
      kRows, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_ReadFullComponentFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFullCombinedFile)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  f_setsig();
  f_init();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(scratch(), ignored);
  return 0;
}
