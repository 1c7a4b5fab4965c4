// A lease of one database, held in the Naming Service: the directory every
// client of a site already reaches, on one machine or on many.
//
// Taking the lease binds the name {id <database>, kind "ZelvikLease"} in the
// context "leases" (made on first use) to an object of this process. The
// Naming Service's bind is atomic and refuses a name that is bound, so at
// most one holder has a database at a time. Releasing unbinds the name when
// it is still this holder's. A lease whose holder no longer answers (its
// process ended without releasing: a crash, a kill) may be taken over: the
// taker first binds the guard name {id <database>, kind "ZelvikLeaseTakeover"},
// so that of several takers only one replaces the dead holder's binding.
//
// The holder object is one servant per process, activated on first use in
// the ORB's root POA; only whether it answers matters (`_non_existent`).
//
// Threads: any; one NamingLease is used by one thread at a time. Every call
// is a remote call on the Naming Service (or, for a takeover, on the old
// holder) and can take up to the ORB's call time limit.
#ifndef ZL_BROKER_NAMING_LEASE_H_
#define ZL_BROKER_NAMING_LEASE_H_

#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include <string>

namespace zl {

extern const char kLeaseContext[];       // "leases"
extern const char kLeaseKind[];          // "ZelvikLease"
extern const char kLeaseTakeoverKind[];  // "ZelvikLeaseTakeover"

class NamingLease {
 public:
  // `root` is the Naming Service's root context (duplicated); nil makes
  // every operation fail.
  NamingLease(CosNaming::NamingContext_ptr root, std::string database);
  // Does not release: a lease outlives its object only until the process
  // ends, when its holder stops answering.
  ~NamingLease() = default;
  NamingLease(const NamingLease&) = delete;
  NamingLease& operator=(const NamingLease&) = delete;

  enum Result { kFailed = -1, kHeldByOther = 0, kTaken = 1 };

  // Takes the lease: kTaken when this process holds it now (newly bound,
  // already held, or taken over from a holder that no longer answers),
  // kHeldByOther when a holder that answers has it (or another process is
  // taking over a dead holder's lease), kFailed when the Naming Service
  // failed (the reason in error()).
  Result Acquire();
  // Gives the lease back: kTaken when this process's binding was removed,
  // kHeldByOther when the name was not this process's (or not bound),
  // kFailed when the Naming Service failed.
  Result Release();
  // Whether this process holds the lease now (a remote look-up).
  bool Held();

  const std::string& database() const { return database_; }
  // The reason of the last kFailed, "" after a success.
  const std::string& error() const { return error_; }

 private:
  // The "leases" context, made when missing. Throws CORBA exceptions.
  CosNaming::NamingContext_ptr Context();
  // Clears error_ and runs `step` (one use of the Naming Service, giving a
  // Result). Without a Naming Service, kFailed at once; the lease's name
  // missing (NotFound) gives kHeldByOther; any other exception kFailed, with
  // its text in error_.
  template <class Step>
  Result OnNamingService(Step&& step);
  // Replaces the binding of a holder that no longer answers.
  Result TakeOver(CosNaming::NamingContext_ptr context, CORBA::Object_ptr dead);

  const CosNaming::NamingContext_var root_;
  const std::string database_;
  std::string error_;
};

// The object that stands for this process in its leases; activated on first
// call. Nil when the ORB is not initialised. Any thread.
CORBA::Object_ptr LeaseHolderObject();

// Whether `holder` still answers: false when it does not exist any more or
// its process cannot be reached. Any thread.
bool HolderAnswers(CORBA::Object_ptr holder);

}  // namespace zl

#endif  // ZL_BROKER_NAMING_LEASE_H_
