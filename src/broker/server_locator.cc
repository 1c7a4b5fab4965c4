#include "broker/server_locator.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/text_utils.h"

namespace zl {

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
  struct utsname uts {};
  if (uname(&uts) == 0) return uts.nodename;
  return "";
}

std::string DefaultServerName(const std::string& host) {
  if (host.empty()) return "zl";
  return "zl_" + ToLowerCopy(host.c_str());
}

std::string LocalIorPath(const std::string& name) {
  const char* temp = std::getenv("TEMP");
  return std::string(temp != nullptr ? temp : ".") + "/" + name + ".txt";
}

bool ReadFirstLine(const std::string& path, std::string& line) {
  line.clear();
  struct Closer {
    void operator()(FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<FILE, Closer> file(std::fopen(path.c_str(), "r"));
  if (!file) return false;
  char buffer[2048];
  if (std::fgets(buffer, sizeof buffer, file.get()) != nullptr) line = buffer;
  return true;
}

CosNaming::Name OneComponentName(const char* id, const char* kind) {
  CosNaming::Name name;
  name.length(1);
  name[0].id = CORBA::string_dup(id != nullptr ? id : "");
  name[0].kind = CORBA::string_dup(kind);
  return name;
}

void LimitCallTime(CORBA::Object_ptr object, const ACE_Time_Value& limit) {
  const unsigned long long ms = limit < ACE_Time_Value::zero ? 0 : limit.get_msec();
  omniORB::setClientCallTimeout(object, static_cast<CORBA::ULong>(std::min(ms, 0xffffffffULL)));
}

CosNaming::NamingContext_ptr ResolveNameService(CORBA::ORB_ptr orb, const ACE_Time_Value& limit) {
  CORBA::Object_var object;
  try {
    object = orb->resolve_initial_references("NameService");
  } catch (const CORBA::NO_RESOURCES&) {
    return CosNaming::NamingContext::_nil();
  }
  if (CORBA::is_nil(object)) return CosNaming::NamingContext::_nil();
  LimitCallTime(object.in(), limit);
  return CosNaming::NamingContext::_narrow(object.in());
}

}  // namespace zl
