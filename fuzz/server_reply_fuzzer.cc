// Fuzz target: what a server answers to the client's transfers. The input's
// first byte chooses
//   bit 0   a tag-file save (0) or a GetMultiTag answer (1);
//   bit 1   save: the server repeats its answers without end (1) or says
//           "no more" after the last one (0);
//   bit 2   GetMultiTag: the byte order of the answer (1 little-endian).
// Save: the rest is the server's answers to next_chunk, each one byte (bit
// 0: there is a chunk), two bytes of chunk length (little-endian) and as
// many data bytes as the input still has (zeros after that). The save must
// end within its limits: written in full when the server ends, or refused
// with no file left.
// GetMultiTag: the next byte is the number of tags asked, the rest the
// answer as the stub reads it from the wire; any number of elements must
// fill at most the slots asked for.
#include <omniORB4/CORBA.h>
#include <omniORB4/cdrStream.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "broker/multi_tag.h"
#include "fuzz_support.h"
#include "localdb/tag_files.h"
#include "support/in_process_server.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// The server's next_chunk answers read from the input.
class ChunkScript {
 public:
  ChunkScript(const uint8_t* data, size_t size, bool endless)
      : data_(data), size_(size), endless_(endless) {}

  bool Next(CORBA::ULong offset, ZEMR::FileChunk_Type& chunk) {
    ++calls_;
    if (offset != static_cast<CORBA::ULong>(sent_)) Fail("the offset is not the bytes received");
    if (at_ + 3 > size_) {
      if (!endless_ || size_ < 3) return false;
      at_ = 0;  // once more from the start
    }
    const bool more = (data_[at_] & 1) != 0;
    const CORBA::ULong length = data_[at_ + 1] | (CORBA::ULong(data_[at_ + 2]) << 8);
    at_ += 3;
    if (!more) return false;
    chunk.length(length);
    const size_t have = std::min<size_t>(length, size_ - at_);
    if (have != 0) std::memcpy(chunk.get_buffer(), data_ + at_, have);
    if (length > have) std::memset(chunk.get_buffer() + have, 0, length - have);
    at_ += have;
    sent_ += length;
    if (length >= 4 && std::memcmp(chunk.get_buffer(), "STAG", 4) == 0) ++tags_;
    return true;
  }

  uint64_t sent() const { return sent_; }
  uint64_t calls() const { return calls_; }
  CORBA::ULong tags() const { return tags_; }

 private:
  const uint8_t* const data_;
  const size_t size_;
  const bool endless_;
  size_t at_ = 0;
  uint64_t sent_ = 0;
  uint64_t calls_ = 0;
  CORBA::ULong tags_ = 0;
};

void SaveFromScript(const uint8_t* data, size_t size, bool endless) {
  using zl::testing::InProcessServer;
  InProcessServer& server = InProcessServer::Instance();
  ChunkScript script(data, size, endless);
  server.ArmChunkSource(
      [&](CORBA::ULong offset, ZEMR::FileChunk_Type& chunk) { return script.Next(offset, chunk); });
  zl::TagFileLimits limits;  // small, so that an endless server ends fast
  limits.max_bytes = 1u << 20;
  limits.max_chunks = 2000;
  CORBA::ULong count = 0;
  const CORBA::Long result = zl::SaveTagFile(server.database(), "out.tag", count, limits);
  server.Reset();

  struct stat st;
  const bool exists = stat("out.tag", &st) == 0;
  if (script.calls() > uint64_t(limits.max_chunks) + 1) Fail("more calls than the limit allows");
  if (result == 0) {
    if (!exists || uint64_t(st.st_size) != script.sent()) Fail("the file is not what was sent");
    if (count != script.tags()) Fail("the tag count is not the STAG chunks sent");
    if (script.sent() > limits.max_bytes) Fail("a file beyond the byte limit was kept");
  } else if (exists) {
    Fail("a refused save left its file");
  }
  zl::fuzz::ClearWorkDir();
}

void CopyAnswer(const uint8_t* data, size_t size, bool little_endian) {
  if (size == 0) return;
  const int asked = data[0];
  std::vector<uint8_t> copy(data + 1, data + size);
  cdrMemoryStream s(copy.data(), copy.size());
  s.setByteSwapFlag(little_endian);
  ZEMR::ZLTagStatusPayload_var status = new ZEMR::ZLTagStatusPayload;
  try {
    status.inout() <<= s;  // the stub's reading of the reply
  } catch (const CORBA::SystemException&) {
    return;  // the call fails like any other that raised
  }
  // Exactly as many slots as asked, so that one written past them is caught.
  std::unique_ptr<double[]> values(new double[asked]);
  std::unique_ptr<int[]> types(new int[asked]);
  std::unique_ptr<int[]> modes(new int[asked]);
  const int n = zl::CopyMultiTagStatus(status.in(), asked, values.get(), types.get(), modes.get());
  if (n < 0 || n > asked || static_cast<CORBA::ULong>(n) > status->length()) {
    Fail("more slots written than asked or answered");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zl::fuzz::Setup();
  zl::testing::InProcessServer::Instance();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  if (mode & 1) {
    CopyAnswer(data + 1, size - 1, (mode & 4) != 0);
  } else {
    SaveFromScript(data + 1, size - 1, (mode & 2) != 0);
  }
  return 0;
}
