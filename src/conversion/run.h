// The conversion run's variables and phases.
#pragma once

#include <array>

#include "recordio/recordio.h"

namespace cdmg {

using recordio::ftnint;
using recordio::real;

// Samples an array holds: 4125 data records of eight fields.
inline constexpr int kCapacity = 33000;
inline constexpr int kFieldsPerRecord = 8;
inline constexpr int kNameLength = 80;

// Sample k of the run (counted from 1) is element k - 1.
using Samples = std::array<real, kCapacity>;

// Header plan A: record 6 echoed. Plan B: records 6 and 33 echoed.
enum class HeaderPlan { kA, kB };

// The run's variables. They live for the whole run in static storage, so the arrays hold zeros
// until a component fills them.
struct Run {
  Samples x, y, z;
  char line[kNameLength];
  char infile1[kNameLength];
  char infile2[kNameLength];
  char infile3[kNameLength];
  real dt;
  ftnint i, in, j, nt;
  real t;
};

// The two phases stay functions of their own in the program (not inlined into the run), so that
// the benchmarks can count each phase's instructions by its name.
//
// Reads one component file into `samples` and reports its counts on the console; sets
// run.line, run.i, run.in, run.j and run.nt.
[[gnu::noinline]] void read_component(Run& run, HeaderPlan plan, char* name, Samples& samples);

// Asks for the output name, then writes the output file.
void write_combined(Run& run);

// Writes the output file named by run.infile1: run.nt rows of time and the three components.
[[gnu::noinline]] void write_output_file(Run& run);

}  // namespace cdmg
