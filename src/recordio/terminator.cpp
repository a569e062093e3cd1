#include "terminator.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <string_view>

#include "file.h"
#include "line_end.h"
#include "process.h"
#include "unit_table.h"

namespace recordio {
namespace {

struct ErrorText {
  RuntimeError error;
  const char* text;
};

constexpr std::array kErrorTexts{
    ErrorText{RuntimeError::kFormat, "error in format"},
    ErrorText{RuntimeError::kUnitNumber, "illegal unit number"},
    ErrorText{RuntimeError::kNullName, "null file name"},
    ErrorText{RuntimeError::kTruncate, "truncation failed in endfile"},
    ErrorText{RuntimeError::kUnexpected, "read unexpected character"},
    ErrorText{RuntimeError::kCantWrite, "can't write file"},
};

// Writes the bytes to standard error, waiting as long as it takes; gives up when the stream
// fails. A signal ends the process while it waits.
void write_diagnostic_text(FileLayer& files, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const Transfer t = files.write(kStandardError, bytes.data(), bytes.size());
    switch (t.outcome) {
      case Transfer::Outcome::kMoved:
        if (t.bytes == 0) return;
        bytes.remove_prefix(t.bytes);
        break;
      case Transfer::Outcome::kInterrupted:
        break;
      case Transfer::Outcome::kWouldBlock:
        if (const int failure = files.wait(kStandardError, true);
            failure != 0 && failure != EINTR) {
          return;
        }
        break;
      case Transfer::Outcome::kFailed:
        return;
    }
  }
}

// The text of a diagnostic, built in place: the fatal path may be taken because memory ran out.
class Text {
 public:
  Text& operator<<(std::string_view bytes) {
    const std::size_t n = std::min(bytes.size(), sizeof bytes_ - size_);
    std::memcpy(bytes_ + size_, bytes.data(), n);
    size_ += n;
    return *this;
  }
  Text& operator<<(int value) {
    char digits[16];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
  }
  std::string_view view() const { return {bytes_, size_}; }

 private:
  char bytes_[2 * kNameCapacity];
  std::size_t size_ = 0;
};

void write_diagnostic(FileLayer& files, const Diagnostic& d) {
  Text out;
  out << d.context << ": ";
  switch (d.failure.kind) {
    case Failure::Kind::kSystem:
      out << std::strerror(d.failure.code);
      break;
    case Failure::Kind::kEndOfFile:
      out << "end of file";
      break;
    case Failure::Kind::kRuntime:
      out << error_text(static_cast<RuntimeError>(d.failure.code));
      break;
    case Failure::Kind::kText:
      out << d.failure.text;
      break;
  }
  out << kWrittenLineEnd << "apparent state: unit " << d.unit << " ";
  if (d.unit_name.empty()) {
    out << "(unnamed)";
  } else {
    out << "named " << d.unit_name;
  }
  out << kWrittenLineEnd;
  if (d.format != nullptr) out << "last format: " << d.format << kWrittenLineEnd;
  out << "lately " << (d.writing ? "writing" : "reading") << " sequential formatted external IO"
      << kWrittenLineEnd;
  write_diagnostic_text(files, out.view());
}

}  // namespace

const char* error_text(RuntimeError e) {
  for (const ErrorText& t : kErrorTexts) {
    if (t.error == e) return t.text;
  }
  return "unknown error";
}

void crash(const Diagnostic& diagnostic, UnitTable& units, CrashHandler handler) {
  // The signals stay deliverable: a unit changes shape only with them held back, so a handler
  // that interrupts the closing here finds consistent units and finishes the job itself.
  write_diagnostic(units.files(), diagnostic);
  units.close_all_quietly(true);
  if (handler != nullptr) handler();
  abort_plainly();  // also after a handler that returned
}

void write_signal_message(FileLayer& files, int sig) noexcept {
  std::string_view message;
  switch (sig) {
    case SIGFPE:
      message = "Floating Exception";
      break;
    case SIGABRT:
      message = "IOT Trap";
      break;
    case SIGINT:
      message = "Interrupt";
      break;
    default:
      message = "Killed";
      break;
  }
  static char line[32];
  std::memcpy(line, message.data(), message.size());
  std::memcpy(line + message.size(), kWrittenLineEnd.data(), kWrittenLineEnd.size());
  std::string_view text(line, message.size() + kWrittenLineEnd.size());
  while (!text.empty()) {
    const std::size_t n = files.write_now(kStandardError, text.data(), text.size());
    if (n == 0) return;
    text.remove_prefix(n);
  }
}

}  // namespace recordio
