// Arbitrary bytes as a component file, read by both header plans through the real runtime and
// compared with a model of the reading written here from the reader's rules: which records are
// skipped and echoed, what each data field stores (the E reference of reference.h), the counts
// i, in and nt, the console lines, and which failure ends the run.
//
// An input the model expects to read through is read in this process, so that the fuzzer sees
// the runtime's coverage; the sample arrays sit in guard values and every element the model does
// not expect to be stored must keep its guard. An input the model expects to fail is read in a
// child process, which must end by the runtime's abort with the expected first diagnostic line; a
// child that ends any other way (another signal, an exit, a sanitizer report) is a failure.
//
// The children are forked by a small process of their own, itself forked once at start-up: a
// fork copies the page tables of the process that forks, and the fuzzer's own process grows.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "conversion/run.h"
#include "recordio/unit_table.h"
#include "reference.h"

namespace {

// Larger than the unit's 64 KiB buffer, so that a record (or a CR LF pair) can straddle a refill.
constexpr std::size_t kMaxInput = 96 * 1024;

// The reader's bounds, stated here on their own: 33000 samples, 4125 data records of 8 fields.
constexpr int kSamples = 33000;
constexpr int kFields = 8;
constexpr int kHeaderSkip1 = 5;
constexpr int kHeaderSkip2 = 26;
constexpr int kLineLength = 80;

constexpr std::uint32_t kGuardWord = 0x7fa5a5a5u;  // a quiet NaN, which no E field reads as

// ---------------------------------------------------------------------------------------------
// The model.

struct Expectation {
  bool fails = false;
  std::string diagnostic;       // the first line of the fatal diagnostic
  bool data_format = false;     // the diagnostic names the data format
  bool in_common_part = false;  // the failure comes within the records both plans treat alike
  std::string console;          // every console line, each ended by a line end
  std::string line;             // the last line echoed
  int i = 0;
  int in = 0;
  int nt = 0;
  std::vector<float> stored;  // the values of elements 1, 2, ... that the reading stores
};

Expectation predict(const fuzzref::Text& text, bool plan_b) {
  Expectation e;
  std::size_t pos = 0;
  bool ended = false;  // the unit has met the end of the file
  const auto fail = [&](const char* diagnostic) {
    e.fails = true;
    e.diagnostic = diagnostic;
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
    if (ended) return fail("read start: end of file");
    to_next_record(pos);
    return true;
  };
  // READ "(a80)" and its echo on the console.
  const auto echo = [&] {
    if (ended) return fail("read start: end of file");
    const fuzzref::TextField f = fuzzref::read_a(text, pos, kLineLength, kLineLength);
    if (f.outcome != fuzzref::Outcome::kValue) return fail("fmt: end of file");
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

  int i = 0;
  for (;; ++i) {
    e.in = kFields * i + 1;
    if (ended) break;
    // One record beyond the arrays is read, and its values dropped; a file that goes on after it
    // is refused.
    if (e.in > kSamples + kFields) {
      if (pos >= text.size()) break;
      fail("read: more than 4125 data records");
      return e;
    }
    bool abandoned = false;
    for (int j = 0; j < kFields && !abandoned; ++j) {
      const fuzzref::RealField f = fuzzref::read_e(text, pos, 10, 4);
      if (f.outcome == fuzzref::Outcome::kEndOfFile) {
        abandoned = true;
      } else if (f.outcome == fuzzref::Outcome::kError) {
        e.data_format = true;
        fail("fmt: read unexpected character");
        return e;
      } else {
        if (e.in <= kSamples) e.stored.push_back(f.value);
        pos = f.next;
      }
    }
    // A record counts only when it is read through its line end.
    if (abandoned || !to_next_record(pos)) break;
  }
  e.i = i;
  e.nt = kFields * i - kFields;
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
Arena g_pristine;

struct Workplace {
  std::string dir;
  std::string path;
  char name[kLineLength];
  int console = -1;    // unit 6 of this process
  int child_out = -1;  // a child's console
  int child_err = -1;  // a child's standard error
  int request = -1;    // to the child maker: the plan of the next child, 'A' or 'B'
  int reply = -1;      // from the child maker: how the child ended, as waitpid tells it
};

#ifdef CDMG_FUZZ_TRAP_ABORT
// While a reading runs in this process an abort is a finding: turned into a trap, it reaches the
// fuzzer's crash handler (the runtime's fatal path resets the abort signal's handler first).
bool g_reading_here = false;
#endif

void remove_workplace();
void start_child_maker(Workplace& w);

int memory_file(const char* name) {
  const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) {
    std::perror("memfd_create");
    std::abort();
  }
  return fd;
}

Workplace& workplace() {
  static Workplace* const w = [] {
    auto* p = new Workplace;
    std::string base = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t != nullptr && *t != '\0' && std::strlen(t) < 40) {
      base = t;
    }
    std::string pattern = base + "/cdmg-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    p->dir = pattern;
    p->path = p->dir + "/QRV-N00-1.txt";
    std::memset(p->name, ' ', sizeof p->name);
    std::memcpy(p->name, p->path.data(), p->path.size());
    p->console = memory_file("console");
    p->child_out = memory_file("child-console");
    p->child_err = memory_file("child-stderr");
    (void)recordio::units().unit(6).connect(p->console, recordio::Mode::kWriteOnly, true);
    // Guards everywhere: the arrays, the texts, the counts, and around the run.
    auto* words = reinterpret_cast<unsigned char*>(&g_pristine);
    for (std::size_t k = 0; k < sizeof g_pristine; k += 4) {
      std::memcpy(words + k, &kGuardWord, sizeof kGuardWord);
    }
    std::atexit(remove_workplace);
    start_child_maker(*p);
    return p;
  }();
  return *w;
}

void remove_workplace() {
  Workplace& w = workplace();
  (void)::unlink(w.path.c_str());
  (void)::rmdir(w.dir.c_str());
}

void write_whole(int fd, const unsigned char* bytes, std::size_t size) {
  while (size != 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::perror("write");
      std::abort();
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

void put_file(const std::string& path, const unsigned char* bytes, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::perror("open");
    std::abort();
  }
  write_whole(fd, bytes, size);
  ::close(fd);
}

std::string contents(int fd) {
  std::string out;
  char chunk[8192];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
    at += n;
  }
  return out;
}

void empty(int fd) {
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    std::perror("ftruncate");
    std::abort();
  }
}

