#include "fault_table.h"

#include <chrono>

#include "text.h"
#include "zemr.hh"

namespace zl::sim {
namespace {

using Thrower = void (*)(CORBA::ULong minor, CORBA::CompletionStatus completed);

#define ZL_SIM_SYSTEM(name) \
  { #name, [](CORBA::ULong m, CORBA::CompletionStatus c) { throw CORBA::name(m, c); } }

const struct {
  const char* name;
  Thrower raise;
} kSystemExceptions[] = {
    ZL_SIM_SYSTEM(TRANSIENT),     ZL_SIM_SYSTEM(COMM_FAILURE),   ZL_SIM_SYSTEM(TIMEOUT),
    ZL_SIM_SYSTEM(OBJECT_NOT_EXIST), ZL_SIM_SYSTEM(NO_IMPLEMENT), ZL_SIM_SYSTEM(BAD_OPERATION),
    ZL_SIM_SYSTEM(INTERNAL),      ZL_SIM_SYSTEM(UNKNOWN),        ZL_SIM_SYSTEM(NO_RESOURCES),
    ZL_SIM_SYSTEM(NO_PERMISSION), ZL_SIM_SYSTEM(BAD_PARAM),      ZL_SIM_SYSTEM(MARSHAL),
    ZL_SIM_SYSTEM(INV_OBJREF),    ZL_SIM_SYSTEM(IMP_LIMIT),      ZL_SIM_SYSTEM(NO_MEMORY),
    ZL_SIM_SYSTEM(BAD_INV_ORDER), ZL_SIM_SYSTEM(NO_RESPONSE),    ZL_SIM_SYSTEM(DATA_CONVERSION),
    ZL_SIM_SYSTEM(FREE_MEM),      ZL_SIM_SYSTEM(INITIALIZE),     ZL_SIM_SYSTEM(PERSIST_STORE),
};

#undef ZL_SIM_SYSTEM

const char* const kUserExceptions[] = {"ZLTagNotFound", "ZLDownloadException", "ZLBadExpression",
                                       "FileError_Result"};

void RaiseUser(const std::string& name) {
  if (name == "ZLTagNotFound") throw ZEMR::ZLTagNotFound();
  if (name == "ZLDownloadException") throw ZEMR::ZLDownloadException(99, 0);
  if (name == "ZLBadExpression") throw ZEMR::ZLBadExpression(99, "injected fault");
  throw ZEMR::FileError_Result(99);
}

// Every operation of the served interfaces, by interface.
const struct {
  const char* interface_name;
  const char* operations;
} kOperations[] = {
    {"ZelvikDatabase",
     "Download FindTag SimInit Upload DeleteTag PV PVE SetPV SetPVE SetAuto SetMan EUHi EULo "
     "RawHi RawLo InitPV TagCount get_tagfile_iterator IOStart IOStop DoCalcsEvery EnableIO "
     "IOIsEnabled EnableAlgs AlgsAreRunning TagStats SearchTags TagExists TagType TagMode PVEStr "
     "HelloDriver TagWithOffset HelloZL SetRawHi SetRawLo GetMultiTag AcquireLoop ReleaseLoop "
     "WarpFactor GetIORAdmin GetIORMessageChannel GetIORValueChannel Shutdown ZLExpr IsForced "
     "SetForce SetZLClientInfo DoASingleCalcCycle SetMultiPVE GetIORValueNotifierChannel "
     "GetIORInternalObject"},
    {"ZelvikTag",
     "TagType TagMode PV SetPVE SetMan SetAuto EULo EUHi RawLo RawHi TagName Algorithm Params"},
    {"ZelvikAdmin", "RunningTime Version Copyright Statistics"},
    {"FileChunk_Iterator", "next_chunk send_chunk destroy"},
    {"ZelvikFactory", "create HelloFactory"},
};

}  // namespace

bool FaultTable::IsSystemException(const std::string& name, std::string* canonical) {
  for (const auto& e : kSystemExceptions) {
    if (EqualsIgnoreCase(name, e.name)) {
      *canonical = e.name;
      return true;
    }
  }
  return false;
}

bool FaultTable::IsUserException(const std::string& name, std::string* canonical) {
  for (const char* e : kUserExceptions) {
    if (EqualsIgnoreCase(name, e)) {
      *canonical = e;
      return true;
    }
  }
  return false;
}

std::vector<std::string> FaultTable::SystemExceptionNames() {
  std::vector<std::string> names;
  for (const auto& e : kSystemExceptions) names.push_back(e.name);
  return names;
}

bool FaultTable::IsOperation(const std::string& operation) {
  std::string iface;
  std::string op = operation;
  const size_t colons = operation.find("::");
  if (colons != std::string::npos) {
    iface = operation.substr(0, colons);
    op = operation.substr(colons + 2);
  }
  for (const auto& entry : kOperations) {
    if (!iface.empty() && !EqualsIgnoreCase(iface, entry.interface_name)) continue;
    for (const Field& f : Split(entry.operations, ' ')) {
      if (EqualsIgnoreCase(f.text, op)) return true;
    }
  }
  return false;
}

void FaultTable::Arm(const std::string& operation, const Fault& fault) {
  std::lock_guard<std::mutex> lock(mu_);
  faults_[ToUpper(operation)].push_back(fault);
  armed_.fetch_add(1);
}

void FaultTable::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  faults_.clear();
  armed_.store(0);
}

int FaultTable::Pending() const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& entry : faults_) {
    for (const Fault& f : entry.second) n += f.count;
  }
  return n;
}

bool FaultTable::Take(const std::string& key, Fault* fault) {
  auto it = faults_.find(key);
  if (it == faults_.end() || it->second.empty()) return false;
  *fault = it->second.front();
  if (--it->second.front().count <= 0) {
    it->second.erase(it->second.begin());
    armed_.fetch_sub(1);
    if (it->second.empty()) faults_.erase(it);
  }
  return true;
}

void FaultTable::Enter(const char* interface_name, const char* operation) {
  if (armed_.load(std::memory_order_relaxed) == 0) return;
  Fault fault;
  {
    std::unique_lock<std::mutex> lock(mu_);
    const std::string op = ToUpper(operation);
    if (!Take(ToUpper(interface_name) + "::" + op, &fault) && !Take(op, &fault)) return;
    if (fault.kind == Fault::kDelay) {
      cv_.wait_for(lock, std::chrono::milliseconds(fault.delay_ms), [this] { return stopped_; });
      return;
    }
  }
  switch (fault.kind) {
    case Fault::kSystem:
      for (const auto& e : kSystemExceptions) {
        if (fault.exception == e.name) e.raise(fault.minor, fault.completed);
      }
      throw CORBA::UNKNOWN(fault.minor, fault.completed);
    case Fault::kUser:
      RaiseUser(fault.exception);
      break;
    case Fault::kUndeclared:
      // FileError_Result is declared only by get_tagfile_iterator.
      if (EqualsIgnoreCase(operation, "get_tagfile_iterator")) throw ZEMR::ZLTagNotFound();
      throw ZEMR::FileError_Result(99);
    default:
      break;
  }
}

void FaultTable::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopped_ = true;
  }
  cv_.notify_all();
}

}  // namespace zl::sim
