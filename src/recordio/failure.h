// What went wrong, as a value: the runtime's own error codes and the failure a unit, an OPEN or a
// format notes. Only the statement entry points turn one into the fatal path.
#pragma once

namespace recordio {

// The runtime's own error codes (100 to 132), each with its text.
enum class RuntimeError : int {
  kFormat = 100,      // "error in format"
  kUnitNumber = 101,  // "illegal unit number"
  kNullName = 107,    // "null file name"
  kTruncate = 111,    // "truncation failed in endfile"
  kUnexpected = 115,  // "read unexpected character"
  kCantWrite = 127,   // "can't write file"
};

// What went wrong, for the first diagnostic line.
struct Failure {
  enum class Kind { kSystem, kEndOfFile, kRuntime, kText };
  Kind kind;
  int code;          // errno for kSystem, the RuntimeError for kRuntime
  const char* text;  // kText only

  static Failure system(int errnum) { return {Kind::kSystem, errnum, nullptr}; }
  static Failure end_of_file() { return {Kind::kEndOfFile, -1, nullptr}; }
  static Failure runtime(RuntimeError e) { return {Kind::kRuntime, static_cast<int>(e), nullptr}; }
  static Failure message(const char* t) { return {Kind::kText, 0, t}; }
};

}  // namespace recordio
