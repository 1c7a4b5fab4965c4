// FileChunk_Iterator: the chunked transfer of a database's tag file. An
// iterator holds a snapshot of the tag file taken when it was made
// (get_tagfile_iterator); next_chunk reads it one whole record per chunk,
// send_chunk restores the "STAG" records it is sent.
//
// Clients need not destroy iterators (and usually do not), so the
// IteratorRegistry deactivates iterators idle for kIdleLimit and the oldest
// when more than kMaxLive exist. Thread-safe: the registry's mu_ guards its
// list; an iterator's mu_ guards its counters.
#ifndef ZL_SIM_TAGFILE_ITERATOR_H_
#define ZL_SIM_TAGFILE_ITERATOR_H_

#include <omniORB4/CORBA.h>

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "zemr.hh"

namespace zl::sim {

class DatabaseHost;

class TagFileIterator : public virtual POA_ZEMR::FileChunk_Iterator {
 public:
  // `endless_bytes` -1: the iterator reads `records`. 0 or more: it never
  // ends, answering every next_chunk with that many bytes (a "STAG" record
  // when there is room for its header, zero bytes otherwise): a server
  // that streams without end, for tests of the client's limits.
  TagFileIterator(DatabaseHost* host, std::vector<std::string> records, long endless_bytes = -1);
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
  const long endless_bytes_;
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

  // Makes the next iterator of get_tagfile_iterator an endless one that
  // answers with `bytes` bytes per chunk (see TagFileIterator); -1 disarms.
  void ArmEndless(long bytes) { endless_bytes_ = bytes; }
  // The armed size, disarming it; -1 when none is armed.
  long TakeEndless() { return endless_bytes_.exchange(-1); }

 private:
  struct Entry {
    TagFileIterator* iterator;  // a reference held (_add_ref) while listed
    PortableServer::POA_var poa;
    PortableServer::ObjectId oid;
  };
  static void Release(Entry& entry);

  mutable std::mutex mu_;
  std::list<Entry> entries_;  // oldest first; guarded by mu_
  std::atomic<long> endless_bytes_{-1};
};

}  // namespace zl::sim

#endif  // ZL_SIM_TAGFILE_ITERATOR_H_
