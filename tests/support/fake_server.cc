#include "support/fake_server.h"

#include <omniORB4/CORBA.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "expression.h"
#include "tag_database.h"
#include "tag_file.h"
#include "tag_line.h"
#include "text.h"

namespace zl::testing {
namespace {

// The plant of every input: analog, digital and manual tags, one with a
// driver (no address is configured, so point enables are never sent).
constexpr char kPlant[] =
    "T1\tPLC1\tAI:0\tAnalog\tLevel [m]\t0\t100\t4\t20\tAuto\tNONE\t\t50\n"
    "T2\t\t\tAnalog\tFlow\t-10\t10\t\t\tAuto\tRAMP\tRATE=1\t0\n"
    "D1\tPLC1\tDI:1\tDigital\tPump [OFF/ON]\t0\t1\t0\t1\tAuto\tNONE\t\t1\n"
    "M1\t\t\tAnalog\tSetpoint\t0\t10\t\t\tManual\tNONE\t\t5\n";

template <class F>
auto TagOp(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const sim::TagNotFound&) {
    throw ZEMR::ZLTagNotFound();
  }
}

// The tag-file iterator: one servant, given a fresh snapshot at each
// get_tagfile_iterator; send_chunk restores into the plant.
class FakeIterator : public virtual POA_ZEMR::FileChunk_Iterator {
 public:
  explicit FakeIterator(sim::TagDatabase* db) : db_(db) {}
  void Start() {
    records_ = sim::BuildTagFile(*db_);
    starts_.clear();
    CORBA::ULong offset = 0;
    for (const std::string& r : records_) {
      starts_.push_back(offset);
      offset += static_cast<CORBA::ULong>(r.size());
    }
  }
  void SetSource(FakeServer::ChunkSource source) { source_ = std::move(source); }
  CORBA::Boolean next_chunk(CORBA::ULong offset, ZEMR::FileChunk_Type_out chunk) override {
    chunk = new ZEMR::FileChunk_Type;
    if (source_) return source_(offset, *chunk.ptr());
    for (size_t i = 0; i < starts_.size(); ++i) {
      if (starts_[i] != offset) continue;
      const std::string& r = records_[i];
      chunk->length(static_cast<CORBA::ULong>(r.size()));
      if (!r.empty()) std::memcpy(chunk->get_buffer(), r.data(), r.size());
      return true;
    }
    return false;
  }
  CORBA::Long send_chunk(const ZEMR::FileChunk_Type& chunk) override {
    const std::string_view data(reinterpret_cast<const char*>(chunk.get_buffer()),
                                chunk.length());
    std::string error;
    return sim::RestoreChunk(*db_, data, &error);
  }
  void destroy() override {}

 private:
  sim::TagDatabase* const db_;
  std::vector<std::string> records_;
  std::vector<CORBA::ULong> starts_;
  FakeServer::ChunkSource source_;
};

class FakeDatabase : public virtual POA_ZEMR::ZelvikDatabase {
 public:
  FakeDatabase() : db_("FUZZ", nullptr), iterator_(&db_) {}

  void Reset() {
    db_.Clear("");
    db_.Download(kPlant);
  }
  FakeIterator& iterator() { return iterator_; }

