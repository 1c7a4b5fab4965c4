// ZelvikTag: one tag as an object (FindTag). A single default servant per
// database serves every tag; the object id of a reference is the tag's
// name, so references cost nothing until used and a deleted tag simply
// stops answering (OBJECT_NOT_EXIST). Safe from any ORB thread.
#ifndef ZL_SIM_TAG_SERVANT_H_
#define ZL_SIM_TAG_SERVANT_H_

#include <string>

#include "zemr.hh"

namespace zl::sim {

class DatabaseHost;

class TagServant : public virtual POA_ZEMR::ZelvikTag {
 public:
  explicit TagServant(DatabaseHost* host) : host_(host) {}

  ZEMR::ZLTagType TagType() override;
  ZEMR::ZLModeType TagMode() override;
  CORBA::Double PV() override;
  void SetPVE(CORBA::Double value) override;
  void SetMan() override;
  void SetAuto() override;
  CORBA::Double EULo() override;
  CORBA::Double EUHi() override;
  CORBA::Double RawLo() override;
  CORBA::Double RawHi() override;
  char* TagName() override;
  char* Algorithm() override;
  char* Params() override;

 private:
  // The name of the tag this call is for (the object id); applies armed
  // faults for `operation`.
  std::string Enter(const char* operation) const;

  DatabaseHost* const host_;
};

}  // namespace zl::sim

#endif  // ZL_SIM_TAG_SERVANT_H_
