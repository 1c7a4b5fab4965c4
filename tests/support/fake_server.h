// An in-process stand-in for the server database that the statement tests and
// the fuzz targets talk to: a ZelvikDatabase servant on the simulation core
// (a small fixed plant), reached through a collocated object reference, so
// that a scenario, a log set or a tag-file transfer makes its real calls
// without sockets, child processes or a naming service.
//
// Threads: Instance() builds the ORB (listening on loopback only) once; the
// servant's calls run on the calling thread. Reset runs between inputs while
// nothing else calls the servant.
#ifndef ZL_TESTS_SUPPORT_FAKE_SERVER_H_
#define ZL_TESTS_SUPPORT_FAKE_SERVER_H_

#include <functional>

#include "zemr.hh"

namespace zl::testing {

class FakeServer {
 public:
  // The one server of the process, made at the first call.
  static FakeServer& Instance();

  // The database object (borrowed; lives as long as the process).
  ZEMR::ZelvikDatabase_ptr database() const;

  // Gives the plant its initial tags and values and the simulation time 0,
  // so that every input starts from the same state. Drops a chunk source.
  void Reset();

  // While set, the tag-file iterator answers next_chunk with `source`
  // (offset asked, the chunk to fill; the answer) instead of the plant's
  // tag file: a server that sends what a fuzz input says.
  using ChunkSource = std::function<bool(CORBA::ULong offset, ZEMR::FileChunk_Type& chunk)>;
  void SetChunkSource(ChunkSource source);

 private:
  FakeServer();
  struct Impl;
  Impl* impl_;  // never freed: the ORB and its servants live until exit
};

}  // namespace zl::testing

#endif  // ZL_TESTS_SUPPORT_FAKE_SERVER_H_
