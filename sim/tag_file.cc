#include "tag_file.h"

#include <cstdint>
#include <ctime>

#include "tag_database.h"
#include "tag_line.h"
#include "text.h"

namespace zl::sim {

std::string EncodeRecord(std::string_view kind, std::string_view payload) {
  std::string record(kind.substr(0, 4));
  record.resize(4, ' ');
  const auto length = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) record += static_cast<char>((length >> (8 * i)) & 0xff);
  record.append(payload);
  return record;
}

bool DecodeRecords(std::string_view data, std::vector<TagFileRecord>* records, std::string* error) {
  records->clear();
  if (data.empty()) {
    *error = "empty chunk";
    return false;
  }
  std::vector<TagFileRecord> out;
  size_t pos = 0;
  while (pos < data.size()) {
    if (data.size() - pos < kRecordHeaderSize) {
      *error = "record header cut short at byte " + std::to_string(pos);
      return false;
    }
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
      length |= static_cast<uint32_t>(static_cast<unsigned char>(data[pos + 4 + i])) << (8 * i);
    }
    if (data.size() - pos - kRecordHeaderSize < length) {
      *error = "record at byte " + std::to_string(pos) + " announces " + std::to_string(length) +
               " payload bytes, " + std::to_string(data.size() - pos - kRecordHeaderSize) +
               " follow";
      return false;
    }
    out.push_back({std::string(data.substr(pos, 4)),
                   std::string(data.substr(pos + kRecordHeaderSize, length))});
    pos += kRecordHeaderSize + length;
  }
  *records = std::move(out);
  return true;
}

std::vector<std::string> BuildTagFile(const TagDatabase& db) {
  const std::vector<std::string> payloads = db.TagPayloads();
  std::vector<std::string> records;
  records.reserve(payloads.size() + 1);
  const std::string header = "zelvik-sim tag file 1\tdatabase=" + db.name() +
                             "\ttags=" + std::to_string(payloads.size()) +
                             "\tsimtime=" + FormatDouble(db.SimTime()) +
                             "\tsaved=" + std::to_string(static_cast<long long>(std::time(nullptr)));
  records.push_back(EncodeRecord(kTagFileHeaderKind, header));
  for (const std::string& payload : payloads) records.push_back(EncodeRecord(kTagRecordKind, payload));
  return records;
}

int RestoreChunk(TagDatabase& db, std::string_view chunk, std::string* error) {
  std::vector<TagFileRecord> records;
  if (!DecodeRecords(chunk, &records, error)) return -1;
  int restored = 0;
  for (const TagFileRecord& record : records) {
    if (record.kind != kTagRecordKind) continue;
    try {
      db.RestoreTag(record.payload);
      ++restored;
    } catch (const DownloadError& e) {
      *error = std::string("bad STAG record: ") + e.what();
      return -1;
    }
  }
  return restored;
}

}  // namespace zl::sim
