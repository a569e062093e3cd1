// The record I/O runtime's public surface: control records and statement entry points.
//
// Every READ or WRITE is a start call taking its constant control record, one transfer call per
// item and an end call.  Each call returns 0, or -1 when it met the end of the file and the
// statement has an end-of-file exit; the caller then abandons the statement.  Every other failure
// ends the process through the runtime's single fatal path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace recordio {

using ftnint = std::int32_t;  // 32-bit signed integer of the run
using ftnlen = std::size_t;   // lengths of texts and items, in bytes
using real = float;           // single precision

// Type codes of list-directed items.
inline constexpr int kTypeInteger = 3;
inline constexpr int kTypeReal = 4;
inline constexpr int kTypeCharacter = 9;

// Control record of a READ or WRITE.
struct cilist {
  int err;             // error exit (0: none; every error is fatal)
  ftnint unit;         // unit number, 0..99
  int end;             // 1 when the statement has an end-of-file exit
  const char* format;  // format text, or nullptr for list-directed
  ftnint rec;          // 0: sequential
};

// Control record of an OPEN.
struct olist {
  int err;
  ftnint unit;
  const char* file;  // name text, blank padded; set just before the OPEN
  ftnlen filelen;
  const char* stat;  // status text: "old", "unknown", ...
  const char* access;
  const char* form;
  ftnint recl;
  const char* blank;
};

// Control record of a CLOSE.
struct cllist {
  int err;
  ftnint unit;
  const char* stat;  // nullptr: keep
};

// List-directed WRITE and the item-less list-directed READ that skips one record.
int s_wsle(const cilist* c);
int do_lio(int type, ftnint count, const void* addr, ftnlen len);
int e_wsle();
int s_rsle(const cilist* c);
int e_rsle();

// Formatted READ and WRITE.
int s_rsfe(const cilist* c);
int s_wsfe(const cilist* c);
int do_fio(ftnint count, void* addr, ftnlen len);
int e_rsfe();
int e_wsfe();

// OPEN and CLOSE.
int f_open(const olist* o);
int f_clos(const cllist* c);

// Blank-filling text assignment.
void s_copy(char* dest, const char* src, ftnlen dest_len, ftnlen src_len);

// STOP: an empty text prints nothing; the process ends with status 0 through the exit handlers.
[[noreturn]] void s_stop(const char* text, ftnlen len);

// Process start-up and exit.
void f_setarg(int argc, char** argv);
void f_setsig();
void f_init();
void f_exit();

// True when the unit's file holds nothing more to read (looks ahead without consuming).
bool f_at_end(ftnint unit);

// Ends the run on the fatal path with a failure line "context: text", for failures the caller
// detects itself (the conversion's capacity bound).
[[noreturn]] void f_fail(const char* context, const char* text);

}  // namespace recordio

// The conversion run's main routine, called once by the runtime's main after start-up.
void MAIN__();
