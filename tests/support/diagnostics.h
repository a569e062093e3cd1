// What a run writes, taken apart for comparison: its lines, and the text of a fatal diagnostic.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "recordio/line_end.h"

namespace testing_support {

// The lines of a text the runtime wrote, without their line ends (the platform's); a last line
// without one is marked so.
inline std::vector<std::string> lines_of(const std::string& text) {
  const std::string_view end = recordio::kWrittenLineEnd;
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t found = text.find(end, at);
    if (found == std::string::npos) {
      lines.push_back(text.substr(at) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(at, found - at));
    at = found + end.size();
  }
  return lines;
}

// The lines of a fatal diagnostic: the failure, the unit ("unit 11 named out.csv"), the format
// when one is current (empty: none is), and the direction of the last statement.
// Its lines end with the platform's written line end.
inline std::string diagnostic_text(const std::string& failure, const std::string& unit,
                                   const std::string& format, bool writing) {
  const std::string_view end = recordio::kWrittenLineEnd;
  std::string text = failure;
  text.append(end).append("apparent state: ").append(unit).append(end);
  if (!format.empty()) text.append("last format: ").append(format).append(end);
  return text.append("lately ")
      .append(writing ? "writing" : "reading")
      .append(" sequential formatted external IO")
      .append(end);
}

}  // namespace testing_support
