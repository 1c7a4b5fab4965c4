#include "broker/orb_args.h"

#include <ace/ARGV.h>
#include <ace/Arg_Shifter.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_string.h>

#include <memory>

#include "broker/client_endpoint.h"
#include "common/orb_argv.h"

namespace zl {
namespace {

const char kProgramName[] = "ZLSim";
const char kListenOption[] = "-OrbListenEndpoints";

bool SameWord(const std::string& a, const char* b) {
  return ACE_OS::strcasecmp(a.c_str(), b) == 0;
}

bool HasWord(const std::vector<std::string>& words, const char* word) {
  for (const std::string& w : words) {
    if (SameWord(w, word)) return true;
  }
  return false;
}

}  // namespace

OrbArgs AssembleOrbArgs(const char* options, const char* zelvik_interface) {
  // Iterative mode: words are added one by one and joined with blanks, and
  // split again when the vector is read (a value holding blanks becomes
  // several words, as it always did). It keeps pointers to the added words,
  // so `option_words` must outlive it.
  ACE_ARGV option_words(options != nullptr ? options : "", true);
  ACE_ARGV assembled(true);
  assembled.add(kProgramName);
  for (int i = 0; i < option_words.argc(); ++i) assembled.add(option_words[i]);
  if (zelvik_interface != nullptr && *zelvik_interface != '\0') {
    assembled.add(kListenOption);
    assembled.add(zelvik_interface);
  }

  int argc = assembled.argc();
  char** source = assembled.argv();
  std::vector<char*> argv(source, source + argc);
  OrbArgs result;
  {
    ACE_Arg_Shifter shifter(argc, argv.data());
    while (shifter.is_anything_left()) {
      if (ACE_OS::strcasecmp(shifter.get_current(), "-nsior") != 0) {
        shifter.ignore_arg();
        continue;
      }
      shifter.consume_arg();
      if (shifter.is_parameter_next()) {
        result.ns_ior_file = shifter.get_current();
        ACE_DEBUG((LM_INFO, "NS ior file: %s \n", result.ns_ior_file.c_str()));
        shifter.consume_arg();
      } else {
        ACE_DEBUG((LM_ERROR, "#error: argument -nsior requires a filename, it is ignored\n"));
      }
    }
  }
  result.words.assign(argv.begin(), argv.end());
  return result;
}

std::string EndpointFromListenValue(const std::string& value) {
  std::string rest = value;
  const std::string::size_type scheme = rest.find("://");
  if (scheme != std::string::npos) rest.erase(0, scheme + 3);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.find(':') == std::string::npos) rest += ':';
  return "giop:tcp:" + rest;
}

std::vector<std::string> TranslateForOrb(const std::vector<std::string>& words,
                                         const std::string& ns_ior) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (!SameWord(words[i], kListenOption)) {
      out.push_back(words[i]);
      continue;
    }
    if (i + 1 == words.size()) {
      ACE_DEBUG((LM_WARNING, "#warning: %s without an endpoint is ignored\n", kListenOption));
      continue;
    }
    AddOrbEndpoint(&out, EndpointFromListenValue(words[++i]));
  }
  // A client that names no endpoint listens only where its server can
  // reach it; where the Naming Service host cannot be told, nowhere is added.
  const char* env_endpoint = ACE_OS::getenv("ORBendPoint");
  if (!NamesOrbEndpoint(out) && (env_endpoint == nullptr || *env_endpoint == '\0')) {
    const std::string endpoint = DefaultClientEndpoint(out, ns_ior);
    if (!endpoint.empty()) AddOrbEndpoint(&out, endpoint);
  }
  if (!HasWord(out, "-ORBclientConnectTimeOutPeriod")) {
    out.push_back("-ORBclientConnectTimeOutPeriod");
    out.push_back(std::to_string(kDefaultConnectTimeoutMs));
  }
  if (!HasWord(out, "-ORBclientCallTimeOutPeriod")) {
    out.push_back("-ORBclientCallTimeOutPeriod");
    out.push_back(std::to_string(kDefaultCallTimeoutMs));
  }
  return out;
}

}  // namespace zl
