// FileChunk_Iterator: the chunked transfer of a database's tag file. An
// iterator holds a snapshot of the tag file taken when it was made
// (get_tagfile_iterator); next_chunk reads it one whole record per chunk,
// send_chunk restores the "STAG" records it is sent. For tests of the
// client's limits, the next iterator may be armed to answer from a script
// instead (a ChunkSource): a server that streams without end, or one that
// sends whatever a fuzz input says.
//
// Clients need not destroy iterators (and usually do not), so the
// IteratorRegistry deactivates iterators idle for kIdleLimit and the oldest
// when more than kMaxLive exist. Thread-safe: the registry's mu_ guards its
// list; an iterator's mu_ guards its counters.
#ifndef ZL_SIM_TAGFILE_ITERATOR_H_
#define ZL_SIM_TAGFILE_ITERATOR_H_

#include <omniORB4/CORBA.h>

#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "zemr.hh"

namespace zl::sim {

class DatabaseHost;

// A scripted iterator's answer to next_chunk: fills `chunk` (empty when
// called) for the byte offset asked and gives whether there is a chunk.
// Called on ORB threads, by one iterator only.
using ChunkSource = std::function<bool(CORBA::ULong offset, ZEMR::FileChunk_Type& chunk)>;

// A server that never ends: every chunk is `bytes` bytes, a "STAG" record
// when there is room for its header (8 bytes), zero bytes otherwise.
ChunkSource EndlessChunks(long bytes);

class TagFileIterator : public virtual POA_ZEMR::FileChunk_Iterator {
 public:
  // Without a `source` the iterator reads `records`; with one, next_chunk
  // answers what the source gives.
  TagFileIterator(DatabaseHost* host, std::vector<std::string> records,
                  ChunkSource source = nullptr);
  ~TagFileIterator() override;

  // `offset` is the byte offset in the tag file of the record wanted (0,
  // then the sum of the chunk lengths received so far). Gives false at the
  // end of the file or at an offset where no record starts.
  CORBA::Boolean next_chunk(CORBA::ULong offset, ZEMR::FileChunk_Type_out chunk) override;
  // Restores the "STAG" records of the chunk; gives the number of tags
  // restored, or -1 for a malformed chunk (a warning message says why).
  CORBA::Long send_chunk(const ZEMR::FileChunk_Type& chunk) override;
  void destroy() override;

  std::chrono::steady_clock::time_point last_used() const;

 private:
  void Touch();

  DatabaseHost* const host_;
  const std::vector<std::string> records_;
  const ChunkSource source_;
  std::vector<size_t> starts_;  // byte offset of each record; constant

  mutable std::mutex mu_;
  // Guarded by mu_:
  std::chrono::steady_clock::time_point last_used_;
  int restored_ = 0;
};

class IteratorRegistry {
 public:
  static constexpr std::chrono::seconds kIdleLimit{60};
  static constexpr size_t kMaxLive = 32;

  // Activates `iterator` in `poa` (which then owns it) and gives its
  // reference; the oldest iterator goes when there are too many.
  ZEMR::FileChunk_Iterator_ptr Add(PortableServer::POA_ptr poa, TagFileIterator* iterator);
  // The iterator ended itself (destroy): forget it.
  void Remove(TagFileIterator* iterator);
  // Deactivates iterators idle for longer than kIdleLimit.
  void Reap();
  // Deactivates every iterator.
  void Clear();
  size_t Live() const;

  // Makes the next iterator of get_tagfile_iterator answer from `source`;
  // null disarms.
  void ArmSource(ChunkSource source);
  // The same for an endless iterator of `bytes` bytes per chunk
  // (EndlessChunks); -1 disarms.
  void ArmEndless(long bytes) { ArmSource(bytes < 0 ? nullptr : EndlessChunks(bytes)); }
  // The armed source, disarming it; null when none is armed.
  ChunkSource TakeSource();

 private:
  struct Entry {
    TagFileIterator* iterator;  // a reference held (_add_ref) while listed
    PortableServer::POA_var poa;
    PortableServer::ObjectId oid;
  };
  static void Release(Entry& entry);

  mutable std::mutex mu_;
  // Guarded by mu_:
  std::list<Entry> entries_;  // oldest first
  ChunkSource armed_;         // for the next iterator; null: none
};

}  // namespace zl::sim

#endif  // ZL_SIM_TAGFILE_ITERATOR_H_
