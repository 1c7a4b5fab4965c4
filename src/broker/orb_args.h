// The client ORB's argument vector, built from a client's option string.
//
// Assembly: the program name "ZLSim", the option words in their order (split
// with ACE's rules, $NAME replaced from the environment) and, when the
// environment variable "Zelvik_Interface" is set and not empty, the words
// "-OrbListenEndpoints" and its value. The library's own option "-nsior FILE"
// is taken out of the vector: kept words move to the front in their order,
// consumed words go to the back, the last consumed first (ACE's argument
// shifter). The ORB receives the full vector, consumed words included.
//
// Translation: the listen-endpoint words of the original ORB mean nothing to
// omniORB, so just before ORB_init "-OrbListenEndpoints V" becomes
// "-ORBendPoint giop:tcp:HOST:PORT"; when no endpoint is named at all, the
// default endpoint of client_endpoint.h is added (the local address toward
// the Naming Service host); and the client's default time limits are added
// unless the options set them.
//
// Stateless; safe from any thread.
#ifndef ZL_BROKER_ORB_ARGS_H_
#define ZL_BROKER_ORB_ARGS_H_

#include <string>
#include <vector>

namespace zl {

struct OrbArgs {
  std::vector<std::string> words;  // the assembled and shifted vector
  std::string ns_ior_file;         // the word that followed "-nsior"; empty when none
};

// Assembles the vector. `zelvik_interface` is the value of the environment
// variable "Zelvik_Interface" (null when unset). Logs "NS ior file: %s \n" at
// LM_INFO for a stored file, and the LM_ERROR line
// "#error: argument -nsior requires a filename, it is ignored\n" when
// "-nsior" has no usable file word.
OrbArgs AssembleOrbArgs(const char* options, const char* zelvik_interface);

// The endpoint that "-OrbListenEndpoints V" names, as omniORB writes it:
// V may be "iiop://host:port", "host:port" or "host" (any port).
std::string EndpointFromListenValue(const std::string& value);

// Time limits of the client ORB unless the options name them, in ms: a
// server that accepts a call and never answers must not block a caller forever.
constexpr int kDefaultConnectTimeoutMs = 10000;
constexpr int kDefaultCallTimeoutMs = 60000;

// The vector as omniORB takes it: listen endpoints translated, the default
// endpoint added when neither the vector nor the variable "ORBendPoint"
// names one (`ns_ior` is the "-nsior" word, see client_endpoint.h), default
// time limits added.
std::vector<std::string> TranslateForOrb(const std::vector<std::string>& words,
                                         const std::string& ns_ior = "");

}  // namespace zl

#endif  // ZL_BROKER_ORB_ARGS_H_
