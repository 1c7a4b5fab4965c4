// The argument vector of an ORB of ours (the client library's and the
// stand-in server's): whether it names where the ORB listens, and handing
// it to ORB_init.
//
// Stateless; safe from any thread.
#ifndef ZL_COMMON_ORB_ARGV_H_
#define ZL_COMMON_ORB_ARGV_H_

#include <omniORB4/CORBA.h>

#include <string>
#include <vector>

namespace zl {

// True when `words` names a listen endpoint: "-ORBendPoint" or
// "-ORBendPointNoPublish", in any case. A caller adds its default endpoint
// only when this is false.
bool NamesOrbEndpoint(const std::vector<std::string>& words);

// Appends "-ORBendPoint" and `endpoint` to `words`.
void AddOrbEndpoint(std::vector<std::string>* words, const std::string& endpoint);

// Initialises the process's ORB with `words` (words[0] is the program name;
// omniORB removes the words it takes from its copy, never from `words`).
// Gives the ORB; throws what ORB_init throws.
CORBA::ORB_ptr InitOrbWithWords(const std::vector<std::string>& words);

}  // namespace zl

#endif  // ZL_COMMON_ORB_ARGV_H_
