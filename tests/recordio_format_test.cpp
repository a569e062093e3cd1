// Format texts: compiling into data items with the literals before them, rejection of malformed
// texts, and the walk a statement makes over a format.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recordio/format.h"
#include "recordio/recordio.h"

namespace recordio {
namespace {

// A literal's text in angle brackets: "<,>".
std::string bracketed(std::string_view text) {
  std::string s(1, '<');
  s.append(text);
  s.push_back('>');
  return s;
}

// One data item in a readable form: "A80", "E10.4", "F7.3".
std::string describe(const DataEdit& edit) {
  std::string s(1, edit.code);
  if (edit.code == 'A') {
    if (edit.width != 0) s += std::to_string(edit.width);
  } else {
    s += std::to_string(edit.width) + "." + std::to_string(edit.decimals);
  }
  return s;
}

// A data item with its literal prefix in brackets when it has one: "<,>F10.3".
std::string describe(const Format& format, const DataItem& item) {
  const std::string_view prefix = format.prefix(item);
  return (prefix.empty() ? std::string() : bracketed(prefix)) + describe(item.edit);
}

// The compiled format as a walk over all of it sees it: each data item with its prefix, then the
// bracketed literal after the last item when there is one.
std::vector<std::string> describe_all(const Format& format) {
  std::vector<std::string> parts;
  FormatWalk walk;
  walk.start(format);
  while (!walk.at_end()) parts.push_back(describe(format, walk.take()));
  if (!walk.rest().empty()) parts.push_back(bracketed(walk.rest()));
  return parts;
}

// Format 2000 as the conversion run stores it: 0x02 delimits the literal comma.
constexpr char kFormat2000[] = "(F7.3,3(\x02,\x02,F10.3))";

// --- Parsing

TEST(FormatParse, CompilesItemsWithTheLiteralsBeforeThem) {
  using namespace std::string_view_literals;
  const std::vector<std::string> eight(8, "E10.4");
  const struct {
    std::string_view text;
    std::vector<std::string> parts;
  } cases[] = {
      // The three formats of the conversion run.
      {"(a80)"sv, {"A80"}},
      {"(8E10.4)"sv, eight},
      {kFormat2000, {"F7.3", "<,>F10.3", "<,>F10.3", "<,>F10.3"}},
      // Either letter case.
      {"(A80)"sv, {"A80"}},
      {"(e10.4,f7.3,E1.0,F2.1)"sv, {"E10.4", "F7.3", "E1.0", "F2.1"}},
      // A without a width takes the item's length.
      {"(A)"sv, {"A"}},
      {"(a,A1)"sv, {"A", "A1"}},
      // Literals with each delimiter; a doubled delimiter stands for one.
      {"('x')"sv, {"<x>"}},
      {"('it''s')"sv, {"<it's>"}},
      {"(\"say \"\"hi\"\"\")"sv, {"<say \"hi\">"}},
      {"(\x02"
       "a\x02\x02"
       "b\x02)"sv,
       {"<a\x02"
        "b>"}},
      {"('''')"sv, {"<'>"}},
      {"('')"sv, {}},
      // The other delimiters are ordinary characters inside a literal.
      {"('a\"b\x02"
       "c')"sv,
       {"<a\"b\x02"
        "c>"}},
      {"(\"a'b\")"sv, {"<a'b>"}},
      {"(\x02"
       "a'b\"c\x02)"sv,
       {"<a'b\"c>"}},
      // Blanks and commas inside a literal are kept; parentheses there are no groups.
      {"(' a , b ')"sv, {"< a , b >"}},
      {"('(x)',A1)"sv, {"<(x)>A1"}},
      // Literals before, between and after data items; neighbouring literals join.
      {"('t=',F7.3,' s')"sv, {"<t=>F7.3", "< s>"}},
      {"('a',A1,'b','c',A2,'d')"sv, {"<a>A1", "<bc>A2", "<d>"}},
      // Blanks outside literals are insignificant, even inside numbers.
      {" ( 8 E 10 . 4 ) "sv, eight},
      {"(A 8 0)"sv, {"A80"}},
      {"(F1 0.3 )"sv, {"F10.3"}},
      {"(1 2A1)"sv, std::vector<std::string>(12, "A1")},
      // Repeat counts on items and on groups, nested groups.
      {"(2A3)"sv, {"A3", "A3"}},
      {"(1F5.2)"sv, {"F5.2"}},
      {"(2(A1,'x'))"sv, {"A1", "<x>A1", "<x>"}},
      {"(A2,2(F5.1,2('x',E9.2)))"sv,
       {"A2", "F5.1", "<x>E9.2", "<x>E9.2", "F5.1", "<x>E9.2", "<x>E9.2"}},
      {"((A1))"sv, {"A1"}},
      {"(A1,(F2.0),A3)"sv, {"A1", "F2.0", "A3"}},
      {"('a',2(A1,'b'),'c',F5.1)"sv, {"<a>A1", "<b>A1", "<bc>F5.1"}},
      // A format without data items is still a format.
      {"('abc')"sv, {"<abc>"}},
      {"()"sv, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const std::optional<Format> format = Format::parse(c.text);
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(describe_all(*format), c.parts);
  }
}

TEST(FormatParse, RejectsFormatsBeyondTheLimits) {
  // At most 256 data items and literals after expanding repeat counts, and at most 1024 bytes of
  // literal text: a compiled format sits in fixed storage.
  EXPECT_TRUE(Format::parse("(16(16A1))").has_value());
  EXPECT_FALSE(Format::parse("(16(16A1),A1)").has_value());
  EXPECT_FALSE(Format::parse("(257('x'))").has_value());
  const std::string kilobyte = "'" + std::string(1024, 'x') + "'";
  EXPECT_TRUE(Format::parse("(" + kilobyte + ")").has_value());
  EXPECT_FALSE(Format::parse("(" + kilobyte + ",'y')").has_value());
  const std::string half = "'" + std::string(512, 'x') + "'";
  EXPECT_TRUE(Format::parse("(2(" + half + "))").has_value());
  EXPECT_FALSE(Format::parse("(3(" + half + "))").has_value());
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
  EXPECT_EQ(describe_all(*followed), describe_all(*plain));
}

// A text's compiled form is found by the text's address. The first texts keep theirs; texts beyond
// the cache's room share its last place, compiled again when they come back, and every one of
// them still gives its own format. A malformed text has none.
TEST(FormatCache, CompilesATextOnceAndServesEveryTextBeyondItsRoom) {
  static constexpr char kTexts[][8] = {"(A1)", "(A2)", "(A3)", "(A4)",  "(A5)",  "(A6)",
                                       "(A7)", "(A8)", "(A9)", "(A10)", "(A11)", "(8E10)"};
  constexpr std::size_t kValid = std::size(kTexts) - 1;
  static_assert(kValid > FormatCache::kRoom + 1);
  auto cache = std::make_unique<FormatCache>();
  std::vector<const Format*> first(kValid);
  for (int round = 0; round < 2; ++round) {
    for (std::size_t k = 0; k < kValid; ++k) {
      SCOPED_TRACE(kTexts[k]);
      const Format* f = cache->of(kTexts[k]);
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(describe_all(*f), std::vector<std::string>{"A" + std::to_string(k + 1)});
      if (round == 0) first[k] = f;
      if (k + 1 < FormatCache::kRoom) {
        EXPECT_EQ(f, first[k]) << "compiled again";
      }
      EXPECT_EQ(cache->of(kTexts[k]), f) << "the last text used is at hand";
    }
    EXPECT_EQ(cache->of(kTexts[kValid]), nullptr);
  }
}

// --- The walk

TEST(FormatWalk, ReachesItemsWithTheirLiteralsAndLeavesTheRestForTheEnd) {
  const struct {
    const char* text;
    int items;                             // data items the statement transfers
    std::vector<std::string> transferred;  // the items reached, each with its literal prefix
    std::string rest;                      // the literal the end call writes
  } cases[] = {
      // Format 2000 with the four items of a row: nothing is left for the end call.
      {kFormat2000, 4, {"F7.3", "<,>F10.3", "<,>F10.3", "<,>F10.3"}, ""},
      // Fewer items: the end call writes the literal up to the next data item.
      {kFormat2000, 2, {"F7.3", "<,>F10.3"}, ","},
      {kFormat2000, 1, {"F7.3"}, ","},
      {kFormat2000, 0, {}, ""},
      {"(a80)", 1, {"A80"}, ""},
      {"(8E10.4)", 8, std::vector<std::string>(8, "E10.4"), ""},
      // Literals before the first item and after the last.
      {"('t=',F7.3,' s')", 1, {"<t=>F7.3"}, " s"},
      {"('t=',F7.3,' s')", 0, {}, "t="},
      {"('a',A1,'b','c',A2,'d')", 1, {"<a>A1"}, "bc"},
      {"('a',A1,'b','c',A2,'d')", 2, {"<a>A1", "<bc>A2"}, "d"},
      // No data items at all: the end call writes the literals.
      {"('abc')", 0, {}, "abc"},
      {"()", 0, {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " with " + std::to_string(c.items) + " items");
    const std::optional<Format> format = Format::parse(c.text);
    ASSERT_TRUE(format.has_value());
    FormatWalk walk;
    walk.start(*format);
    std::vector<std::string> transferred;
    for (int i = 0; i < c.items; ++i) {
      ASSERT_FALSE(walk.at_end()) << "item " << i;
      transferred.push_back(describe(*format, walk.take()));
    }
    EXPECT_EQ(transferred, c.transferred);
    EXPECT_EQ(walk.rest(), c.rest);
    std::size_t data_items = 0;
    for ([[maybe_unused]] const DataItem& item : *format) ++data_items;
    if (static_cast<std::size_t>(c.items) == data_items) {
      // Every item taken: the walk has no item beyond them, and the one past the end has no edit.
      EXPECT_TRUE(walk.at_end());
      EXPECT_FALSE(walk.past_end());
      EXPECT_EQ(walk.take().edit.code, '\0');
      EXPECT_TRUE(walk.past_end());
    }
  }
}

}  // namespace
}  // namespace recordio
