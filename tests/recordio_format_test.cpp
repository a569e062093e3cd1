// Format texts: parsing into data items and literals, rejection of malformed texts, and the walk
// a statement makes over a format (literals performed on the way, record ends and reversion).
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "recordio/format.h"

namespace recordio {
namespace {

// A literal's text in angle brackets: "<,>".
std::string bracketed(std::string_view text) {
  std::string s(1, '<');
  s.append(text);
  s.push_back('>');
  return s;
}

// One parsed operation in a readable form: "A80", "E10.4", "F7.3", or a bracketed literal.
std::string describe(const Format& format, const FormatOp& op) {
  if (op.literal) return bracketed(format.literal(op));
  std::string s(1, op.edit.code);
  if (op.edit.code == 'A') {
    if (op.edit.width != 0) s += std::to_string(op.edit.width);
  } else {
    s += std::to_string(op.edit.width) + "." + std::to_string(op.edit.decimals);
  }
  return s;
}

std::vector<std::string> describe_all(const Format& format) {
  std::vector<std::string> ops;
  for (std::size_t i = 0; i < format.size(); ++i) ops.push_back(describe(format, format.op(i)));
  return ops;
}

std::string describe(const DataEdit& edit) {
  const FormatOp op{false, edit, 0, 0};
  return describe(Format(), op);
}

// Format 2000 as the conversion run stores it: 0x02 delimits the literal comma.
constexpr char kFormat2000[] = "(F7.3,3(\x02,\x02,F10.3))";

// --- Parsing

struct ParseCase {
  std::string_view text;
  std::vector<std::string> ops;
  std::size_t reversion;
};

TEST(FormatParse, ExpandsItemsLiteralsAndGroups) {
  using namespace std::string_view_literals;
  const ParseCase cases[] = {
      // The three formats of the conversion run.
      {"(a80)"sv, {"A80"}, 0},
      {"(8E10.4)"sv, {"E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "E10.4"}, 0},
      {kFormat2000, {"F7.3", "<,>", "F10.3", "<,>", "F10.3", "<,>", "F10.3"}, 1},
      // Either letter case.
      {"(A80)"sv, {"A80"}, 0},
      {"(e10.4,f7.3,E1.0,F2.1)"sv, {"E10.4", "F7.3", "E1.0", "F2.1"}, 0},
      // A without a width takes the item's length.
      {"(A)"sv, {"A"}, 0},
      {"(a,A1)"sv, {"A", "A1"}, 0},
      // Literals with each delimiter; a doubled delimiter stands for one.
      {"('x')"sv, {"<x>"}, 0},
      {"('it''s')"sv, {"<it's>"}, 0},
      {"(\"say \"\"hi\"\"\")"sv, {"<say \"hi\">"}, 0},
      {"(\x02"
       "a\x02\x02"
       "b\x02)"sv,
       {"<a\x02"
        "b>"},
       0},
      {"('''')"sv, {"<'>"}, 0},
      {"('')"sv, {"<>"}, 0},
      // The other delimiters are ordinary characters inside a literal.
      {"('a\"b\x02"
       "c')"sv,
       {"<a\"b\x02"
        "c>"},
       0},
      {"(\"a'b\")"sv, {"<a'b>"}, 0},
      {"(\x02"
       "a'b\"c\x02)"sv,
       {"<a'b\"c>"},
       0},
      // Blanks and commas inside a literal are kept; parentheses there are no groups.
      {"(' a , b ')"sv, {"< a , b >"}, 0},
      {"('(x)',A1)"sv, {"<(x)>", "A1"}, 0},
      // Literals between data items.
      {"('t=',F7.3,' s')"sv, {"<t=>", "F7.3", "< s>"}, 0},
      // Blanks outside literals are insignificant, even inside numbers.
      {" ( 8 E 10 . 4 ) "sv,
       {"E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "E10.4"},
       0},
      {"(A 8 0)"sv, {"A80"}, 0},
      {"(F1 0.3 )"sv, {"F10.3"}, 0},
      {"(1 2A1)"sv, std::vector<std::string>(12, "A1"), 0},
      // Repeat counts on items and on groups, nested groups.
      {"(2A3)"sv, {"A3", "A3"}, 0},
      {"(1F5.2)"sv, {"F5.2"}, 0},
      {"(2(A1,'x'))"sv, {"A1", "<x>", "A1", "<x>"}, 0},
      {"(A2,2(F5.1,2('x',E9.2)))"sv,
       {"A2", "F5.1", "<x>", "E9.2", "<x>", "E9.2", "F5.1", "<x>", "E9.2", "<x>", "E9.2"},
       1},
      {"((A1))"sv, {"A1"}, 0},
      {"(A1,(F2.0),A3)"sv, {"A1", "F2.0", "A3"}, 1},
      // The reversion point is the last group at the outermost level, not an inner one.
      {"(2(A1),3(F2.0),A4)"sv, {"A1", "A1", "F2.0", "F2.0", "F2.0", "A4"}, 2},
      {"(A1,2(A2,(A3)),A4)"sv, {"A1", "A2", "A3", "A2", "A3", "A4"}, 1},
      {"(A1,2(A2),3(A3),A4)"sv, {"A1", "A2", "A2", "A3", "A3", "A3", "A4"}, 3},
      // A format without data items is still a format.
      {"('abc')"sv, {"<abc>"}, 0},
      {"()"sv, {}, 0},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const std::optional<Format> format = Format::parse(c.text);
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(describe_all(*format), c.ops);
    EXPECT_EQ(format->reversion_point(), c.reversion);
    bool data = false;
    for (const std::string& op : c.ops) data = data || op[0] != '<';
    EXPECT_EQ(format->has_data(), data);
  }
}

TEST(FormatParse, RejectsMalformedTexts) {
  using namespace std::string_view_literals;
  const std::string_view bad[] = {
      ""sv,
      "   "sv,
      "A80"sv,        // no parentheses
      "(A80"sv,       // unclosed
      "((A80)"sv,     // unclosed outer list
      "(2(A1,A2)"sv,  // unclosed
      ")A80("sv,      // wrong order
      "(0A5)"sv,      // zero repeat count
      "(0(A5))"sv,    // zero repeat count on a group
      "(-1A5)"sv,     // negative repeat count
      "(A0)"sv,       // zero width
      "(E10)"sv,      // no decimals
      "(F7)"sv,       // no decimals
      "(E.4)"sv,      // no width
      "(F.3)"sv,      // no width
      "(E0.4)"sv,     // zero width
      "(F0.3)"sv,     // zero width
      "(F10.)"sv,     // point without decimals
      "(E10,4)"sv,    // comma for point
      "(E10.4.2)"sv,  // two points
      "(A5.2)"sv,     // A takes no decimals
      "(Q5)"sv,       // no such descriptor
      "(K3)"sv,       // no such descriptor
      "(8)"sv,        // repeat count without an item
      "(3,A1)"sv,     // repeat count without an item
      "(A5,,A5)"sv,   // empty item
      "(,A5)"sv,      // empty item
      "(A5,)"sv,      // empty item
      "(A5 A5)"sv,    // missing comma
      "(A5E10.4)"sv,  // missing comma
      "('x'A1)"sv,    // missing comma after a literal
      "(2'x')"sv,     // a literal takes no repeat count
      "('abc)"sv,     // unterminated literal
      "(\"abc')"sv,   // unterminated literal (other delimiter)
      "(\x02"
      "abc)"sv,                      // unterminated literal
      "('it''s)"sv,                  // the doubled delimiter does not end the literal
      "(F7.3,3(\x02,\x02,F10.3)"sv,  // format 2000 without its last parenthesis
  };
  for (const std::string_view text : bad) {
    EXPECT_FALSE(Format::parse(text).has_value()) << "text \"" << text << "\"";
  }
}

TEST(FormatParse, IgnoresWhatFollowsTheClosingParenthesis) {
  const std::optional<Format> plain = Format::parse("(A5,'x')");
  const std::optional<Format> followed = Format::parse("(A5,'x') and a note (F7.3)");
  ASSERT_TRUE(plain.has_value());
  ASSERT_TRUE(followed.has_value());
  ASSERT_EQ(followed->size(), plain->size());
  EXPECT_EQ(followed->op(0).edit.width, 5);
  EXPECT_EQ(followed->literal(followed->op(1)), "x");
}

TEST(FormatOf, ParsesAConstantTextOnceAndKeepsIt) {
  static constexpr char kText[] = "(8E10.4)";
  const Format& first = Format::of(kText);
  const Format& second = Format::of(kText);
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(describe_all(first), std::vector<std::string>(8, "E10.4"));
}

TEST(FormatOfDeathTest, AMalformedConstantTextIsFatal) {
  static constexpr char kBad[] = "(8E10)";
  EXPECT_DEATH(Format::of(kBad), "fmt: error in format");
}

// --- The walk

// Records what the walk asks of its statement, in order; the test adds the data items reached.
// A walk that keeps ending records without reaching an item would never return: after 100
// record ends the context gives up by throwing.
struct RecordingContext {
  std::vector<std::string> events;
  int record_ends = 0;
  void literal(std::string_view text) { events.push_back(bracketed(text)); }
  void end_record() {
    events.emplace_back("end");
    if (++record_ends > 100) throw std::runtime_error("the walk ends records without end");
  }
};

struct WalkCase {
  const char* text;
  int items;  // data items the statement transfers
  std::vector<std::string> before_finish;
  std::vector<std::string> from_finish;
};

TEST(FormatWalk, PerformsLiteralsRecordEndsAndReversionInOrder) {
  const WalkCase cases[] = {
      // Format 2000 with the four items of a row: nothing is left for the end call.
      {kFormat2000, 4, {"F7.3", "<,>", "F10.3", "<,>", "F10.3", "<,>", "F10.3"}, {}},
      // More items than data items: the record ends and the walk starts again at the group.
      {kFormat2000,
       7,
       {"F7.3", "<,>", "F10.3", "<,>", "F10.3", "<,>", "F10.3", "end", "<,>", "F10.3", "<,>",
        "F10.3", "<,>", "F10.3"},
       {}},
      // Fewer items: the end call performs the literal up to the next data item and stops.
      {kFormat2000, 2, {"F7.3", "<,>", "F10.3"}, {"<,>"}},
      {kFormat2000, 1, {"F7.3"}, {"<,>"}},
      {kFormat2000, 0, {}, {}},
      {"(a80)", 1, {"A80"}, {}},
      {"(a80)", 3, {"A80", "end", "A80", "end", "A80"}, {}},
      {"(8E10.4)",
       10,
       {"E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "E10.4", "end", "E10.4",
        "E10.4"},
       {}},
      // Literals before the first item and after the last.
      {"('t=',F7.3,' s')", 1, {"<t=>", "F7.3"}, {"< s>"}},
      {"('t=',F7.3,' s')", 2, {"<t=>", "F7.3", "< s>", "end", "<t=>", "F7.3"}, {"< s>"}},
      {"('a',A1,'b','c',A2,'d')", 1, {"<a>", "A1"}, {"<b>", "<c>"}},
      // No items at all: the end call performs the leading literals only.
      {"('head',A1,'tail')", 0, {}, {"<head>"}},
      {"('abc')", 0, {}, {"<abc>"}},
      // Reversion to the last outermost group, with its repeat count, after the items behind it.
      {"('a',2(A1,'b'),'c',F5.1)",
       6,
       {"<a>", "A1", "<b>", "A1", "<b>", "<c>", "F5.1", "end", "A1", "<b>", "A1", "<b>", "<c>",
        "F5.1"},
       {}},
      {"('a',2(A1,'b'),'c',F5.1)",
       4,
       {"<a>", "A1", "<b>", "A1", "<b>", "<c>", "F5.1", "end", "A1"},
       {"<b>"}},
      {"(A1,2(A2,(A3)),A4)", 8, {"A1", "A2", "A3", "A2", "A3", "A4", "end", "A2", "A3"}, {}},
      {"(2(A1),3(F2.0),A4)",
       8,
       {"A1", "A1", "F2.0", "F2.0", "F2.0", "A4", "end", "F2.0", "F2.0"},
       {}},
      {"(A1,2(A2),3(A3),A4)", 9, {"A1", "A2", "A2", "A3", "A3", "A3", "A4", "end", "A3", "A3"}, {}},
      // Without a group the walk starts again at the beginning, literals included.
      {"('x',A1)", 3, {"<x>", "A1", "end", "<x>", "A1", "end", "<x>", "A1"}, {}},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " with " + std::to_string(c.items) + " items");
    const std::optional<Format> format = Format::parse(c.text);
    ASSERT_TRUE(format.has_value());
    RecordingContext context;
    FormatWalk walk;
    walk.start(*format);
    for (int i = 0; i < c.items; ++i) {
      const DataEdit* edit = walk.next(context);
      ASSERT_NE(edit, nullptr) << "item " << i;
      context.events.push_back(describe(*edit));
    }
    EXPECT_EQ(context.events, c.before_finish);
    context.events.clear();
    walk.finish(context);
    EXPECT_EQ(context.events, c.from_finish);
  }
}

TEST(FormatWalk, StartBeginsAgainAtTheFirstItem) {
  const std::optional<Format> format = Format::parse(kFormat2000);
  ASSERT_TRUE(format.has_value());
  FormatWalk walk;
  RecordingContext context;
  walk.start(*format);
  ASSERT_NE(walk.next(context), nullptr);
  ASSERT_NE(walk.next(context), nullptr);
  walk.finish(context);
  context.events.clear();
  // The next statement with the same format: a fresh row.
  walk.start(*format);
  const DataEdit* edit = walk.next(context);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(describe(*edit), "F7.3");
  EXPECT_TRUE(context.events.empty());
}

TEST(FormatWalk, AFormatWithoutDataItemsYieldsNoItemAndEndsNoRecord) {
  for (const char* text : {"('abc')", "()", "('a','b')"}) {
    SCOPED_TRACE(text);
    const std::optional<Format> format = Format::parse(text);
    ASSERT_TRUE(format.has_value());
    RecordingContext context;
    FormatWalk walk;
    walk.start(*format);
    try {
      EXPECT_EQ(walk.next(context), nullptr);
      EXPECT_EQ(walk.next(context), nullptr);
    } catch (const std::runtime_error& e) {
      ADD_FAILURE() << e.what();
    }
    EXPECT_EQ(context.record_ends, 0);
  }
}

}  // namespace
}  // namespace recordio
