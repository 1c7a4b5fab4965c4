// External action statements: commands to the log sets (ZLCMD) and to the
// host (TOOLBOOK, TB_POST), point enables for the plant's drivers by UDP
// datagram (PT_ENABLE, PT_DISABLE), operating-system commands (SYSTEM) and
// stored tag values (STOREVALS, COMPAREVALS). Runs on the worker; SYSTEM and
// the host commands block it until they return.
#include <ace/Log_Msg.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text_utils.h"
#include "common/window_table.h"
#include "scenario/scenario_owner.h"
#include "scenario/scenario.h"

namespace zl {
namespace {

// Writes `value` little-endian in `n` bytes.
void PutLittleEndian(std::FILE* f, std::uint64_t value, int n) {
  for (int i = 0; i < n; ++i) std::fputc(static_cast<int>((value >> (8 * i)) & 0xff), f);
}

}  // namespace

// ZLCMD text: one log set command line. Its reply ("Ok" or an error text)
// is not reported: the log set commands log their own errors.
void CZLScenario::DoZlCmd() {
  const char* text = tokens_.Next(kNoDelims);
  if (text == nullptr || owner_ == nullptr) return;
  owner_->RunLogSetCommand(text);
}

// TOOLBOOK [text] | TB_POST [text]: a host command, unless the host's
// Toolbook window is alive.
void CZLScenario::HostCommand(const char* keyword) {
  const char* text = tokens_.Next(kLineEnd);
  if (owner_ == nullptr) return;
  if (IsWindow(owner_->toolbook_window())) return;
  std::string result;
  if (!owner_->ClientCmd(keyword, text != nullptr ? text : "", result)) {
    ctx_.Log("%s\t##Client cmd, %s, could not be executed because %s\n", ctx_.Stamp().c_str(),
             keyword, result.c_str());
  }
}

void CZLScenario::DoToolbook() { HostCommand("TOOLBOOK"); }
void CZLScenario::DoTbPost() { HostCommand("TB_POST"); }

void CZLScenario::OpenPointSocket() {
  if (!point_socket_.Open()) {
    ctx_.Log("%s\tCould not open UDP socket, ENABLE/DISABLE commands will fail\n",
             ctx_.Stamp().c_str());
  }
}

// PT_ENABLE tag | PT_DISABLE tag: sends "<WORD>\t<point>\t<raw>\n" and its
// zero byte to the remote address of the tag's driver.
void CZLScenario::PointEnable(bool enable) {
  const char* word = enable ? "ENABLE" : "DISABLE";
  const ACE_Log_Priority priority = enable ? LM_CRITICAL : LM_ERROR;
  const char* tag = tokens_.Next(kBlanks);
  if (tag == nullptr) {
    ACE_DEBUG((LM_ERROR, "Scenario: PT_%s tag??\n", word));
    if (ctx_.test_log().is_open()) {
      ctx_.StatementError("%s\t__PT_%s not executed (missing tagname)\n", ctx_.Stamp().c_str(),
                          word);
    }
    return;
  }
  try {
    CORBA::String_var definition = ctx_.server()->Upload(tag);
    const std::string driver = ExtractItem(definition.in(), 2, '\t');
    const std::string point = ExtractItem(definition.in(), 3, '\t');
    const std::string selector = driver.substr(0, 48) + ".RemoteAddress";
    CORBA::String_var remote_text = ctx_.server()->HelloZL(selector.c_str());
    std::string remote = remote_text.in();
    const std::size_t eq = remote.find('=');
    if (eq != std::string::npos) remote = remote.substr(eq + 1);
    const double raw = ctx_.server()->PVE((std::string(tag) + ".PVRAW").c_str());
    char datagram[132];
    std::snprintf(datagram, sizeof datagram, "%s\t%s\t%f\n", word, point.c_str(), raw);
    if (!point_socket_.Send(remote.c_str(), datagram, std::strlen(datagram) + 1)) {
      ctx_.StatementError("%s\t__PT_%s not sent to %s (network error)\n", ctx_.Stamp().c_str(),
                          word, remote.c_str());
    }
  } catch (const CORBA::SystemException& e) {
    ACE_DEBUG((priority, "Caught Exception in PT_%s, %s\n", word, e._name()));
  } catch (...) {
    ACE_DEBUG((priority, "Caught Exception in PT_%s\n", word));
  }
}

void CZLScenario::DoPtEnable() { PointEnable(true); }
void CZLScenario::DoPtDisable() { PointEnable(false); }

// SYSTEM command: runs it through /bin/sh -c and waits for it.
void CZLScenario::DoSystem() {
  const char* command = tokens_.Next(kLineEnd);
  if (command == nullptr) return;
  ctx_.test_log().Flush();
  const int status = std::system(command);
  int result = status;
  if (status != -1 && WIFEXITED(status)) result = WEXITSTATUS(status);
  if (result != 0) {
    ctx_.Log("%s\tSystem cmd failed with error=%d, %s\n", ctx_.Stamp().c_str(), result, command);
  }
}

// STOREVALS [stem[;| ]pattern[=field]]: one record per selected tag into
// "zy<stem>.tmp" in the current directory (docs/stored-values.md). Without
// operands the stem is "tlgcmp" and every tag is selected.
void CZLScenario::DoStoreVals() {
  std::string stem = "tlgcmp";
  std::string pattern = ".";
  std::string field = "TAGS";
  if (const char* operands = tokens_.Next(kLineEnd)) {
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
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (f == nullptr) {
    ctx_.Log("%s\t## Could not open file to store tag values\n", ctx_.Stamp().c_str());
    return;
  }
  try {
    CORBA::String_var list = ctx_.server()->SearchTags(pattern.c_str(), field.c_str());
    for (int i = 1;; ++i) {
      const std::string tag = ExtractItem(list.in(), i, ',');
      if (tag.empty()) break;
      const double value = ctx_.server()->PVE(tag.c_str());
      std::uint64_t bits = 0;
      static_assert(sizeof bits == sizeof value, "IEEE double");
      std::memcpy(&bits, &value, sizeof bits);
      PutLittleEndian(f, tag.size() + 1, 2);
      std::fwrite(tag.c_str(), 1, tag.size() + 1, f);
      PutLittleEndian(f, bits, 8);
    }
  } catch (...) {
    std::fclose(f);
    throw;
  }
  std::fclose(f);
}

// COMPAREVALS: not available; says so in the test log.
void CZLScenario::DoCompareVals() {
  ctx_.Log("%s\t## COMAPREVALS not implemented yet.\n", ctx_.Stamp().c_str());
}

}  // namespace zl
