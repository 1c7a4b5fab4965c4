// Tag files: the server's tags saved to a file and restored from one.
//
// A tag file is a sequence of records: a 4-character kind, a 32-bit
// little-endian payload length L, then L bytes of payload. The first record
// is the file's leading record; "STAG" records hold one tag each. The client
// moves whole records between the server's FileChunk_Iterator and the file
// and counts the "STAG" records; it does not read the payloads.
//
// Nothing is locked on the client side: AcquireLoop and ReleaseLoop make the
// server hold its calculation loop for the whole transfer.
#ifndef ZL_LOCALDB_TAG_FILES_H_
#define ZL_LOCALDB_TAG_FILES_H_

#include <omniORB4/CORBA.h>

#include "zemr.hh"

namespace zl {

// Bounds of one save, so that a server whose iterator never answers false
// (faulty or hostile) can neither hold the caller nor fill the disk. The
// defaults are far above any real plant's tag file.
struct TagFileLimits {
  CORBA::ULong max_bytes = 256u << 20;  // the whole file
  CORBA::ULong max_chunks = 1u << 20;   // next_chunk answers with data or without
  CORBA::ULong max_empty_in_a_row = 64;  // answers that bring no byte
};

// Saves the tags of `db` to `path` (replacing an existing file); 0 with the
// number of "STAG" records written in `count`, or -1 (the file cannot be
// created: the server is not called; or the transfer failed: `count` holds
// the tags written so far). A transfer that would pass one of `limits`
// fails like a transfer that raised: the reason is logged, the loop is
// released, and the partial file is removed. Exceptions from
// get_tagfile_iterator and AcquireLoop pass to the caller.
CORBA::Long SaveTagFile(ZEMR::ZelvikDatabase_ptr db, const char* path, CORBA::ULong& count,
                        const TagFileLimits& limits = TagFileLimits());

// Restores the tags in `path` into `db`: every record after the leading one
// is sent as one chunk; a truncated last record ends the transfer normally.
// 0 with the number of "STAG" records sent in `count`, or -1 (as SaveTagFile).
CORBA::Long ReadTagFile(ZEMR::ZelvikDatabase_ptr db, const char* path, CORBA::ULong& count);

}  // namespace zl

#endif  // ZL_LOCALDB_TAG_FILES_H_
