// The ZEMR interface on the wire: user exceptions reach the stub as their own
// classes with their members, an undeclared user exception arrives as a
// system exception, empty sequences round-trip.
//
// The server is a dynamic servant in a child process (a colocated call would
// skip the encoding). It answers as a Zelvik database would and raises what
// each test needs; it ends when the test process closes its pipe.
#include <gtest/gtest.h>
#include <omniORB4/CORBA.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "zemr.hh"

namespace {

class FakeDatabase : public PortableServer::DynamicImplementation {
 public:
  explicit FakeDatabase(CORBA::ORB_ptr orb) : orb_(CORBA::ORB::_duplicate(orb)) {}

  char* _primary_interface(const PortableServer::ObjectId&, PortableServer::POA_ptr) override {
    return CORBA::string_dup(ZEMR::ZelvikDatabase2::_PD_repoId);
  }

  void invoke(CORBA::ServerRequest_ptr request) override {
    const std::string op = request->operation();
    // The request takes ownership of the list handed to arguments().
    CORBA::NVList_ptr args;
    orb_->create_list(0, args);
    CORBA::Any result, failure;
    if (op == "PVE" || op == "Download" || op == "ZLExpr") {
      CORBA::Any name;
      name <<= "";
      args->add_value("", name, CORBA::ARG_IN);
      request->arguments(args);
      if (op == "PVE") failure <<= ZEMR::ZLTagNotFound();
      if (op == "Download") failure <<= ZEMR::ZLDownloadException(7, 42);
      if (op == "ZLExpr") failure <<= ZEMR::ZLBadExpression(3, "1 +");
      request->set_exception(failure);
    } else if (op == "get_tagfile_iterator") {
      CORBA::Any out;
      out <<= ZEMR::FileChunk_Iterator::_nil();
      args->add_value("", out, CORBA::ARG_OUT);
      request->arguments(args);
      failure <<= ZEMR::FileError_Result(-5);
      request->set_exception(failure);
    } else if (op == "TagCount") {
      // Not declared by TagCount: the client cannot know this exception.
      request->arguments(args);
      failure <<= ZEMR::ZLBadExpression(1, "x");
      request->set_exception(failure);
    } else if (op == "GetMultiTag" || op == "SetMultiPVE") {
      CORBA::Any in, out;
      if (op == "GetMultiTag") {
        in <<= ZEMR::ZLTagList();
        out <<= ZEMR::ZLTagStatusPayload();
      } else {
        in <<= ZEMR::ZLTagCommands();
        out <<= ZEMR::ZLErrorCodeList();
      }
      CORBA::NamedValue_ptr in_value = args->add_value("", in, CORBA::ARG_IN);
      args->add_value("", out, CORBA::ARG_OUT);
      request->arguments(args);
      // The result is the number of entries received.
      CORBA::ULong count = 0;
      const ZEMR::ZLTagList* names;
      const ZEMR::ZLTagCommands* commands;
      if (*in_value->value() >>= names) count = names->length();
      if (*in_value->value() >>= commands) count = commands->length();
      result <<= static_cast<CORBA::Long>(count);
      request->set_result(result);
    } else {
      request->arguments(args);
      failure <<= CORBA::BAD_OPERATION(0, CORBA::COMPLETED_NO);
      request->set_exception(failure);
    }
  }