// The lowest free descriptor: unchanged by a reading that closes what it opens.
int lowest_free_descriptor() {
  const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ::close(fd);
  return fd;
}

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

void check_samples(const char* plan, const Expectation& e, bool plan_b) {
  cdmg::Run& run = g_arena.run;
  const cdmg::Run& pristine = g_pristine.run;
  const cdmg::Samples& got = target_of(run, plan_b);
  const cdmg::Samples& before = target_of(g_pristine.run, plan_b);
  const std::size_t stored = e.stored.size();
  if (stored > got.size()) report(plan, "the model stores past the array");
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
  if (!same(got.data() + stored, before.data() + stored, (got.size() - stored) * sizeof got[0])) {
    std::size_t k = stored;
    while (bits_of(got[k]) == bits_of(before[k])) ++k;
    report(plan, "element " + std::to_string(k + 1) + " was stored; the model stores " +
                     std::to_string(stored) + " elements");
  }
  // Component 1's array, and the one of the two others that the plan does not read into.
  const cdmg::Samples& other = plan_b ? run.z : run.y;
  const cdmg::Samples& other_before = plan_b ? pristine.z : pristine.y;
  if (!same(run.x.data(), pristine.x.data(), sizeof run.x) ||
      !same(other.data(), other_before.data(), sizeof other)) {
    report(plan, "another component's array was changed");
  }
  if (!same(g_arena.front, g_pristine.front, sizeof g_arena.front) ||
      !same(g_arena.back, g_pristine.back, sizeof g_arena.back) ||
      !same(run.infile1, pristine.infile1, sizeof run.infile1) ||
      !same(run.infile2, pristine.infile2, sizeof run.infile2) ||
      !same(run.infile3, pristine.infile3, sizeof run.infile3) || !same(&run.dt, &pristine.dt, 4) ||
      !same(&run.t, &pristine.t, 4)) {
    report(plan, "a variable outside the reading's own was changed");
  }
  if (std::string(run.line, sizeof run.line) != e.line) {
    report(plan, "line holds \"" + shown(std::string(run.line, sizeof run.line)) +
                     "\", the model says \"" + shown(e.line) + "\"");
  }
}

void read_here(const char* plan, const Expectation& e, bool plan_b) {
  Workplace& w = workplace();
  std::memcpy(&g_arena, &g_pristine, sizeof g_arena);
  const int free_before = lowest_free_descriptor();
#ifdef CDMG_FUZZ_TRAP_ABORT
  g_reading_here = true;
#endif
  cdmg::read_component(g_arena.run, plan_b ? cdmg::HeaderPlan::kB : cdmg::HeaderPlan::kA, w.name,
                       target_of(g_arena.run, plan_b));
  recordio::units().unit(6).flush();
#ifdef CDMG_FUZZ_TRAP_ABORT
  g_reading_here = false;
#endif
  const std::string console = contents(w.console);
  empty(w.console);
  const cdmg::Run& run = g_arena.run;
  if (run.i != e.i || run.in != e.in || run.nt != e.nt) {
    report(plan, "i, in, nt = " + std::to_string(run.i) + ", " + std::to_string(run.in) + ", " +
                     std::to_string(run.nt) + "; the model says " + std::to_string(e.i) + ", " +
                     std::to_string(e.in) + ", " + std::to_string(e.nt));
  }
  if (console != e.console) {
    report(plan, "console:\n" + shown(console) + "the model says:\n" + shown(e.console));
  }
  if (recordio::units().unit(11).connected()) report(plan, "unit 11 is still connected");
  if (lowest_free_descriptor() != free_before) report(plan, "a descriptor was left open");
  check_samples(plan, e, plan_b);
}