  CORBA::Long Download(const char* definitions) override {
    try {
      return db_.Download(definitions);
    } catch (const sim::DownloadError& e) {
      throw ZEMR::ZLDownloadException(static_cast<CORBA::Long>(e.code()),
                                      static_cast<CORBA::Long>(e.position()));
    }
  }
  ZEMR::ZelvikTag_ptr FindTag(const char*) override { return ZEMR::ZelvikTag::_nil(); }
  CORBA::Long SimInit(const char* options) override {
    db_.Clear(options);
    return 0;
  }
  char* Upload(const char* tag) override {
    return CORBA::string_dup(TagOp([&] { return db_.Upload(tag); }).c_str());
  }
  CORBA::Long DeleteTag(const char* tag) override { return db_.Delete(tag) ? 1 : 0; }
  CORBA::Double PV(const char* tag) override { return TagOp([&] { return db_.Pv(tag); }); }
  CORBA::Double PVE(const char* tag) override { return TagOp([&] { return db_.Pve(tag); }); }
  CORBA::Long SetPV(const char* tag, CORBA::Double v) override {
    return TagOp([&] { return db_.SetPv(tag, v, "SetPV"); });
  }
  CORBA::Long SetPVE(const char* tag, CORBA::Double v) override {
    return TagOp([&] { return db_.SetPve(tag, v, "SetPVE"); });
  }
  void SetAuto(const char* tag) override {
    TagOp([&] { db_.SetMode(tag, sim::TagMode::kAuto, "SetAuto"); });
  }
  void SetMan(const char* tag) override {
    TagOp([&] { db_.SetMode(tag, sim::TagMode::kManual, "SetMan"); });
  }
  CORBA::Double EUHi(const char* tag) override {
    return TagOp([&] { return db_.Definition(tag).eu_hi; });
  }
  CORBA::Double EULo(const char* tag) override {
    return TagOp([&] { return db_.Definition(tag).eu_lo; });
  }
  CORBA::Double RawHi(const char* tag) override {
    return TagOp([&] { return db_.Definition(tag).raw_hi; });
  }
  CORBA::Double RawLo(const char* tag) override {
    return TagOp([&] { return db_.Definition(tag).raw_lo; });
  }
  CORBA::Long InitPV(const char* tag) override {
    return TagOp([&] { return db_.InitPv(tag) ? 1 : 0; });
  }
  CORBA::Long TagCount() override { return db_.Count(); }
  void get_tagfile_iterator(ZEMR::FileChunk_Iterator_out iterator) override {
    iterator_.Start();
    iterator = iterator_._this();
  }
  void IOStart() override { db_.EnableIo(true, "IOStart"); }
  void IOStop() override { db_.EnableIo(false, "IOStop"); }
  CORBA::Double DoCalcsEvery(CORBA::Double) override { return 1.0; }
  void EnableIO(CORBA::Boolean on) override { db_.EnableIo(on, "EnableIO"); }
  CORBA::Boolean IOIsEnabled() override { return db_.IoEnabled(); }
  void EnableAlgs(CORBA::Boolean on) override { db_.EnableAlgorithms(on, "EnableAlgs"); }
  CORBA::Boolean AlgsAreRunning() override { return db_.AlgorithmsEnabled(); }
  char* TagStats(const char* selector) override {
    return CORBA::string_dup(db_.Stats(selector).c_str());
  }
  char* SearchTags(const char* pattern, const char* field) override {
    return CORBA::string_dup(db_.Search(pattern, field).c_str());
  }
  CORBA::Boolean TagExists(const char* tag) override { return db_.Exists(tag); }
  char* TagType(const char* tag) override {
    try {
      return CORBA::string_dup(sim::TagTypeName(db_.Type(tag)));
    } catch (const sim::TagNotFound&) {
      return CORBA::string_dup("");
    }
  }
  char* TagMode(const char* tag) override {
    return CORBA::string_dup(TagOp([&] { return sim::TagModeName(db_.Mode(tag)); }));
  }
  char* PVEStr(const char* tag) override {
    return CORBA::string_dup(TagOp([&] { return db_.ValueText(tag); }).c_str());
  }
  char* HelloDriver() override { return CORBA::string_dup("fuzz drivers: none"); }
  char* TagWithOffset(CORBA::Long offset) override {
    return CORBA::string_dup(TagOp([&] { return db_.NameAt(offset); }).c_str());
  }
  // Each query of the elapsed simulation time runs one 1 s cycle, so that a
  // simulation-time wait always comes to an end.
  char* HelloZL(const char* selector) override {
    const std::string s = sim::ToUpper(sim::Trim(selector));
    std::string answer;
    if (s == "$KERNEL.NAME") {
      answer = db_.name();
    } else if (s == "$KERNEL.DBCHANGES") {
      answer = std::to_string(db_.ChangeCount());
    } else if (s == "$KERNEL.VERSION") {
      answer = "fuzz 1.0";
    } else if (s == "$KERNEL.ELAPSEDSIMTIME") {
      db_.RunCycle(1.0, true);
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.3f", db_.SimTime());
      answer = buf;
    } else {
      const std::string_view sel = sim::Trim(selector);
      const size_t dot = sel.rfind('.');
      if (dot != std::string_view::npos &&
          sim::EqualsIgnoreCase(sel.substr(dot + 1), "RemoteAddress")) {
        bool known = false;
        answer = db_.DriverAddress(sel.substr(0, dot), &known);
      }
    }
    return CORBA::string_dup(answer.c_str());
  }
  CORBA::Short SetRawHi(const char* tag, CORBA::Double v) override {
    TagOp([&] { db_.SetRawHi(tag, v); });
    return 1;
  }
  CORBA::Short SetRawLo(const char* tag, CORBA::Double v) override {
    TagOp([&] { db_.SetRawLo(tag, v); });
    return 1;
  }
  CORBA::Long GetMultiTag(const ZEMR::ZLTagList&, ZEMR::ZLTagStatusPayload_out status) override {
    status = new ZEMR::ZLTagStatusPayload;
    return 0;
  }
  void AcquireLoop() override {}
  void ReleaseLoop() override {}
  CORBA::Double WarpFactor(CORBA::Double) override { return 1.0; }
  char* GetIORAdmin() override { return CORBA::string_dup(""); }
  char* GetIORMessageChannel() override { return CORBA::string_dup(""); }
  char* GetIORValueChannel() override { return CORBA::string_dup(""); }
  CORBA::Long Shutdown(CORBA::Long, CORBA::Long) override { return 0; }
  CORBA::Double ZLExpr(const char* expression) override {
    try {
      return db_.Evaluate(expression);
    } catch (const sim::ExpressionError& e) {
      throw ZEMR::ZLBadExpression(static_cast<CORBA::Long>(e.code()), e.what());
    }
  }
  CORBA::Boolean IsForced(const char* tag) override {
    return TagOp([&] { return db_.Forced(tag); });
  }
  void SetForce(const char* tag, CORBA::Boolean force) override {
    TagOp([&] { return db_.SetForce(tag, force); });
  }
  CORBA::Long SetZLClientInfo(ZEMR::ZelvikClientInfo_ptr) override { return -1; }

