// The record reader: a data record's leading numeric fields read together, in one pass over their
// columns, for a formatted READ whose format begins with them.
//
// A data record is kRecordFields numeric fields of kFieldWidth columns. Nearly every field has
// the common shape: leading blanks, an optional sign, then digits with at most one point, filling
// its columns ("  12.34567", "-123.45678", "   -2.2377", "       150", "          "). The record
// reader reads each field of that shape that lies whole before the record's line end, and says
// which fields it read; the full scan (input_editing.h) reads every other field, and gives the
// same value for a common field bit for bit.
#pragma once

#include <cstddef>

#include "decimal_conversion.h"
#include "format.h"

namespace recordio {

inline constexpr int kRecordFields = 8;
inline constexpr int kFieldWidth = 10;
inline constexpr std::size_t kRecordColumns = kRecordFields * kFieldWidth;
// A mask with every field of the record read.
inline constexpr unsigned kAllFields = (1u << kRecordFields) - 1;

// Whether a format begins with a data record's fields, which its READs read together: its first
// kRecordFields items are Ew.d or Fw.d fields kFieldWidth columns wide, with d at most
// kMaxExactScale. Never where the reader has no vector path (RECORDIO_SIMD off).
bool begins_with_record_fields(const Format& format);

// Reads the common fields among a record's first kRecordFields, as the full scan reads each on its
// own. `record` is where the record's (next) columns begin, `available` how many bytes of the file
// are there from it on; kRecordColumns bytes from `record` must be loadable, whatever they hold
// beyond `available`. `items` are the fields' data items (for the decimals of a field without a
// point). Returns the fields read, bit f for field f: a field of the common shape whose columns all
// lie before the record's line end and within `available`, with its value in values[f]; the other
// values are meaningless. Fields at or after the line end, or beyond the bytes available, are never
// read (their columns may hold the next record).
//
// The columns are classified sixteen at a time: each blank or sign must begin its field or follow a
// blank, and every other column be a digit or a point. Digit pairs are formed once for the record;
// each field then takes its five pairs, multiplies those at or after its point by ten (which closes
// the digits up over the point), weighs them into one integer and hands it to the fast tier of the
// one conversion. When every field has its point in the same column, as in records written with a
// fixed number of decimals, the fields share their factors and power of ten and go through that
// tier two at a time. Without vector instructions (simd.h) no field is read here.
unsigned read_record(const char* record, std::size_t available, const DataItem* items,
                     float* values);

// A formatted READ's fields read ahead. A READ whose format begins with a data record's fields
// reads them together at its first item (`pending` until then). The statement's items then take
// the values of a run of fields read, values[next] up to values[end], while the unit and the walk
// stand past their columns and items; `mask` holds the fields after the run that were read too,
// which later runs serve, after the fields between are read by the full scan in their own columns.
struct ReadAhead {
  float values[kRecordFields] = {};
  unsigned next = 0;
  unsigned end = 0;
  unsigned mask = 0;
  bool pending = false;

  // A READ's start: a record's fields to read at the first item, or nothing read ahead.
  void start(bool record) {
    next = end = mask = 0;
    pending = record;
  }
  // A READ's end: the values not taken go with the record.
  void finish() { start(false); }
};

}  // namespace recordio
