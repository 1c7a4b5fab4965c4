// Log sets of a connected client: the client timer writes the log file from
// the stand-in server's tags.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "client/client_env.h"
#include "logset/log_record.h"
#include "support/local_db_access.h"

namespace zl::testing {
namespace {

std::string Cmd(ZLSim& client, const std::string& line) {
  CORBA::String_var reply = testing::LocalDb(client).LSCmd(line.c_str());
  return reply.in();
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<LogRecord> Decode(const std::string& bytes) {
  std::vector<LogRecord> records;
  size_t at = 0;
  LogRecord r;
  size_t used = 0;
  while (at < bytes.size() && DecodeLogRecord(bytes.data() + at, bytes.size() - at, &r, &used)) {
    records.push_back(r);
    at += used;
  }
  return records;
}

TEST(LogSetClientTest, TimerWritesTagsOfTheServer) {
  auto client = ConnectedClient();
  ASSERT_TRUE(client);
  TempDir dir;
  // The command language upper-cases the path; it still lands in `dir`.
  const std::string file = dir.path() + "/demo.log";
  const std::string written = dir.path() + "/DEMO.LOG";
  ASSERT_EQ(Cmd(*client, "LSCREATE demo"), "OK");
  ASSERT_EQ(Cmd(*client, "LSSET demo FILE " + file), "OK");
  ASSERT_EQ(Cmd(*client, "LSSET demo FREQ 1"), "OK");
  ASSERT_EQ(Cmd(*client, "LSADDTAGS demo FIC101, 12.5,NOSUCH"), "OK");
  const double fic101 = client->PVE("FIC101");
  ASSERT_EQ(Cmd(*client, "LSSET demo ENABLE T"), "OK");

  std::vector<LogRecord> records;
  ASSERT_TRUE(WaitFor([&] {
    records = Decode(ReadAll(written));
    return records.size() >= 6;
  })) << records.size();
  const std::string bytes = ReadAll(written);
  ASSERT_EQ(records[0].kind, "_HD_");
  EXPECT_EQ(records[0].text, "DEMO");
  EXPECT_EQ(records[1].kind, "_FO_");
  EXPECT_EQ(records[2].kind, "_DE_");
  for (int i = 3; i < 6; ++i) EXPECT_EQ(records[i].kind, "_TA_");
  EXPECT_EQ(records[3].text, "FIC101");
  EXPECT_EQ(records[3].value, fic101);
  EXPECT_EQ(records[3].mode, 1u);  // Auto
  EXPECT_EQ(records[4].value, 12.5);
  EXPECT_EQ(records[4].mode, 0x10000u);
  EXPECT_EQ(records[5].text, "NOSUCH");
  EXPECT_EQ(records[5].value, 0.0);
  EXPECT_EQ(records[5].mode, 0x80000000u);
  // The "_TA_" of FIC101 counts 31 bytes after its length field.
  const size_t fic_at = 3 * 33 + 4;  // three records with a 4-letter name or none
  EXPECT_EQ(bytes.substr(fic_at, 8), std::string("_TA_\x1f\x00\x00\x00", 8));

  EXPECT_EQ(Cmd(*client, "LSSNAP demo"), "OK");
  EXPECT_EQ(Cmd(*client, "LSDELETE demo"), "");
  EXPECT_EQ(Cmd(*client, "LSLIST"), "");
}

}  // namespace
}  // namespace zl::testing
