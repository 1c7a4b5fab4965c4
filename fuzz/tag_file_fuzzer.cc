// Fuzz target: tag-file record reading. The input is a tag file: the client
// reads it record by record and sends each record after the leading one to
// zelvik-sim's database servant in-process, which restores its "STAG"
// payloads. The tags that result are then saved to a file again, and that
// file must read back with as many "STAG" records as the server has tags.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "localdb/tag_files.h"
#include "support/in_process_server.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zl::fuzz::Setup();
  zl::testing::InProcessServer::Instance();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zl::fuzz;
  using zl::testing::InProcessServer;
  InProcessServer& server = InProcessServer::Instance();
  server.Reset();
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (!WriteFile("in.tag", input)) return 0;
  CORBA::ULong count = 0;
  zl::ReadTagFile(server.database(), "in.tag", count);

  CORBA::ULong saved = 0;
  if (zl::SaveTagFile(server.database(), "out.tag", saved) == 0) {
    const CORBA::Long tags = server.database()->TagCount();
    if (saved != static_cast<CORBA::ULong>(tags)) {
      std::fprintf(stderr, "saved %lu STAG records for %ld tags\n",
                   static_cast<unsigned long>(saved), static_cast<long>(tags));
      std::abort();
    }
    server.Reset();
    CORBA::ULong read_back = 0;
    zl::ReadTagFile(server.database(), "out.tag", read_back);
    if (read_back != saved) {
      std::fprintf(stderr, "read back %lu of %lu STAG records\n",
                   static_cast<unsigned long>(read_back), static_cast<unsigned long>(saved));
      std::abort();
    }
  }
  ClearWorkDir();
  return 0;
}
