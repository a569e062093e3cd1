// Statements of the record I/O runtime over units: list-directed console lines, text assignment,
// OPEN and CLOSE, skip READs, formatted READs through files, and the end of a file.
//
// Each scenario runs in-process over a fake of the file layer (support/fake_files.h), starting
// as the process entry starts the runtime and ending as STOP ends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "recordio/format.h"
#include "recordio/input_editing.h"
#include "recordio/recordio.h"
#include "support/diagnostics.h"
#include "support/fake_files.h"
#include "support/generator.h"
#include "support/statements.h"
#include "support/string_source.h"

namespace recordio {
namespace {

using namespace recordio_testing;
using testing_support::Crashed;
using testing_support::FakeFiles;
using testing_support::InProcessRuntime;

// What a scenario left behind: standard output and error, the files, whether it ended normally
// (its body and the STOP after it), and the lines its body reported.
struct Outcome {
  std::string out, err;
  std::map<std::string, std::string> files;
  bool stopped = false;
  std::string report;
};

// The lines the scenario in progress reported.
std::string reported;

void report(const std::string& line) {
  reported += line + "\n";
}

// What the run of `runtime` left behind; `stopped`: it ended normally.
Outcome outcome_of(InProcessRuntime& runtime, bool stopped) {
  const FakeFiles& fake = runtime.files();
  return {fake.out, fake.err, fake.files, stopped, reported};
}

// Runs `body` in-process over the files `files` and standard input `input`, a read or write of
// the fake moving at most `most_per_transfer` bytes, then STOPs.
Outcome run_scenario(const std::function<void()>& body,
                     const std::map<std::string, std::string>& files = {},
                     const std::string& input = "",
                     std::size_t most_per_transfer = static_cast<std::size_t>(-1)) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  fake.files = files;
  fake.input = input;
  fake.most_per_transfer = most_per_transfer;
  reported.clear();
  const bool stopped = runtime.run(body);
  return outcome_of(runtime, stopped);
}

// The scenario over the file `name` holding `content`, opened with status "old" on kFileUnit.
Outcome run_on_file(const std::string& name, const std::string& content,
                    const std::function<void()>& body) {
  InProcessRuntime runtime;
  reported.clear();
  const bool stopped = runtime.run_on_file(name, content, body);
  return outcome_of(runtime, stopped);
}

// For a scenario expected to stop normally.
void expect_stopped(const Outcome& o) {
  EXPECT_TRUE(o.stopped) << "took the fatal path:\n" << o.err;
}

// --- What a scenario does

// f_at_end's answer as a report line.
std::string at_end_line(ftnint unit) {
  return f_at_end(unit) ? "at end" : "not at end";
}

// Looks ahead, reads a record and looks ahead again.
void look_ahead_and_read() {
  report(at_end_line(kFileUnit));
  report(read_line(kFileUnit, true));
  report(at_end_line(kFileUnit));
}

// Fields of ten columns, each right-justified.
std::string fields(const std::vector<std::string>& texts) {
  std::string record;
  for (const std::string& t : texts) record += std::string(10 - t.size(), ' ') + t;
  return record;
}

// --- List-directed WRITE

struct Item {
  int type;
  std::string text;
  std::int32_t integer = 0;
  float real = 0.0f;
};

Item Text(std::string s) {
  return {kTypeCharacter, std::move(s)};
}
Item Int(std::int32_t v) {
  return {kTypeInteger, {}, v};
}
Item Real(float v) {
  return {kTypeReal, {}, 0, v};
}

void write_items(ftnint unit, const std::vector<Item>& items) {
  const cilist c{0, unit, 0, nullptr, 0};
  s_wsle(&c);
  for (const Item& item : items) {
    switch (item.type) {
      case kTypeCharacter:
        do_lio(kTypeCharacter, 1, item.text.data(), item.text.size());
        break;
      case kTypeInteger:
        do_lio(kTypeInteger, 1, &item.integer, sizeof item.integer);
        break;
      default:
        do_lio(kTypeReal, 1, &item.real, sizeof item.real);
        break;
    }
  }
  e_wsle();
}

std::string chars(std::size_t n, char c) {
  return std::string(n, c);
}

TEST(ListWrite, PutsItemsOnLinesAndEndsALineBeforeTheItemThatWouldReachColumn80) {
  struct Case {
    const char* what;
    std::vector<Item> items;
    std::string out;
  };
  const Case cases[] = {
      {"two texts", {Text("AB"), Text("CD")}, " ABCD\n"},
      {"text and integers", {Text("i,in="), Int(3), Int(25)}, " i,in= 3 25\n"},
      {"zero and extremes", {Int(0), Int(INT_MIN), Int(INT_MAX)}, " 0 -2147483648 2147483647\n"},
      {"trailing blanks kept", {Text("AB  ")}, " AB  \n"},
      {"tab and quotes kept", {Text("A\tB 'q' \"r\" /,")}, " A\tB 'q' \"r\" /,\n"},
      {"text reaching column 79",
       {Text(chars(40, 'A')), Text(chars(38, 'B'))},
       " " + chars(40, 'A') + chars(38, 'B') + "\n"},
      {"text reaching column 80",
       {Text(chars(40, 'A')), Text(chars(39, 'B'))},
       " " + chars(40, 'A') + "\n " + chars(39, 'B') + "\n"},
      {"two 80-character texts",
       {Text(chars(80, 'x')), Text(chars(80, 'y'))},
       " " + chars(80, 'x') + "\n " + chars(80, 'y') + "\n"},
      // An integer's digits count, its blank and minus sign do not.
      {"integer of 2 digits after 77",
       {Text(chars(76, 'X')), Int(12)},
       " " + chars(76, 'X') + " 12\n"},
      {"integer of 3 digits after 77",
       {Text(chars(76, 'X')), Int(123)},
       " " + chars(76, 'X') + "\n 123\n"},
      {"negative integer after 77",
       {Text(chars(76, 'X')), Int(-12)},
       " " + chars(76, 'X') + " -12\n"},
      // A float's whole text counts, its blank and sign position included.
      {"float ending at column 79",
       {Text(chars(63, 'X')), Real(0.005f)},
       " " + chars(63, 'X') + "  0.00499999989\n"},
      {"float reaching column 80",
       {Text(chars(64, 'X')), Real(0.005f)},
       " " + chars(64, 'X') + "\n  0.00499999989\n"},
      {"a long item alone stays on one line",
       {Text(chars(120, 'L'))},
       " " + chars(120, 'L') + "\n"},
      {"a long item after another starts a new line",
       {Int(7), Text(chars(120, 'L'))},
       " 7\n " + chars(120, 'L') + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome r = run_scenario([&] { write_items(kConsole, c.items); });
    EXPECT_EQ(r.out, lines(c.out));
    EXPECT_EQ(r.err, "");
    expect_stopped(r);
  }
}

TEST(ListWrite, ManySmallItemsFillLinesUpToTheLimit) {
  std::vector<Item> letters(100, Text("x"));
  std::vector<Item> digits(50, Int(7));
  const Outcome r = run_scenario([&] {
    write_items(kConsole, letters);
    write_items(kConsole, digits);
  });
  std::string sevens_40;
  for (int k = 0; k < 40; ++k) sevens_40 += " 7";
  std::string sevens_10;
  for (int k = 0; k < 10; ++k) sevens_10 += " 7";
  // 78 letters make a line of 79 characters; the next letter would reach 80. Forty integers of
  // one digit make 80 characters: each was placed while the line stood below 79.
  EXPECT_EQ(r.out, lines(" " + chars(78, 'x') + "\n " + chars(22, 'x') + "\n" + sevens_40 + "\n" +
                         sevens_10 + "\n"));
  EXPECT_EQ(r.err, "");
}

TEST(ListWrite, UnitZeroIsStandardErrorAndStatementsFollowEachOther) {
  const Outcome r = run_scenario([&] {
    write_items(kConsole, {Text("one")});
    write_items(0, {Text("to error"), Int(-1)});
    write_items(kConsole, {});
    write_items(kConsole, {Text("two")});
  });
  EXPECT_EQ(r.out, lines(" one\n\n two\n"));
  EXPECT_EQ(r.err, lines(" to error -1\n"));
  expect_stopped(r);
}

// --- Text assignment

TEST(TextAssignment, CopiesTheShorterLengthAndBlankFillsTheRest) {
  struct Case {
    const char* what;
    std::string source;
    std::size_t dest_length;
    std::string expected;
  };
  const Case cases[] = {
      {"shorter source", "abc", 8, "abc     "},
      {"longer source", "abcdefghij", 4, "abcd"},
      {"equal lengths", "wxyz", 4, "wxyz"},
      {"empty source", "", 5, "     "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string dest(c.dest_length + 4, '#');  // four guard bytes after the destination
    s_copy(dest.data(), c.source.data(), c.dest_length, c.source.size());
    EXPECT_EQ(dest.substr(0, c.dest_length), c.expected);
    EXPECT_EQ(dest.substr(c.dest_length), "####");
  }
}

// --- OPEN and CLOSE

TEST(Open, NameLosesTrailingBlanksOnly) {
  struct Case {
    const char* what;
    std::string text;
    std::string file;
  };
  const Case cases[] = {
      {"80-character text", text80("out.csv"), "out.csv"},
      {"leading blanks stay", text80("  out.csv"), "  out.csv"},
      {"inner blank stays", text80("my out.csv"), "my out.csv"},
      {"no blanks", "out.csv", "out.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome r = run_scenario([&] {
      open_file(kFileUnit, c.text, "unknown");
      write_the_row(kFileUnit);
      close_file(kFileUnit);
    });
    expect_stopped(r);
    std::vector<std::string> names;
    for (const auto& [name, content] : r.files) names.push_back(name);
    EXPECT_EQ(names, std::vector<std::string>{c.file});
    EXPECT_EQ(r.files.at(c.file), lines(std::string(kRow) + "\n"));
  }
}

// A file opened with status unknown is cut where its rows end when its unit closes: at CLOSE, at
// an OPEN over the unit, or at the STOP of a run that left it open.
TEST(Open, UnknownExistingFileIsCutToTheRowsWrittenAtClose) {
  const std::string before(1000, 'q');
  const std::string row = lines(std::string(kRow) + "\n");
  const auto close = [] { close_file(kFileUnit); };
  struct Case {
    const char* what;
    int rows;
    std::function<void()> then;  // what ends the unit's connection
    std::string expected;
    std::string report;  // what the scenario reported, then its console
  };
  const Case cases[] = {
      {"no row keeps the file", 0, close, before, ""},
      {"one row", 1, close, row, ""},
      {"two rows", 2, close, row + row, ""},
      {"one row, then an OPEN over the unit", 1,
       [] {
         open_file(kFileUnit, text80("second.txt"), "old");
         report(read_line(kFileUnit, true));
       },
       row, "abc\n"},
      {"one row, then STOP", 1, [] { console_line("done"); }, row, lines(" done\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome r = run_scenario(
        [&] {
          open_file(kFileUnit, text80("old.csv"), "unknown");
          for (int k = 0; k < c.rows; ++k) write_the_row(kFileUnit);
          c.then();
        },
        {{"old.csv", before}, {"second.txt", "abc\n"}});
    expect_stopped(r);
    EXPECT_EQ(r.files.at("old.csv"), c.expected);
    EXPECT_EQ(r.report + r.out, c.report);
  }
}

// The status, in any letter case: "old" opens only a file that exists, the others create a
// missing one empty, and OPEN alone never empties a file. (The diagnostic of a missing old file is
// FatalPath.OpenOldOfAMissingFileAfterAConsoleLine's.)
TEST(Open, OnlyStatusOldRefusesAMissingFileAndOpenAloneEmptiesNone) {
  struct Case {
    const char* status;
    bool present;                      // f.txt holds "kept\n" before the OPEN
    std::optional<std::string> after;  // what f.txt holds after OPEN and CLOSE; none: no file
  };
  const Case cases[] = {
      {"unknown", false, ""},  {"UNKNOWN", false, ""},  {"new", false, ""},
      {"old", false, {}},      {"OLD", false, {}},      {"Old", false, {}},
      {"old", true, "kept\n"}, {"OLD", true, "kept\n"}, {"Old", true, "kept\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.status) + (c.present ? ", present" : ", missing"));
    std::map<std::string, std::string> files;
    if (c.present) files["f.txt"] = "kept\n";
    const Outcome r = run_scenario(
        [&] {
          open_file(kFileUnit, text80("f.txt"), c.status);
          close_file(kFileUnit);
        },
        files);
    EXPECT_EQ(r.stopped, c.after.has_value()) << r.err;
    EXPECT_EQ(r.files.count("f.txt") != 0, c.after.has_value());
    if (c.after) {
      EXPECT_EQ(r.files.at("f.txt"), *c.after);
    }
  }
}

TEST(Close, OfAnUnconnectedUnitIsHarmless) {
  const Outcome r = run_scenario(
      [&] {
        close_file(12);
        open_file(kFileUnit, text80("a.txt"), "old");
        close_file(kFileUnit);
        close_file(kFileUnit);
        write_items(kConsole, {Text("still here")});
      },
      {{"a.txt", "abc\n"}});
  EXPECT_EQ(r.out, lines(" still here\n"));
  EXPECT_EQ(r.err, "");
  expect_stopped(r);
  EXPECT_EQ(r.files.at("a.txt"), "abc\n");
  EXPECT_EQ(r.files.count("fort.12"), 0u);
  EXPECT_EQ(r.files.size(), 1u);
}

// --- Skip READs, f_at_end and the end of a file

// What skip READs, text READs and f_at_end report over a file. With the end flag set, READs with
// an exit return -1 at their start; the flag lasts until the unit's next CLOSE or OPEN, and an
// OPEN of a connected unit closes it first.
TEST(SkipRead, ConsumesRecordsUninterpretedAndSetsTheEndFlagSilently) {
  struct Case {
    const char* what;
    std::string content;
    std::function<void()> body;
    std::string report;
  };
  const auto clear_end_flag = [](bool close_first) {
    return [close_first] {
      skip_record(kFileUnit, false);
      skip_record(kFileUnit, false);
      if (close_first) close_file(kFileUnit);
      open_file(kFileUnit, text80("f.txt"), "old");
      report(read_line(kFileUnit, true));
    };
  };
  const Case cases[] = {
      // The third skip meets the end in its end call.
      {"three skips on two records", "one\ntwo\n",
       [] {
         for (int k = 0; k < 3; ++k) report(skip_record(kFileUnit, false));
         report(skip_record(kFileUnit, true));
         report(read_line(kFileUnit, true));
       },
       "end 0\nend 0\nend -1\nstart -1\nstart -1\n"},
      {"a last record without a line end", "one\ntwo",
       [] {
         report(skip_record(kFileUnit, false));
         report(at_end_line(kFileUnit));
         report(skip_record(kFileUnit, false));
         report(at_end_line(kFileUnit));
         report(skip_record(kFileUnit, true));
       },
       "end 0\nnot at end\nend -1\nat end\nstart -1\n"},
      {"no character of the record interpreted", "a/b'c\"d,e f\t/\nsecond\n",
       [] {
         skip_record(kFileUnit, false);
         report(read_line(kFileUnit, true));
       },
       "second\n"},
      {"CLOSE, then OPEN, clear the end flag", "only\n", clear_end_flag(true), "only\n"},
      {"OPEN alone clears the end flag", "only\n", clear_end_flag(false), "only\n"},
      // f_at_end looks ahead without consuming.
      {"looking ahead at an empty file", "",
       [] {
         report(at_end_line(kFileUnit));
         skip_record(kFileUnit, false);
         report(read_line(kFileUnit, true));
       },
       "at end\nstart -1\n"},
      {"looking ahead at one record", "abc\n", look_ahead_and_read, "not at end\nabc\nat end\n"},
      {"looking ahead at a record without line end", "abc", look_ahead_and_read,
       "not at end\nitem -1\nat end\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome run = run_on_file("f.txt", c.content, c.body);
    expect_stopped(run);
    EXPECT_EQ(run.report, c.report);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
  }
}

// --- Formatted READ through a file

// What a READ adds to A editing (CharacterEditing, which keeps every byte of the field): the rest
// of a long record skipped, line ends of either kind, the unit's buffer seams, the end of the file.
TEST(FormattedRead, TextRecordsArePaddedCutAndEndAtLfOrCrLf) {
  const std::string hundred = [] {
    std::string s;
    for (int k = 0; k < 10; ++k) s += "0123456789";
    return s;
  }();
  // The unit reads 64 KiB at a time: 65531 bytes and a line end put the CR of "abc\r\n" on the
  // last byte of the first buffer and its LF on the first byte of the next.
  const std::string straddle = std::string(65531, 'x') + "\nabc\r\ndef\n";
  const std::string lone_cr_at_edge = std::string(65531, 'x') + "\nabc\rZ\n";
  struct Case {
    const char* what;
    std::string content;
    int reads;
    std::vector<std::string> texts;  // "<eof>" for a READ whose item met the end of the file
  };
  const Case cases[] = {
      {"short records", "abc\ndef\n", 3, {"abc", "def", "<eof>"}},
      {"100-character record", hundred + "\nnext\n", 2, {hundred.substr(0, 80), "next"}},
      {"exactly 80 characters", hundred.substr(0, 80) + "\nz\n", 2, {hundred.substr(0, 80), "z"}},
      {"CR LF line ends", "abc\r\ndef\r\n", 3, {"abc", "def", "<eof>"}},
      {"CR LF after 80 characters",
       hundred.substr(0, 80) + "\r\nz\r\n",
       2,
       {hundred.substr(0, 80), "z"}},
      {"empty record", "\nx\n", 2, {"", "x"}},
      {"empty record, CR LF", "\r\nx\r\n", 2, {"", "x"}},
      {"tab, quotes and other characters kept", "A\tB 'q' \"r\" /,\n", 1, {"A\tB 'q' \"r\" /,"}},
      {"CR LF across the buffer edge", straddle, 3, {std::string(80, 'x'), "abc", "def"}},
      {"lone CR at the buffer edge", lone_cr_at_edge, 2, {std::string(80, 'x'), "abc\rZ"}},
      {"last record without line end", "abc\nxyz", 2, {"abc", "<eof>"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome run = run_on_file("lines.txt", c.content, [&] {
      for (int k = 0; k < c.reads; ++k) report(read_line(kFileUnit, true));
    });
    expect_stopped(run);
    std::string expected;
    for (const std::string& t : c.texts) {
      if (t == "<eof>") {
        // The end of the file is met inside the item: after a last line end the previous READ
        // consumed without meeting the end, or inside a last record without a line end.
        expected += "item -1\n";
      } else {
        expected += t + "\n";
      }
    }
    EXPECT_EQ(run.report, expected);
  }
}

// What a data READ adds to the field rules (recordio_input_editing_test): the record, its line
// end and the next record, the unit's buffer seams, the fields read together or one by one, and
// the end of the file.
TEST(FormattedRead, DataRecordsKeepToTheirOwnColumns) {
  // A record of 65524 bytes and its line end put the CR of the data record's CR LF on the last
  // byte of the unit's first 64 KiB buffer; one of 65529 bytes puts a data record's columns
  // across its end.
  const std::string straddle = std::string(65524, 'x') + "\n       1.5\r\n2.5\n";
  const std::string eight = fields({"1.0", "-2.0", "3.0", "-4.0", "5.0", "-6.0", "7.0", "-8.0"});
  const std::string across = std::string(65529, 'x') + "\n" + eight + "\n" + eight + "\n";
  const auto f = [](double v) { return static_cast<float>(v); };
  struct Case {
    const char* what;
    std::string content;
    int skips;
    std::vector<std::string> reads;  // what each READ gives
  };
  const Case cases[] = {
      {"CR LF across the buffer edge",
       straddle,
       1,
       {data_line("end 0", {1.5f, 0, 0, 0, 0, 0, 0, 0}),
        data_line("end 0", {2.5f, 0, 0, 0, 0, 0, 0, 0})}},
      {"data record across the buffer edge",
       across,
       1,
       {data_line("end 0", {1, -2, 3, -4, 5, -6, 7, -8}),
        data_line("end 0", {1, -2, 3, -4, 5, -6, 7, -8})}},
      // Common fields around one of another shape, which the scan reads in its own columns.
      {"an exponent among common fields",
       fields({"1.0000", "1.5E+02", "-3.0000", "4.0000", "5.0000", "6.0000", "7.0000", "8.0"}) +
           "\n",
       0,
       {data_line("end 0", {1, 150, -3, 4, 5, 6, 7, 8})}},
      // The comma ends the second field four columns in: every later field begins four columns
      // before its own ten.
      {"a comma moves the later fields",
       "    1.0000"
       "2.5,      "
       "    3.0000"
       "    4.0000\n",
       0,
       {data_line("end 0", {1, 2.5f, 0, 3, 4, 0, 0, 0})}},
      {"fields past a short record's line end are not the next record's",
       "    1.0000    2.0000\n" + fields({"9", "9", "9", "9", "9", "9", "9", "9"}) + "\n",
       0,
       {data_line("end 0", {1, 2, 0, 0, 0, 0, 0, 0}),
        data_line("end 0", std::vector<float>(8, f(0.0009)))}},
      {"end of file inside a field keeps the earlier fields",
       "       1.5       2.5  3",
       0,
       {data_line("item 3 -1", {1.5f, 2.5f}), "start -1"}},
      {"end of file at a field boundary", "       1.5", 0, {data_line("item 2 -1", {1.5f})}},
      {"full record without line end ends in the end call",
       fields({"1", "2", "3", "4", "5", "6", "7", "8"}),
       0,
       {data_line("end -1", {f(0.0001), f(0.0002), f(0.0003), f(0.0004), f(0.0005), f(0.0006),
                             f(0.0007), f(0.0008)}),
        "start -1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string expected;
    for (const std::string& line : c.reads) expected += line + "\n";
    const Outcome run = run_on_file("data.txt", c.content, [&] {
      for (int k = 0; k < c.skips; ++k) skip_record(kFileUnit, false);
      for (std::size_t k = 0; k < c.reads.size(); ++k) report(read_data(kFileUnit));
    });
    expect_stopped(run);
    EXPECT_EQ(run.report, expected);
  }
}

// --- Formatted READs against the editors field by field

using testing_support::Generator;

// Records the editors read without an error, however the fields fall on the columns. Each field
// has ten columns: mostly the common shape, often another that keeps the fields in their columns
// (exponents, blanks among the digits, a comma in the last column, a sign or a point alone). Now
// and then a comma inside a field moves every later field (which are then unsigned, with one
// number of decimals, so that any ten columns of them read); a record is cut inside a field of
// the common shape, or goes on with digits after its eighty columns. LF or CR LF line ends; past
// the unit's 64 KiB buffer, so that records straddle its end. With `integers`, every field is an
// unsigned integer or a comma, for formats whose fields do not keep to the ten columns.
std::string generated_file(Generator& g, bool integers) {
  const auto fixed = [&](int decimals, bool sign) {
    char text[32];
    const double value = static_cast<double>(g.below(2000000)) / (1 + g.below(1000));
    std::snprintf(text, sizeof text, "%10.*f", decimals, sign && g.chance(50) ? -value : value);
    std::string field = text;
    return field.size() == 10 ? field : std::string("    0.0001");
  };
  static constexpr const char* kInPlace[] = {
      " 1.500E+02", "  1.5-03", "12345E2",  "  1 2 3 ",   "-  1.5",
      "2.5,",       ",",        "  -.E1",   "   .",       "-",
      "1.5d+1",     "  +4.",    "1.25e1  ", "0000012345", "   3.0 ,",
  };
  std::string file;
  const bool crlf = g.chance(30);
  while (file.size() < 150000) {
    std::string record;
    std::size_t cut_after = 0;  // a record may be cut after this column
    if (integers) {
      for (int f = 0; f < 8; ++f) record += g.chance(10) ? "    12345," : fixed(0, false);
      cut_after = 80;
    } else if (g.chance(10)) {
      const int moved = g.below(8);
      const int decimals = g.below(9);
      for (int f = 0; f < 8; ++f)
        record += f < moved ? fixed(g.below(9), true) : fixed(decimals, false);
      record.replace(static_cast<std::size_t>(moved) * 10, 6, "    7,");
      cut_after = 80;
    } else {
      for (int f = 0; f < 8; ++f) {
        if (g.chance(25)) {
          char text[16];
          std::snprintf(text, sizeof text, "%10s", kInPlace[g.below(15)]);
          record += text;
          cut_after = record.size();
        } else {
          record += fixed(g.below(9), true);
        }
      }
    }
    if (g.chance(8)) {
      record.resize(cut_after +
                    static_cast<std::size_t>(g.below(static_cast<int>(81 - cut_after))));
    } else if (g.chance(3)) {
      record += "123456789012";
    }
    file += record + (crlf && g.chance(90) ? "\r\n" : "\n");
  }
  if (g.chance(50)) file += std::string("    1.0000    2.0000").substr(0, g.below(21));
  return file;
}

// One READ of `format` with an end-of-file exit, its numeric items as bit patterns, its text items
// in brackets: "end N ..." or "item K -1 ..." or "start -1".
std::string read_with(ftnint unit, const char* format, const std::vector<DataEdit>& edits) {
  const cilist c{0, unit, 1, format, 0};
  if (s_rsfe(&c) != 0) return "start -1\n";
  std::string items;
  for (std::size_t k = 0; k < edits.size(); ++k) {
    int status;
    if (edits[k].code == 'A') {
      char text[5] = {'#', '#', '#', '#', '#'};
      status = do_fio(1, text, sizeof text);
      items += " [" + std::string(text, sizeof text) + "]";
    } else {
      float v = kUntouched;
      status = do_fio(1, &v, sizeof v);
      items += bits_of({v});
    }
    if (status != 0) return "item " + std::to_string(k + 1) + " -1" + items + "\n";
  }
  return "end " + std::to_string(e_rsfe()) + items + "\n";
}

// The same READ made of the editors alone, each field read where the one before it ended, then
// the rest of the record skipped through its line end. Once a READ has met the end of the file
// (`ended`), the next meets it at its start.
std::string read_by_the_editors(testing_support::StringSource& in, std::string_view file,
                                const std::vector<DataEdit>& edits, bool& ended) {
  if (ended) return "start -1\n";
  std::string items;
  for (std::size_t k = 0; k < edits.size(); ++k) {
    EditStatus status;
    if (edits[k].code == 'A') {
      char text[5] = {'#', '#', '#', '#', '#'};
      status = read_characters(in, text, sizeof text, static_cast<std::size_t>(edits[k].width));
      items += " [" + std::string(text, sizeof text) + "]";
    } else {
      float v = kUntouched;
      status = read_real(in, edits[k].width, edits[k].decimals, v);
      items += bits_of({v});
    }
    // An editing error ends the run.
    if (status == EditStatus::kUnexpected) return "fatal\n";
    if (status != EditStatus::kOk) {
      ended = true;
      return "item " + std::to_string(k + 1) + " -1" + items + "\n";
    }
  }
  const std::size_t line_end = file.find('\n', in.pos());
  if (line_end == std::string_view::npos) {
    in.seek(file.size());
    ended = true;
    return "end -1" + items + "\n";
  }
  in.seek(line_end + 1);
  return "end 0" + items + "\n";
}

// The line, from 1, where two reports begin to differ.
std::size_t first_difference(const std::string& a, const std::string& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
  return 1 + static_cast<std::size_t>(std::count(a.begin(), a.begin() + at, '\n'));
}

TEST(FormattedRead, RecordsReadAsTheEditorsReadEachFieldOnItsOwn) {
  // The program's format; others whose first eight fields are a data record's; and formats that
  // are not, which the editors read field by field.
  static constexpr const char* kFormats[] = {
      "(8E10.4)",  "(8F10.2)", "(4E10.4,4E10.0)", "(8E10.22)",         "(9E10.4)",
      "(8E10.23)", "(7E10.4)", "(8E11.4)",        "(E10.4,A5,6E10.4)",
  };
  // The last two do not keep to the ten columns of the fields.
  const auto in_columns = [](const std::string& format) {
    return format.find("E11") == std::string::npos && format.find('A') == std::string::npos;
  };
  Generator g(0x5eadu);
  for (const char* format : kFormats) {
    std::vector<DataEdit> edits;
    const std::optional<Format> compiled = Format::parse(format);
    ASSERT_TRUE(compiled.has_value());
    for (const DataItem& item : *compiled) edits.push_back(item.edit);
    const std::string file = generated_file(g, !in_columns(format));
    testing_support::StringSource in(file);
    // READs until one meets the end of the file at its start, or an editing error ends the run.
    const auto last = [](const std::string& line) {
      return line.rfind("start", 0) == 0 || line == "fatal\n";
    };
    std::string expected;
    bool ended = false;
    for (int k = 0; k < 10000; ++k) {
      const std::string line = read_by_the_editors(in, file, edits, ended);
      expected += line;
      if (last(line)) break;
    }
    // Reads as the file system gives them, and reads of at most seven bytes.
    for (const std::size_t most : {static_cast<std::size_t>(-1), std::size_t{7}}) {
      SCOPED_TRACE(std::string(format) + ", at most " + std::to_string(most) + " bytes a read");
      const Outcome run = run_scenario(
          [&] {
            open_file(kFileUnit, text80("data.txt"), "old");
            for (int k = 0; k < 10000; ++k) {
              const std::string line = read_with(kFileUnit, format, edits);
              reported += line;
              if (last(line)) break;
            }
          },
          {{"data.txt", file}}, "", most);
      std::string lines = run.report;
      if (!run.stopped) {
        EXPECT_EQ(testing_support::lines_of(run.err).at(0), "fmt: read unexpected character");
        lines += "fatal\n";
      }
      EXPECT_TRUE(lines == expected)
          << "the first difference is in READ " << first_difference(lines, expected);
    }
  }
}

}  // namespace
}  // namespace recordio
