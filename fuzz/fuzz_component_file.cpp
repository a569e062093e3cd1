// Arbitrary bytes as a component file, read by both header plans through the real runtime and
// compared with a model of the reading written here from the reader's rules: which records are
// skipped and echoed, what each data field stores (the E reference of reference.h), the counts
// i, in, j and nt, the console lines, and which failure ends the run with which diagnostic.
//
// Every reading runs in this process, over the fake of the file layer: the file lives in the
// fake, the console and standard error are captured there, and the fatal path unwinds back here
// through the crash handler. The sample arrays sit in guard values, and every element and
// variable the model does not expect to be stored must keep its guard, whether the reading reads
// through or fails. Each reading starts from a runtime reset as the process entry leaves it, and
// must leave no unit connected, no descriptor open and the signal mask as it found it.
#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "conversion/run.h"
#include "recordio/runtime.h"
#include "recordio/statement.h"
#include "reference.h"
#include "support/fake_files.h"

namespace {

using testing_support::Crashed;
using testing_support::InProcessRuntime;

// Larger than the unit's 64 KiB buffer, so that a record (or a CR LF pair) can straddle a refill.
constexpr std::size_t kMaxInput = 96 * 1024;

// The reader's bounds, stated here on their own: 33000 samples, 4125 data records of 8 fields.
constexpr int kSamples = 33000;
constexpr int kFields = 8;
constexpr int kHeaderSkip1 = 5;
constexpr int kHeaderSkip2 = 26;
constexpr int kLineLength = 80;

constexpr std::uint32_t kGuardWord = 0x7fa5a5a5u;  // a quiet NaN, which no E field reads as
// A count the reading never set still holds the guard.
constexpr auto kUntouched = static_cast<std::int32_t>(kGuardWord);

// The component file's name, in the fake only.
constexpr char kFileName[] = "QRV-N00-1.txt";

// ---------------------------------------------------------------------------------------------
// The model.

struct Expectation {
  bool fails = false;
  std::string diagnostic;       // every line of the fatal diagnostic; empty when none
  bool in_common_part = false;  // the failure comes within the records both plans treat alike
  std::string console;          // every console line, each ended by a line end
  bool echoed = false;          // a line was echoed
  std::string line;             // the last line echoed
  std::int32_t i = kUntouched;
  std::int32_t in = kUntouched;
  std::int32_t j = kUntouched;
  std::int32_t nt = kUntouched;
  std::vector<float> stored;  // the values of elements 1, 2, ... that the reading stores
  // The item whose transfer failed, when the failure came within an item: what it holds then is
  // no result of the reading, which ends there. Either the line, or the element after those
  // stored.
  bool line_in_transfer = false;
  bool sample_in_transfer = false;
};

Expectation predict(const fuzzref::Text& text, bool plan_b) {
  Expectation e;
  std::size_t pos = 0;
  bool ended = false;  // the unit has met the end of the file
  // A failure of a READ on the file's unit, whose statement used `format`.
  const auto fail = [&](const char* first_line, const char* format) {
    e.fails = true;
    e.diagnostic = std::string(first_line) + "\napparent state: unit 11 named " + kFileName +
                   "\nlast format: " + format +
                   "\nlately reading sequential formatted external IO\n";
    return false;
  };
  const auto to_next_record = [&](std::size_t from) {
    const std::size_t next = text.after_line_end(from);
    if (next == fuzzref::Text::npos) {
      ended = true;
      pos = text.size();
      return false;
    }
    pos = next;
    return true;
  };
  // An item-less list-directed READ, without an end-of-file exit.
  const auto skip = [&] {
    if (ended) return fail("read start: end of file", "list io");
    to_next_record(pos);
    return true;
  };
  // READ "(a80)" and its echo on the console.
  const auto echo = [&] {
    if (ended) return fail("read start: end of file", "(a80)");
    const fuzzref::TextField f = fuzzref::read_a(text, pos, kLineLength, kLineLength);
    if (f.outcome != fuzzref::Outcome::kValue) {
      e.line_in_transfer = true;
      return fail("fmt: end of file", "(a80)");
    }
    e.echoed = true;
    e.line = f.item;
    to_next_record(f.next);
    e.console += " " + f.item + "\n";
    return true;
  };

  e.in_common_part = true;
  for (int k = 0; k < kHeaderSkip1; ++k) {
    if (!skip()) return e;
  }
  if (!echo()) return e;
  for (int k = 0; k < kHeaderSkip2; ++k) {
    if (!skip()) return e;
  }
  e.in_common_part = false;
  if (plan_b && !echo()) return e;

  for (e.i = 0;; ++e.i) {
    e.in = kFields * e.i + 1;
    if (ended) break;
    // One record beyond the arrays is read, and its values dropped; a file that goes on after it
    // is refused.
    if (e.in > kSamples + kFields) {
      if (pos >= text.size()) break;
      fail("read: more than 4125 data records", "(8E10.4)");
      return e;
    }
    bool abandoned = false;
    for (e.j = 0; e.j < kFields; ++e.j) {
      const fuzzref::RealField f = fuzzref::read_e(text, pos, 10, 4);
      if (f.outcome == fuzzref::Outcome::kEndOfFile) {
        abandoned = true;
        break;
      }
      if (f.outcome == fuzzref::Outcome::kError) {
        e.sample_in_transfer = e.in <= kSamples;
        fail("fmt: read unexpected character", "(8E10.4)");
        return e;
      }
      if (e.in <= kSamples) e.stored.push_back(f.value);
      pos = f.next;
    }
    // A record counts only when it is read through its line end.
    if (abandoned || !to_next_record(pos)) break;
  }
  e.nt = kFields * e.i - kFields;
  e.console += " i,in= " + std::to_string(e.i) + " " + std::to_string(e.in) + "\n";
  e.console += " nt= " + std::to_string(e.nt) + "\n";
  return e;
}

// ---------------------------------------------------------------------------------------------
// The runtime's side.

// The run's variables between guards, in static storage like the run's own.
struct Arena {
  std::uint32_t front[16];
  cdmg::Run run;
  std::uint32_t back[16];
};

Arena g_arena;
const Arena& pristine() {
  static const Arena* const p = [] {
    auto* a = new Arena;
    // Guards everywhere: the arrays, the texts, the counts, and around the run.
    auto* words = reinterpret_cast<unsigned char*>(a);
    for (std::size_t k = 0; k < sizeof *a; k += 4) {
      std::memcpy(words + k, &kGuardWord, sizeof kGuardWord);
    }
    return a;
  }();
  return *p;
}

// The name as the run passes it: the file name padded with blanks.
char g_name[kLineLength];

std::string shown(const std::string& s) {
  std::string out;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u == '\n') {
      out += "\\n\n";
    } else if (u < 0x20 || u >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

[[noreturn]] void report(const char* plan, const std::string& what) {
  std::fprintf(stderr, "component file, header plan %s: %s\n", plan, what.c_str());
  __builtin_trap();
}

std::uint32_t bits_of(float v) {
  std::uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// The samples the plan reads into: component 3's array for plan A (the last array of the run,
// so that a store past it lands in the texts), component 2's for plan B.
cdmg::Samples& target_of(cdmg::Run& run, bool plan_b) {
  return plan_b ? run.y : run.z;
}

const cdmg::Samples& target_of(const cdmg::Run& run, bool plan_b) {
  return plan_b ? run.y : run.z;
}

void check_samples(const char* plan, const Expectation& e, bool plan_b) {
  const cdmg::Run& run = g_arena.run;
  const cdmg::Run& before_run = pristine().run;
  const cdmg::Samples& got = target_of(run, plan_b);
  const cdmg::Samples& before = target_of(before_run, plan_b);
  const std::size_t stored = e.stored.size();
  // Elements from here on keep their guards.
  const std::size_t untouched = stored + (e.sample_in_transfer ? 1 : 0);
  if (untouched > got.size()) report(plan, "the model stores past the array");
  for (std::size_t k = 0; k < stored; ++k) {
    if (bits_of(got[k]) != bits_of(e.stored[k])) {
      char detail[160];
      std::snprintf(detail, sizeof detail, "element %zu is %a (%08x), the model says %a (%08x)",
                    k + 1, static_cast<double>(got[k]), bits_of(got[k]),
                    static_cast<double>(e.stored[k]), bits_of(e.stored[k]));
      report(plan, detail);
    }
  }
  const auto same = [](const void* a, const void* b, std::size_t n) {
    return std::memcmp(a, b, n) == 0;
  };
  if (!same(got.data() + untouched, before.data() + untouched,
            (got.size() - untouched) * sizeof got[0])) {
    std::size_t k = untouched;
    while (bits_of(got[k]) == bits_of(before[k])) ++k;
    report(plan, "element " + std::to_string(k + 1) + " was stored; the model stores " +
                     std::to_string(stored) + " elements");
  }
  // Component 1's array, and the one of the two others that the plan does not read into.
  const cdmg::Samples& other = plan_b ? run.z : run.y;
  const cdmg::Samples& other_before = plan_b ? before_run.z : before_run.y;
  if (!same(run.x.data(), before_run.x.data(), sizeof run.x) ||
      !same(other.data(), other_before.data(), sizeof other)) {
    report(plan, "another component's array was changed");
  }
  if (!same(g_arena.front, pristine().front, sizeof g_arena.front) ||
      !same(g_arena.back, pristine().back, sizeof g_arena.back) ||
      !same(run.infile1, before_run.infile1, sizeof run.infile1) ||
      !same(run.infile2, before_run.infile2, sizeof run.infile2) ||
      !same(run.infile3, before_run.infile3, sizeof run.infile3) ||
      !same(&run.dt, &before_run.dt, sizeof run.dt) || !same(&run.t, &before_run.t, sizeof run.t)) {
    report(plan, "a variable outside the reading's own was changed");
  }
  if (e.line_in_transfer) return;
  const std::string line(run.line, sizeof run.line);
  const std::string expected =
      e.echoed ? e.line : std::string(before_run.line, sizeof before_run.line);
  if (line != expected) {
    report(plan, "line holds \"" + shown(line) + "\", the model says \"" + shown(expected) + "\"");
  }
}

std::string counts(std::int32_t i, std::int32_t in, std::int32_t j, std::int32_t nt) {
  const auto one = [](std::int32_t v) {
    return v == kUntouched ? std::string("(never set)") : std::to_string(v);
  };
  return one(i) + ", " + one(in) + ", " + one(j) + ", " + one(nt);
}

// The signals blocked, one bit each (a sigset_t holds more than the system fills in).
std::uint64_t signal_mask() {
  sigset_t mask;
  sigemptyset(&mask);
  sigprocmask(SIG_SETMASK, nullptr, &mask);
  std::uint64_t bits = 0;
  for (int sig = 1; sig < NSIG && sig <= 64; ++sig) {
    if (sigismember(&mask, sig) == 1) bits |= std::uint64_t{1} << (sig - 1);
  }
  return bits;
}

// Reads `file` by the plan in this process and compares everything the reading leaves with the
// model's expectation.
void read_and_check(const char* plan, const Expectation& e, bool plan_b, const std::string& file) {
  for (int n = 0; n < recordio::kUnitCount; ++n) {
    if (recordio::runtime().units.unit(n).connected()) {
      report(plan, "unit " + std::to_string(n) + " is connected before the runtime starts");
    }
  }
  if (recordio::runtime().units.failed())
    report(plan, "a unit failure is noted before the runtime starts");
  std::memcpy(&g_arena, &pristine(), sizeof g_arena);
  const std::uint64_t mask_before = signal_mask();

  bool crashed = false;
  std::string console;
  std::string diagnostics;
  {
    InProcessRuntime runtime;
    testing_support::FakeFiles& files = runtime.files();
    files.files.emplace(kFileName, file);
    const std::size_t open_before = files.open_handles();
    try {
      cdmg::read_component(g_arena.run, plan_b ? cdmg::HeaderPlan::kB : cdmg::HeaderPlan::kA,
                           g_name, target_of(g_arena.run, plan_b));
      recordio::runtime().units.unit(6).flush();
      if (recordio::runtime().units.failed()) report(plan, "writing the console failed");
    } catch (const Crashed&) {
      crashed = true;
    }
    if (recordio::runtime().units.unit(11).connected()) report(plan, "unit 11 is still connected");
    if (files.open_handles() != open_before) report(plan, "a descriptor was left open");
    if (files.files.size() != 1 || files.files.at(kFileName) != file) {
      report(plan, "the component file was changed, or another file made");
    }
    console = files.out;
    diagnostics = files.err;
  }
  if (signal_mask() != mask_before) {
    report(plan, "the signal mask was left changed");
  }

  if (crashed != e.fails) {
    report(plan, crashed ? "the reading failed:\n" + diagnostics + "the model expects none"
                         : "the reading returned; the model expects the failure:\n" + e.diagnostic);
  }
  if (diagnostics != e.diagnostic) {
    report(plan,
           "standard error:\n" + shown(diagnostics) + "the model says:\n" + shown(e.diagnostic));
  }
  if (console != e.console) {
    report(plan, "console:\n" + shown(console) + "the model says:\n" + shown(e.console));
  }
  const cdmg::Run& run = g_arena.run;
  if (run.i != e.i || run.in != e.in || run.j != e.j || run.nt != e.nt) {
    report(plan, "i, in, j, nt = " + counts(run.i, run.in, run.j, run.nt) + "; the model says " +
                     counts(e.i, e.in, e.j, e.nt));
  }
  check_samples(plan, e, plan_b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  if (g_name[0] == '\0') {
    std::memset(g_name, ' ', sizeof g_name);
    std::memcpy(g_name, kFileName, sizeof kFileName - 1);
  }
  const std::string file(reinterpret_cast<const char*>(data), size);
  const fuzzref::Text text(data, size);
  const Expectation a = predict(text, false);
  const Expectation b = predict(text, true);
  // A file that fails within its first 32 records fails alike under both plans.
  if (a.fails && a.in_common_part &&
      (!b.fails || b.diagnostic != a.diagnostic || b.console != a.console)) {
    report("A and B", "the model's plans differ within their common records");
  }
  read_and_check("A", a, false, file);
  read_and_check("B", b, true, file);
  return 0;
}
