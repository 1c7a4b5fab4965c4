// One record of a log set file: its in-memory form, its packed little-endian
// encoding and its text rendering. The file format is described in
// docs/log-set-file.md.
//
// Stateless functions; safe from any thread.
#ifndef ZL_LOGSET_LOG_RECORD_H_
#define ZL_LOGSET_LOG_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace zl {

// A record, queued or written. `kind` holds at most 7 characters, `text` at
// most 79 (longer input is cut by MakeLogRecord).
struct LogRecord {
  std::string kind;
  uint32_t elapsed_ms = 0;
  double value = 0.0;
  double value2 = 0.0;
  uint32_t mode = 0;
  std::string text;
};

// Bytes before the length field's counted part: kind (4) and length (4).
constexpr size_t kLogRecordPrefix = 8;
// Fixed bytes counted by the length field: milliseconds, two values, mode,
// and the text's terminating zero.
constexpr uint32_t kLogRecordFixedLength = 25;

// A record with `kind` cut at 7 characters and `text` at 79; null texts are
// empty.
LogRecord MakeLogRecord(const char* kind, uint32_t elapsed_ms, double value,
                        double value2, uint32_t mode, const char* text);

// The record as written to a log file: the kind's first four characters
// (blank-padded), the length 25 + text length, then the fields, packed and
// little-endian, and the text with its terminating zero.
std::string EncodeLogRecord(const LogRecord& record);

// Reads one record from the front of `data` (`size` bytes). Gives false when
// the bytes are not a whole, well-formed record: fewer than 33 bytes, a
// length below 25 or beyond the data, or a text that is not terminated by
// its last byte (or holds a zero before it). On success fills `record` and
// `consumed` (the record's size in bytes). The kind keeps its padding blanks.
bool DecodeLogRecord(const char* data, size_t size, LogRecord* record,
                     size_t* consumed);

// The text line of a record as kept in the recent lines (at most 132
// characters, ending "\r\n"); empty for "_FO_" and "_DE_", which have none.
std::string RenderLogRecord(const LogRecord& record);

// "%6ld:%02ld.%03ld": minutes, seconds and milliseconds of `elapsed_ms`.
std::string FormatElapsed(uint32_t elapsed_ms);

// Calendar text of a time in seconds since 1970 in local time, as ctime
// gives it: 24 characters and a newline.
std::string CalendarText(int64_t seconds);

}  // namespace zl

#endif  // ZL_LOGSET_LOG_RECORD_H_
