#include "localdb/tag_files.h"

#include <ace/Log_Msg.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/exception_text.h"

namespace zl {
namespace {

constexpr char kTagRecord[4] = {'S', 'T', 'A', 'G'};
constexpr CORBA::ULong kHeaderSize = 8;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool IsTagRecord(const CORBA::Octet* data, CORBA::ULong length) {
  return length >= 4 && std::memcmp(data, kTagRecord, 4) == 0;
}

// Reads one whole record (kind, length, payload) into `chunk`. False when
// the length cannot be read or fewer than L payload bytes follow.
bool ReadRecord(std::FILE* file, ZEMR::FileChunk_Type& chunk) {
  unsigned char header[kHeaderSize] = {};
  if (std::fread(header, 1, 4, file) != 4) {
    // A short kind is caught by the length read that follows.
  }
  if (std::fread(header + 4, 1, 4, file) != 4) return false;
  const CORBA::ULong length = CORBA::ULong(header[4]) | (CORBA::ULong(header[5]) << 8) |
                              (CORBA::ULong(header[6]) << 16) | (CORBA::ULong(header[7]) << 24);
  if (length > 0xFFFFFFFFu - kHeaderSize) return false;
  // Grow the buffer as bytes arrive, so that a length field larger than the
  // file does not allocate that much up front.
  ZEMR::FileChunk_Type& data = chunk;
  data.length(kHeaderSize);
  std::memcpy(data.get_buffer(), header, kHeaderSize);
  CORBA::ULong have = 0;
  while (have < length) {
    const CORBA::ULong step = std::min<CORBA::ULong>(length - have, 1u << 20);
    data.length(kHeaderSize + have + step);
    const size_t got = std::fread(data.get_buffer() + kHeaderSize + have, 1, step, file);
    have += static_cast<CORBA::ULong>(got);
    if (got != step) return false;
  }
  return true;
}

// Runs `transfer` on the server's tag-file iterator between AcquireLoop and
// ReleaseLoop. An exception that carries a text is logged with `format`
// (one "%s"); any exception makes the result -1. Exceptions of
// get_tagfile_iterator, AcquireLoop and ReleaseLoop pass to the caller.
template <class Transfer>
CORBA::Long RunTransfer(ZEMR::ZelvikDatabase_ptr db, const char* format, Transfer&& transfer) {
  ZEMR::FileChunk_Iterator_var iterator;
  db->get_tagfile_iterator(iterator.out());
  db->AcquireLoop();
  CORBA::Long result = 0;
  try {
    transfer(iterator.in());
  } catch (const CORBA::Exception& e) {
    ACE_DEBUG((LM_ERROR, format, ExceptionText(e).c_str()));
    result = -1;
  } catch (const std::exception& e) {
    ACE_DEBUG((LM_ERROR, format, e.what()));
    result = -1;
  } catch (...) {
    result = -1;
  }
  db->ReleaseLoop();
  return result;
}

}  // namespace

CORBA::Long SaveTagFile(ZEMR::ZelvikDatabase_ptr db, const char* path, CORBA::ULong& count,
                        const TagFileLimits& limits) {
  count = 0;
  File file(path != nullptr ? std::fopen(path, "wb") : nullptr);
  if (!file) {
    ACE_DEBUG((LM_ERROR, "#SaveTags() could not open file %s\n", path != nullptr ? path : ""));
    return -1;
  }
  // Set when a limit ended the transfer: what was written is then removed,
  // also when ReleaseLoop raises on the way out.
  bool over_limit = false;
  struct RemovePartial {
    const bool& over_limit;
    File& file;
    const char* path;
    ~RemovePartial() {
      if (!over_limit) return;
      file.reset();
      std::remove(path);
    }
  } remove_partial{over_limit, file, path};
  const auto refuse = [&](const std::string& why) {
    over_limit = true;
    throw std::runtime_error(why);
  };
  return RunTransfer(db, "# Caught exception, %s, in SaveTags()\n",
                     [&](ZEMR::FileChunk_Iterator_ptr iterator) {
    CORBA::ULong offset = 0;
    CORBA::ULong chunks = 0;
    CORBA::ULong empty_in_a_row = 0;
    for (;;) {
      ZEMR::FileChunk_Type_var chunk;
      if (!iterator->next_chunk(offset, chunk.out())) break;
      const CORBA::ULong length = chunk->length();
      if (++chunks > limits.max_chunks) {
        refuse("the server's tag file exceeds " + std::to_string(limits.max_chunks) + " chunks");
      }
      if (length > limits.max_bytes - offset) {
        refuse("the server's tag file exceeds " + std::to_string(limits.max_bytes) + " bytes");
      }
      empty_in_a_row = length == 0 ? empty_in_a_row + 1 : 0;
      if (empty_in_a_row >= limits.max_empty_in_a_row) {
        refuse("the server sent " + std::to_string(empty_in_a_row) + " empty chunks in a row");
      }
      offset += length;
      const CORBA::Octet* data = chunk->get_buffer();
      if (length != 0 && std::fwrite(data, 1, length, file.get()) != length) {
        throw std::runtime_error(std::string("could not write to ") + path);
      }
      if (IsTagRecord(data, length)) ++count;
    }
    if (std::fflush(file.get()) != 0) throw std::runtime_error(std::string("could not write to ") + path);
  });
}

CORBA::Long ReadTagFile(ZEMR::ZelvikDatabase_ptr db, const char* path, CORBA::ULong& count) {
  count = 0;
  File file(path != nullptr ? std::fopen(path, "rb") : nullptr);
  if (!file) {
    ACE_DEBUG((LM_ERROR, "#ReadTags() could not open file %s\n", path != nullptr ? path : ""));
    return -1;
  }
  return RunTransfer(db, " Caught exception, %s, in ReadTags()\n",
                     [&](ZEMR::FileChunk_Iterator_ptr iterator) {
    ZEMR::FileChunk_Type leading;
    bool ok = ReadRecord(file.get(), leading);  // the leading record is not sent
    while (ok && !std::feof(file.get())) {
      ZEMR::FileChunk_Type chunk;
      ok = ReadRecord(file.get(), chunk);
      if (!ok) break;
      iterator->send_chunk(chunk);
      if (IsTagRecord(chunk.get_buffer(), chunk.length())) ++count;
    }
  });
}

}  // namespace zl
