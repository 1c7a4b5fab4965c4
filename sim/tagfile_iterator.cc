#include "tagfile_iterator.h"

#include <algorithm>

#include "database_host.h"
#include "fault_table.h"
#include "server_context.h"
#include "tag_file.h"

namespace zl::sim {

ChunkSource EndlessChunks(long bytes) {
  return [bytes](CORBA::ULong, ZEMR::FileChunk_Type& chunk) {
    chunk.length(static_cast<CORBA::ULong>(bytes));
    std::fill_n(chunk.get_buffer(), chunk.length(), CORBA::Octet(0));
    if (bytes >= 8) {
      CORBA::Octet* out = chunk.get_buffer();
      const uint32_t payload = static_cast<uint32_t>(bytes - 8);
      std::copy_n("STAG", 4, out);
      for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<CORBA::Octet>(payload >> (8 * i));
    }
    return true;
  };
}

TagFileIterator::TagFileIterator(DatabaseHost* host, std::vector<std::string> records,
                                 ChunkSource source)
    : host_(host),
      records_(std::move(records)),
      source_(std::move(source)),
      last_used_(std::chrono::steady_clock::now()) {
  size_t offset = 0;
  for (const std::string& record : records_) {
    starts_.push_back(offset);
    offset += record.size();
  }
}

TagFileIterator::~TagFileIterator() {
  if (restored_ > 0) {
    host_->Publish(static_cast<uint32_t>(MessageType::kInfo), "send_chunk",
                   "Restored " + std::to_string(restored_) + " tag(s) from a tag file");
  }
}

void TagFileIterator::Touch() {
  std::lock_guard<std::mutex> lock(mu_);
  last_used_ = std::chrono::steady_clock::now();
}

std::chrono::steady_clock::time_point TagFileIterator::last_used() const {
  std::lock_guard<std::mutex> lock(mu_);
  return last_used_;
}

CORBA::Boolean TagFileIterator::next_chunk(CORBA::ULong offset, ZEMR::FileChunk_Type_out chunk) {
  host_->server().faults().Enter("FileChunk_Iterator", "next_chunk");
  Touch();
  chunk = new ZEMR::FileChunk_Type;
  if (source_) return source_(offset, *chunk.ptr());
  auto it = std::lower_bound(starts_.begin(), starts_.end(), static_cast<size_t>(offset));
  if (it == starts_.end() || *it != offset) return false;
  const std::string& record = records_[static_cast<size_t>(it - starts_.begin())];
  chunk->length(static_cast<CORBA::ULong>(record.size()));
  std::copy(record.begin(), record.end(), chunk->get_buffer());
  return true;
}

CORBA::Long TagFileIterator::send_chunk(const ZEMR::FileChunk_Type& chunk) {
  host_->server().faults().Enter("FileChunk_Iterator", "send_chunk");
  Touch();
  const std::string_view data(reinterpret_cast<const char*>(chunk.get_buffer()), chunk.length());
  std::string error;
  const int restored = RestoreChunk(host_->db(), data, &error);
  if (restored < 0) {
    host_->Publish(static_cast<uint32_t>(MessageType::kWarning), "send_chunk",
                   "Tag file chunk refused: " + error);
    return -1;
  }
  std::lock_guard<std::mutex> lock(mu_);
  restored_ += restored;
  return restored;
}

void TagFileIterator::destroy() {
  host_->server().faults().Enter("FileChunk_Iterator", "destroy");
  host_->server().iterators().Remove(this);
}

// --- IteratorRegistry -----------------------------------------------------------

void IteratorRegistry::ArmSource(ChunkSource source) {
  std::lock_guard<std::mutex> lock(mu_);
  armed_ = std::move(source);
}

ChunkSource IteratorRegistry::TakeSource() {
  std::lock_guard<std::mutex> lock(mu_);
  ChunkSource source = std::move(armed_);
  armed_ = nullptr;
  return source;
}

void IteratorRegistry::Release(Entry& entry) {
  try {
    entry.poa->deactivate_object(entry.oid);
  } catch (const CORBA::Exception&) {
    // Already deactivated.
  }
  entry.iterator->_remove_ref();
}

ZEMR::FileChunk_Iterator_ptr IteratorRegistry::Add(PortableServer::POA_ptr poa,
                                                   TagFileIterator* iterator) {
  PortableServer::ObjectId_var oid = poa->activate_object(iterator);
  CORBA::Object_var obj = poa->id_to_reference(oid.in());
  std::list<Entry> evicted;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // The POA's reference from activation stays with the registry entry.
    entries_.push_back({iterator, PortableServer::POA::_duplicate(poa), oid.in()});
    while (entries_.size() > kMaxLive) evicted.splice(evicted.end(), entries_, entries_.begin());
  }
  for (Entry& e : evicted) Release(e);
  return ZEMR::FileChunk_Iterator::_narrow(obj);
}

void IteratorRegistry::Remove(TagFileIterator* iterator) {
  std::list<Entry> removed;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->iterator == iterator) {
        removed.splice(removed.end(), entries_, it);
        break;
      }
    }
  }
  for (Entry& e : removed) Release(e);
}

void IteratorRegistry::Reap() {
  const auto now = std::chrono::steady_clock::now();
  std::list<Entry> idle;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      auto next = std::next(it);
      if (now - it->iterator->last_used() > kIdleLimit) idle.splice(idle.end(), entries_, it);
      it = next;
    }
  }
  for (Entry& e : idle) Release(e);
}

void IteratorRegistry::Clear() {
  std::list<Entry> all;
  {
    std::lock_guard<std::mutex> lock(mu_);
    all.swap(entries_);
  }
  for (Entry& e : all) Release(e);
}

size_t IteratorRegistry::Live() const {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_.size();
}

}  // namespace zl::sim
