// External action statements (external_statements.h). Runs on the worker.
#include "scenario/external_statements.h"

#include <ace/Log_Msg.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/text_utils.h"
#include "common/window_table.h"
#include "scenario/outside_text.h"
#include "scenario/scenario_owner.h"

namespace zl {
namespace {

// Writes `value` little-endian in `n` bytes.
void PutLittleEndian(std::FILE* f, std::uint64_t value, int n) {
  for (int i = 0; i < n; ++i) std::fputc(static_cast<int>((value >> (8 * i)) & 0xff), f);
}

}  // namespace

void ZlCmd(StatementContext& ctx, StatementLine& line, ScenarioOwner* owner) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops) || owner == nullptr) return;
  owner->RunLogSetCommand(ops.text[0]);
}

void HostCommand(StatementContext& ctx, StatementLine& line, ScenarioOwner* owner) {
  const char* keyword = line.keyword();
  Operands ops;
  ReadOperands(ctx, line, &ops);
  const char* text = ops.text[0];
  if (owner == nullptr) return;
  if (IsWindow(owner->toolbook_window())) return;
  std::string result;
  if (!owner->ClientCmd(keyword, text != nullptr ? text : "", result)) {
    ctx.Log("%s\t##Client cmd, %s, could not be executed because %s\n", ctx.Stamp().c_str(),
            keyword, EscapeOutsideText(result).c_str());
  }
}

void OpenPointSocket(StatementContext& ctx, PointSocket& socket) {
  if (!socket.Open()) {
    ctx.Log("%s\tCould not open UDP socket, ENABLE/DISABLE commands will fail\n",
            ctx.Stamp().c_str());
  }
}

void PointEnable(StatementContext& ctx, StatementLine& line, PointSocket& socket, bool enable) {
  const char* word = enable ? "ENABLE" : "DISABLE";
  const ACE_Log_Priority priority = enable ? LM_CRITICAL : LM_ERROR;
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* tag = ops.text[0];
  try {
    CORBA::String_var definition = ctx.server()->Upload(tag);
    const std::string driver = ExtractItem(definition.in(), 2, '\t');
    const std::string point = ExtractItem(definition.in(), 3, '\t');
    const std::string selector = driver.substr(0, 48) + ".RemoteAddress";
    CORBA::String_var remote_text = ctx.server()->HelloZL(selector.c_str());
    std::string remote = remote_text.in();
    const std::size_t eq = remote.find('=');
    if (eq != std::string::npos) remote = remote.substr(eq + 1);
    const double raw = ctx.server()->PVE((std::string(tag) + ".PVRAW").c_str());
    char datagram[132];
    std::snprintf(datagram, sizeof datagram, "%s\t%s\t%f\n", word, point.c_str(), raw);
    if (!socket.Send(remote.c_str(), datagram, std::strlen(datagram) + 1)) {
      ctx.StatementError("%s\t__PT_%s not sent to %s (network error)\n", ctx.Stamp().c_str(), word,
                         EscapeOutsideText(remote).c_str());
    }
  } catch (const CORBA::SystemException& e) {
    ACE_DEBUG((priority, "Caught Exception in PT_%s, %s\n", word, e._name()));
  } catch (...) {
    ACE_DEBUG((priority, "Caught Exception in PT_%s\n", word));
  }
}

void System(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* command = ops.text[0];
  ctx.test_log().Flush();
  const int status = std::system(command);
  int result = status;
  if (status != -1 && WIFEXITED(status)) result = WEXITSTATUS(status);
  if (result != 0) {
    ctx.Log("%s\tSystem cmd failed with error=%d, %s\n", ctx.Stamp().c_str(), result, command);
  }
}

void StoreVals(StatementContext& ctx, StatementLine& line) {
  std::string stem = "tlgcmp";
  std::string pattern = ".";
  std::string field = "TAGS";
  Operands ops;
  ReadOperands(ctx, line, &ops);
  if (const char* operands = ops.text[0]) {
    const std::string text = operands;
    const std::size_t cut = text.find_first_of("; \t");
    stem = text.substr(0, cut);
    if (cut != std::string::npos) {
      std::string rest = text.substr(cut + 1);
      const std::size_t eq = rest.find('=');
      if (eq != std::string::npos) {
        if (eq + 1 < rest.size()) field = rest.substr(eq + 1);
        rest = rest.substr(0, eq);
      }
      if (!rest.empty()) pattern = rest;
    }
  }
  const std::string name = "zy" + stem + ".tmp";
  // Closed however the statement ends: the server's exceptions escape it.
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "wb"),
                                                             &std::fclose);
  if (file == nullptr) {
    ctx.Log("%s\t## Could not open file to store tag values\n", ctx.Stamp().c_str());
    return;
  }
  std::FILE* f = file.get();
  CORBA::String_var list = ctx.server()->SearchTags(pattern.c_str(), field.c_str());
  for (int i = 1;; ++i) {
    const std::string tag = ExtractItem(list.in(), i, ',');
    if (tag.empty()) break;
    const double value = ctx.server()->PVE(tag.c_str());
    std::uint64_t bits = 0;
    static_assert(sizeof bits == sizeof value, "IEEE double");
    std::memcpy(&bits, &value, sizeof bits);
    PutLittleEndian(f, tag.size() + 1, 2);
    std::fwrite(tag.c_str(), 1, tag.size() + 1, f);
    PutLittleEndian(f, bits, 8);
  }
}

void CompareVals(StatementContext& ctx) {
  ctx.Log("%s\t## COMAPREVALS not implemented yet.\n", ctx.Stamp().c_str());
}

}  // namespace zl
