// Where a simulator client looks for servers: the local host name, the
// default server name, the local IOR file of a server name, the names
// looked up in the Naming Service, and the Naming Service itself.
//
// Stateless; safe from any thread (ResolveNameService as safe as the ORB).
#ifndef ZL_BROKER_SERVER_LOCATOR_H_
#define ZL_BROKER_SERVER_LOCATOR_H_

#include <ace/Time_Value.h>
#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include <string>

namespace zl {

// Kinds of the one-component names a client looks up.
inline constexpr const char kDatabaseKind[] = "ZelvikDatabase";
inline constexpr const char kFactoryKind[] = "ZelvikFactory";

// The local host name as the system gives it (gethostname with a
// 256-character buffer, else uname's node name); "" when both fail.
std::string LocalHostName();

// "zl" followed, when `host` is not empty, by "_" and `host` in lower case
// (each byte on its own).
std::string DefaultServerName(const std::string& host);
inline std::string DefaultServerName() { return DefaultServerName(LocalHostName()); }

// The local IOR file of server name `name`: the value of the environment
// variable "TEMP" ("." when it is not set), "/", `name`, ".txt".
std::string LocalIorPath(const std::string& name);

// Reads the first line of the file at `path` into `line`: at most 2047
// characters, its line end included when present. False when the file cannot
// be opened (`line` is then empty).
bool ReadFirstLine(const std::string& path, std::string& line);

// The name {id `id`, kind `kind`}.
CosNaming::Name OneComponentName(const char* id, const char* kind);

// Bounds the calls on `object` (this reference only) by `limit`, cut to
// whole milliseconds and at most 2^32 - 1 ms.
void LimitCallTime(CORBA::Object_ptr object, const ACE_Time_Value& limit);

// Resolves the initial reference "NameService" and narrows it to a naming
// context; the narrow is the first contact and is bounded by `limit` (a new
// connection is bounded by the ORB's connect time limit). Gives nil when the
// ORB was given no "NameService" (omniORB raises NO_RESOURCES then) or the
// object is not a naming context; every other CORBA exception reaches the
// caller. `orb` must not be nil.
CosNaming::NamingContext_ptr ResolveNameService(CORBA::ORB_ptr orb, const ACE_Time_Value& limit);

}  // namespace zl

#endif  // ZL_BROKER_SERVER_LOCATOR_H_
