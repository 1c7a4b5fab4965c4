// Tag files: records of a 4-character ASCII kind, a 32-bit little-endian
// payload length and the payload. A tag file holds one leading "ZTFH"
// record and one "STAG" record per tag; the payloads are documented in
// docs/zelvik-sim.md. Stateless; safe from any thread.
#ifndef ZL_SIM_TAG_FILE_H_
#define ZL_SIM_TAG_FILE_H_

#include <string>
#include <string_view>
#include <vector>

namespace zl::sim {

class TagDatabase;

constexpr char kTagFileHeaderKind[] = "ZTFH";
constexpr char kTagRecordKind[] = "STAG";
constexpr size_t kRecordHeaderSize = 8;

// One record: kind, length, payload. `kind` must be 4 characters.
std::string EncodeRecord(std::string_view kind, std::string_view payload);

struct TagFileRecord {
  std::string kind;
  std::string payload;
};

// Splits `data` into whole records. False, with a reason in `error`, when
// it is empty or ends inside a record (a short header or a payload shorter
// than its length); `records` is then left empty.
bool DecodeRecords(std::string_view data, std::vector<TagFileRecord>* records, std::string* error);

// The records of `db`'s tag file in order: the leading record, then one
// "STAG" record per tag in definition order.
std::vector<std::string> BuildTagFile(const TagDatabase& db);

// Restores the "STAG" records of one chunk (one or more whole records);
// records of other kinds are skipped. Gives the number of tags restored, or
// -1 with a reason in `error` for a malformed chunk or a bad tag payload
// (records before the bad one stay restored).
int RestoreChunk(TagDatabase& db, std::string_view chunk, std::string* error);

}  // namespace zl::sim

#endif  // ZL_SIM_TAG_FILE_H_