 private:
  CORBA::ORB_var orb_;
};

// The child's life: serve until the parent's end of `lifeline` closes.
[[noreturn]] void RunServer(int ior_out, int lifeline) {
  int argc = 3;
  char* argv[] = {const_cast<char*>("wire-server"), const_cast<char*>("-ORBendPoint"),
                  const_cast<char*>("giop:tcp:127.0.0.1:"), nullptr};
  CORBA::ORB_var orb = CORBA::ORB_init(argc, argv, "omniORB4");
  CORBA::Object_var obj = orb->resolve_initial_references("RootPOA");
  PortableServer::POA_var poa = PortableServer::POA::_narrow(obj);
  poa->the_POAManager()->activate();
  auto* servant = new FakeDatabase(orb);
  PortableServer::ObjectId_var id = poa->activate_object(servant);
  CORBA::Object_var ref = poa->id_to_reference(id.in());
  CORBA::String_var ior = orb->object_to_string(ref);
  const std::string line = std::string(ior.in()) + "\n";
  if (write(ior_out, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(2);
  close(ior_out);
  char byte;
  while (read(lifeline, &byte, 1) > 0) {
  }
  orb->shutdown(true);
  orb->destroy();
  _exit(0);
}

class WireTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    int ior_pipe[2], life_pipe[2];
    ASSERT_EQ(0, pipe(ior_pipe));
    ASSERT_EQ(0, pipe(life_pipe));
    child_ = fork();
    ASSERT_NE(-1, child_);
    if (child_ == 0) {
      close(ior_pipe[0]);
      close(life_pipe[1]);
      RunServer(ior_pipe[1], life_pipe[0]);
    }
    close(ior_pipe[1]);
    close(life_pipe[0]);
    lifeline_ = life_pipe[1];
    std::string ior;
    char c;
    while (read(ior_pipe[0], &c, 1) == 1 && c != '\n') ior += c;
    close(ior_pipe[0]);
    ASSERT_EQ(0u, ior.rfind("IOR:", 0)) << "the server did not start";

    int argc = 3;
    char* argv[] = {const_cast<char*>("wire-client"), const_cast<char*>("-ORBendPoint"),
                    const_cast<char*>("giop:tcp:127.0.0.1:"), nullptr};
    orb_ = CORBA::ORB_init(argc, argv, "omniORB4");
    CORBA::Object_var obj = orb_->string_to_object(ior.c_str());
    db_ = ZEMR::ZelvikDatabase2::_narrow(obj);
    ASSERT_FALSE(CORBA::is_nil(db_));
  }

  static void TearDownTestSuite() {
    db_ = ZEMR::ZelvikDatabase2::_nil();
    orb_->destroy();
    close(lifeline_);
    int status = 0;
    waitpid(child_, &status, 0);
  }

  static inline CORBA::ORB_var orb_;
  static inline ZEMR::ZelvikDatabase2_var db_;
  static inline pid_t child_ = -1;
  static inline int lifeline_ = -1;
};

TEST_F(WireTest, DeclaredUserExceptionsKeepClassAndMembers) {
  EXPECT_THROW(db_->PVE("NO.SUCH.TAG"), ZEMR::ZLTagNotFound);
  try {
    db_->Download("bad line");
    ADD_FAILURE() << "no exception";
  } catch (const ZEMR::ZLDownloadException& e) {
    EXPECT_EQ(7, e.zlErrorCode);
    EXPECT_EQ(42, e.zlStringPos);
  }
  try {
    db_->ZLExpr("1 +");
    ADD_FAILURE() << "no exception";
  } catch (const ZEMR::ZLBadExpression& e) {
    EXPECT_EQ(3, e.exprError);
    EXPECT_STREQ("1 +", e.exprString.in());
  }
  try {
    ZEMR::FileChunk_Iterator_var it;
    db_->get_tagfile_iterator(it.out());
    ADD_FAILURE() << "no exception";
  } catch (const ZEMR::FileError_Result& e) {
    EXPECT_EQ(-5, e.status);
  }
}

TEST_F(WireTest, UndeclaredUserExceptionArrivesAsSystemException) {
  try {
    db_->TagCount();
    ADD_FAILURE() << "no exception";
  } catch (const CORBA::UserException& e) {
    ADD_FAILURE() << "wrongly typed user exception " << e._rep_id();
  } catch (const CORBA::UNKNOWN& e) {
    EXPECT_EQ(omni::UNKNOWN_UserException, e.minor());
  }
}

TEST_F(WireTest, EmptySequencesRoundTrip) {
  ZEMR::ZLTagStatusPayload_var status;
  EXPECT_EQ(0, db_->GetMultiTag(ZEMR::ZLTagList(), status.out()));
  EXPECT_EQ(0u, status->length());

  ZEMR::ZLErrorCodeList_var codes;
  EXPECT_EQ(0, db_->SetMultiPVE(ZEMR::ZLTagCommands(), codes.out()));
  EXPECT_EQ(0u, codes->length());

  ZEMR::ZLTagList two;
  two.length(2);
  two[0] = "A";
  two[1] = "B";
  EXPECT_EQ(2, db_->GetMultiTag(two, status.out()));

  // A tag-change notification body travels in an `any`: empty is valid too.
  CORBA::Any body;
  body <<= ZEMR::ZLTagValueSeq();
  const ZEMR::ZLTagValueSeq* seq = nullptr;
  ASSERT_TRUE(body >>= seq);
  EXPECT_EQ(0u, seq->length());
}

}  // namespace
