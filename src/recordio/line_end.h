// The platform's text line end, written after every line the runtime writes: console lines, rows,
// diagnostics and signal messages. Reading takes LF and CR LF alike on every platform.
#pragma once

#include <string_view>

namespace recordio {

#if defined(_WIN32)
inline constexpr std::string_view kWrittenLineEnd = "\r\n";
#else
inline constexpr std::string_view kWrittenLineEnd = "\n";
#endif

}  // namespace recordio