// In a child: reads the file by the plan, with the console and standard error going to the
// memory files the parent looks at. The runtime's fatal path ends the child by an abort.
[[noreturn]] void read_as_child(Workplace& w, bool plan_b) {
  // A child that hangs is ended by the alarm, before the fuzzer's own timeout.
  std::signal(SIGALRM, SIG_DFL);
  alarm(8);
  dup2(w.child_out, w.console);
  dup2(w.child_err, STDERR_FILENO);
  cdmg::read_component(g_arena.run, plan_b ? cdmg::HeaderPlan::kB : cdmg::HeaderPlan::kA, w.name,
                       target_of(g_arena.run, plan_b));
  recordio::units().unit(6).flush();
  std::fprintf(stderr, "the reading returned: i, in, nt = %d, %d, %d\n", g_arena.run.i,
               g_arena.run.in, g_arena.run.nt);
  _exit(0);
}

// The child maker: for each plan it is sent, forks a child that reads the file and sends back how
// the child ended. It ends when the parent goes.
[[noreturn]] void serve_as_child_maker(Workplace& w) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  for (const int sig : {SIGINT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGXFSZ})
    std::signal(sig, SIG_DFL);
  for (;;) {
    char plan = 0;
    const ssize_t n = ::read(w.request, &plan, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) _exit(0);
    const pid_t pid = fork();
    if (pid < 0) _exit(3);
    if (pid == 0) read_as_child(w, plan == 'B');
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) _exit(4);
    }
    if (::write(w.reply, &status, sizeof status) != static_cast<ssize_t>(sizeof status)) _exit(5);
  }
}

void start_child_maker(Workplace& w) {
  int to_maker[2];
  int from_maker[2];
  if (pipe(to_maker) != 0 || pipe(from_maker) != 0) {
    std::perror("pipe");
    std::abort();
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    std::abort();
  }
  if (pid == 0) {
    ::close(to_maker[1]);
    ::close(from_maker[0]);
    w.request = to_maker[0];
    w.reply = from_maker[1];
    serve_as_child_maker(w);
  }
  ::close(to_maker[0]);
  ::close(from_maker[1]);
  // A child maker that is gone shows as a failed read of its answer, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  w.request = to_maker[1];
  w.reply = from_maker[0];
}

void read_in_child(const char* plan, const Expectation& e, bool plan_b) {
  Workplace& w = workplace();
  empty(w.child_out);
  empty(w.child_err);
  const char request = plan_b ? 'B' : 'A';
  int status = 0;
  ssize_t sent;
  while ((sent = ::write(w.request, &request, 1)) < 0 && errno == EINTR) {
  }
  ssize_t answered = 0;
  if (sent == 1) {
    while ((answered = ::read(w.reply, &status, sizeof status)) < 0 && errno == EINTR) {
    }
  }
  if (answered != static_cast<ssize_t>(sizeof status)) report(plan, "the child maker is gone");
  const std::string err = contents(w.child_err);
  const std::string out = contents(w.child_out);
  if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGABRT) {
    std::string how = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                          : "exit status " + std::to_string(WEXITSTATUS(status));
    report(plan, "the reading ended by " + how + ", the model expects the failure \"" +
                     e.diagnostic + "\"; standard error:\n" + err);
  }
  const std::string first = err.substr(0, err.find('\n'));
  if (first != e.diagnostic) {
    report(plan, "diagnostic \"" + first + "\", the model says \"" + e.diagnostic + "\"");
  }
  if (e.data_format && err.find("\nlast format: (8E10.4)\n") == std::string::npos) {
    report(plan, "the diagnostic does not show the data format:\n" + err);
  }
  if (out != e.console) {
    report(plan, "console:\n" + shown(out) + "the model says:\n" + shown(e.console));
  }
}

}  // namespace

#ifdef CDMG_FUZZ_TRAP_ABORT
extern "C" [[noreturn]] void __real_abort();
extern "C" [[noreturn]] void __wrap_abort() {
  if (g_reading_here) __builtin_trap();
  __real_abort();
}
#endif

// Called by the fuzzer before it loads its corpus: the child maker starts while this process is
// still small. (A replay starts it on the first input.)
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  workplace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  Workplace& w = workplace();
  put_file(w.path, data, size);
  const fuzzref::Text text(data, size);
  const Expectation a = predict(text, false);
  const Expectation b = predict(text, true);
  // A file that fails within its first 32 records fails alike under both plans: one child is
  // enough (a fork is the slowest step by far).
  const bool same_failure = a.fails && a.in_common_part;
  if (same_failure && (!b.fails || b.diagnostic != a.diagnostic || b.console != a.console)) {
    report("A and B", "the model's plans differ within their common records");
  }
  if (a.fails) {
    read_in_child("A", a, false);
  } else {
    read_here("A", a, false);
  }
  if (b.fails) {
    if (!same_failure) read_in_child("B", b, true);
  } else {
    read_here("B", b, true);
  }
  return 0;
}