 private:
  sim::TagDatabase db_;
  FakeIterator iterator_;
};

}  // namespace

struct FakeServer::Impl {
  CORBA::ORB_var orb;
  PortableServer::POA_var poa;
  FakeDatabase servant;
  ZEMR::ZelvikDatabase_var ref;
};

FakeServer& FakeServer::Instance() {
  static FakeServer* server = new FakeServer();
  return *server;
}

FakeServer::FakeServer() : impl_(new Impl) {
  setenv("OMNIORB_CONFIG", "/dev/null", 1);
  const char* argv[] = {"zl-fake-server", "-ORBendPoint", "giop:tcp:127.0.0.1:"};
  int argc = 3;
  impl_->orb = CORBA::ORB_init(argc, const_cast<char**>(argv), "omniORB4");
  CORBA::Object_var obj = impl_->orb->resolve_initial_references("RootPOA");
  impl_->poa = PortableServer::POA::_narrow(obj);
  impl_->poa->the_POAManager()->activate();
  PortableServer::ObjectId_var id = impl_->poa->activate_object(&impl_->servant);
  CORBA::Object_var ref = impl_->poa->id_to_reference(id);
  impl_->ref = ZEMR::ZelvikDatabase::_narrow(ref);
  Reset();
}

ZEMR::ZelvikDatabase_ptr FakeServer::database() const { return impl_->ref.in(); }

void FakeServer::Reset() {
  impl_->servant.Reset();
  impl_->servant.iterator().SetSource(nullptr);
}

void FakeServer::SetChunkSource(ChunkSource source) {
  impl_->servant.iterator().SetSource(std::move(source));
}

}  // namespace zl::testing
