#include "tag_servant.h"

#include "database_host.h"
#include "fault_table.h"
#include "server_context.h"
#include "wire.h"

namespace zl::sim {
namespace {

// Runs a database operation for the tag; a tag that no longer exists makes
// the object not exist.
template <class F>
auto ForTag(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const TagNotFound&) {
    throw CORBA::OBJECT_NOT_EXIST();
  }
}

}  // namespace

std::string TagServant::Enter(const char* operation) const {
  host_->server().faults().Enter("ZelvikTag", operation);
  host_->CountCall();
  PortableServer::ObjectId_var oid = host_->server().poa_current()->get_object_id();
  CORBA::String_var name = PortableServer::ObjectId_to_string(oid.in());
  return name.in();
}

ZEMR::ZLTagType TagServant::TagType() {
  const std::string name = Enter("TagType");
  return ForTag([&] { return ToWire(host_->db().Type(name)); });
}

ZEMR::ZLModeType TagServant::TagMode() {
  const std::string name = Enter("TagMode");
  return ForTag([&] { return ToWire(host_->db().Mode(name)); });
}

CORBA::Double TagServant::PV() {
  const std::string name = Enter("PV");
  return ForTag([&] { return host_->db().Pv(name); });
}

void TagServant::SetPVE(CORBA::Double value) {
  const std::string name = Enter("SetPVE");
  ForTag([&] { return host_->db().SetPve(name, value, "ZelvikTag::SetPVE"); });
}

void TagServant::SetMan() {
  const std::string name = Enter("SetMan");
  ForTag([&] { host_->db().SetMode(name, TagMode::kManual, "ZelvikTag::SetMan"); });
}

void TagServant::SetAuto() {
  const std::string name = Enter("SetAuto");
  ForTag([&] { host_->db().SetMode(name, TagMode::kAuto, "ZelvikTag::SetAuto"); });
}

CORBA::Double TagServant::EULo() {
  const std::string name = Enter("EULo");
  return ForTag([&] { return host_->db().Definition(name).eu_lo; });
}

CORBA::Double TagServant::EUHi() {
  const std::string name = Enter("EUHi");
  return ForTag([&] { return host_->db().Definition(name).eu_hi; });
}

CORBA::Double TagServant::RawLo() {
  const std::string name = Enter("RawLo");
  return ForTag([&] { return host_->db().Definition(name).raw_lo; });
}

CORBA::Double TagServant::RawHi() {
  const std::string name = Enter("RawHi");
  return ForTag([&] { return host_->db().Definition(name).raw_hi; });
}

char* TagServant::TagName() {
  const std::string name = Enter("TagName");
  return CORBA::string_dup(ForTag([&] { return host_->db().Definition(name).name; }).c_str());
}

char* TagServant::Algorithm() {
  const std::string name = Enter("Algorithm");
  return CORBA::string_dup(ForTag([&] { return host_->db().Definition(name).algorithm; }).c_str());
}

char* TagServant::Params() {
  const std::string name = Enter("Params");
  return CORBA::string_dup(ForTag([&] { return host_->db().Definition(name).params; }).c_str());
}

}  // namespace zl::sim
