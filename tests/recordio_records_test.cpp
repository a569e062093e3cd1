// Records built in place in a unit's buffer: records that cross the end of the buffer, and one
// longer than the whole buffer, reach the file whole and in order.
#include <gtest/gtest.h>

#include <string>

#include "recordio/recordio.h"
#include "recordio/runtime.h"
#include "support/fake_files.h"
#include "support/statements.h"

namespace recordio {
namespace {

using namespace recordio_testing;
using testing_support::InProcessRuntime;

// A list-directed WRITE of one character item to `unit`.
void write_text(ftnint unit, const std::string& text) {
  const cilist c{0, unit, 0, nullptr, 0};
  s_wsle(&c);
  do_lio(kTypeCharacter, 1, text.data(), text.size());
  e_wsle();
}

TEST(RecordsInTheBuffer, RecordsOfEveryLengthReachTheFileWholeAndInOrder) {
  struct Case {
    const char* what;
    std::size_t length;
    int count;
  };
  const std::size_t buffer = Unit::kBufferSize;
  for (const Case& c : {Case{"rows that cross the end of the buffer", 40, 5000},
                        Case{"records of a third of the buffer", buffer / 3, 7},
                        Case{"a record as long as the buffer", buffer, 2},
                        Case{"records longer than the buffer", 2 * buffer + 17, 3}}) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    open_file(kFileUnit, text80("out.txt"), "unknown");
    std::string expected;
    for (int k = 0; k < c.count; ++k) {
      const std::string text(c.length, static_cast<char>('a' + k % 26));
      write_text(kFileUnit, text);
      expected += lines(" " + text + "\n");
    }
    close_file(kFileUnit);
    EXPECT_TRUE(runtime.files().files["out.txt"] == expected)
        << runtime.files().files["out.txt"].size() << " bytes instead of " << expected.size();
  }
}

TEST(RecordsInTheBuffer, AFailedWriteOfALongRecordIsReported) {
  InProcessRuntime runtime;
  open_file(kFileUnit, text80("out.txt"), "unknown");
  runtime.files().fail(testing_support::FakeFiles::kWrite, EIO);
  EXPECT_THROW(write_text(kFileUnit, std::string(2 * Unit::kBufferSize, 'x')),
               testing_support::Crashed);
  EXPECT_EQ(runtime.files().err.substr(0, runtime.files().err.find(kWrittenLineEnd)),
            "write: Input/output error");
}

// On a terminal every row is written as it ends: a write that fails there is reported with the
// row's format, as any failure inside the statement is.
TEST(RecordsInTheBuffer, AFailedWriteAtTheEndOfARowNamesItsFormat) {
  InProcessRuntime runtime;
  runtime.files().console_is_terminal = true;
  recordio::runtime().units.preconnect();
  runtime.files().fail(testing_support::FakeFiles::kWrite, EIO);
  EXPECT_THROW(write_the_row(kConsole), testing_support::Crashed);
  EXPECT_EQ(runtime.files().err,
            lines(std::string("write: Input/output error\n"
                              "apparent state: unit 6 (unnamed)\n"
                              "last format: ") +
                  kFormat2000 + "\nlately writing sequential formatted external IO\n"));
}

}  // namespace
}  // namespace recordio
