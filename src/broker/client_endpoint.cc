#include "broker/client_endpoint.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>

namespace zl {
namespace {

// Any port will do for a datagram socket's connect: nothing is sent.
const char kProbePort[] = "2809";
// No IOR of a Naming Service comes near this; a longer text is not read.
constexpr std::size_t kMaxIorBytes = 64 * 1024;

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const std::size_t n = std::char_traits<char>::length(prefix);
  return text.size() >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

std::string Trimmed(std::string text) {
  const char* blanks = " \t\r\n";
  text.erase(0, text.find_first_not_of(blanks));
  const std::string::size_type end = text.find_last_not_of(blanks);
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

// The host of one corbaloc address, "iiop:1.2@host:port" or ":host:port"
// (also "[v6]:port"); "" for another protocol or no host.
std::string HostOfAddress(std::string address) {
  const std::string::size_type colon = address.find(':');
  if (colon == std::string::npos) return "";
  const std::string protocol = address.substr(0, colon);
  if (!protocol.empty() && strcasecmp(protocol.c_str(), "iiop") != 0 &&
      strcasecmp(protocol.c_str(), "ssliop") != 0) {
    return "";
  }
  address.erase(0, colon + 1);
  const std::string::size_type at = address.find('@');
  if (at != std::string::npos) address.erase(0, at + 1);
  if (!address.empty() && address[0] == '[') {
    const std::string::size_type close = address.find(']');
    return close == std::string::npos ? "" : address.substr(1, close - 1);
  }
  return address.substr(0, address.find(':'));
}

// corbaloc:ADDR[,ADDR...]/KEY and corbaname:ADDR[,...][/KEY][#NAME]: the
// host of the first address that has one.
std::string HostOfCorbaloc(const std::string& reference) {
  std::string rest = reference.substr(reference.find(':') + 1);
  rest = rest.substr(0, rest.find_first_of("/#"));
  std::string::size_type start = 0;
  while (start <= rest.size()) {
    std::string::size_type comma = rest.find(',', start);
    if (comma == std::string::npos) comma = rest.size();
    const std::string host = HostOfAddress(rest.substr(start, comma - start));
    if (!host.empty()) return host;
    start = comma + 1;
  }
  return "";
}

// Reads the CDR encapsulations of a stringified IOR: just enough to find
// the host of its first IIOP profile. Every read is bounds-checked; a text
// that does not fit gives "".
class CdrReader {
 public:
  explicit CdrReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
    little_ = Octet() != 0;  // an encapsulation begins with its byte order
  }
  bool ok() const { return ok_; }

  std::uint8_t Octet() {
    if (pos_ >= bytes_.size()) return Fail();
    return bytes_[pos_++];
  }
  std::uint16_t UShort() {
    pos_ = (pos_ + 1) & ~static_cast<std::size_t>(1);
    if (pos_ + 2 > bytes_.size()) return Fail();
    const std::uint16_t hi = bytes_[pos_ + (little_ ? 1 : 0)];
    const std::uint16_t lo = bytes_[pos_ + (little_ ? 0 : 1)];
    pos_ += 2;
    return static_cast<std::uint16_t>((hi << 8) | lo);
  }
  std::uint32_t ULong() {
    pos_ = (pos_ + 3) & ~static_cast<std::size_t>(3);
    if (pos_ + 4 > bytes_.size()) return Fail();
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint32_t b = bytes_[pos_ + (little_ ? 3 - i : i)];
      v = (v << 8) | b;
    }
    pos_ += 4;
    return v;
  }
  // A sequence of octets or a string: its length, then its bytes.
  std::vector<std::uint8_t> Bytes() {
    const std::uint32_t n = ULong();
    if (!ok_ || n > bytes_.size() - pos_) {
      Fail();
      return {};
    }
    std::vector<std::uint8_t> out(bytes_.begin() + pos_, bytes_.begin() + pos_ + n);
    pos_ += n;
    return out;
  }

 private:
  std::uint8_t Fail() {
    ok_ = false;
    pos_ = bytes_.size();
    return 0;
  }
  std::vector<std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  bool little_ = false;
  bool ok_ = true;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A CDR string's bytes as text, without the zero that ends it.
std::string CdrText(const std::vector<std::uint8_t>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  return text.substr(0, text.find('\0'));
}

// The host of one IIOP profile body, then those of its alternate addresses
// (IIOP 1.1 and later), appended to `hosts`. Stops at the first byte that
// does not fit.
void AddHostsOfIiopProfile(std::vector<std::uint8_t> body, std::vector<std::string>* hosts) {
  constexpr std::uint32_t kTagAlternateIiopAddress = 3;
  CdrReader profile(std::move(body));
  profile.Octet();  // IIOP version, major and minor
  const std::uint8_t minor = profile.Octet();
  const std::string host = CdrText(profile.Bytes());
  if (!profile.ok()) return;
  hosts->push_back(host);
  if (minor == 0) return;  // IIOP 1.0 has no components
  profile.UShort();  // the port
  profile.Bytes();   // the object key
  const std::uint32_t components = profile.ULong();
  for (std::uint32_t i = 0; profile.ok() && i < components; ++i) {
    const std::uint32_t tag = profile.ULong();
    std::vector<std::uint8_t> data = profile.Bytes();
    if (!profile.ok() || tag != kTagAlternateIiopAddress) continue;
    CdrReader alternate(std::move(data));
    const std::string alternate_host = CdrText(alternate.Bytes());
    if (alternate.ok()) hosts->push_back(alternate_host);
  }
}

std::string FirstLineOf(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return Trimmed(line);
}

bool SameWord(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

std::vector<std::string> HostsOfIor(const std::string& reference) {
  std::vector<std::string> hosts;
  const std::string ref = Trimmed(reference);
  if (!StartsWithNoCase(ref, "IOR:")) return hosts;
  const std::string hex = ref.substr(4);
  if (hex.size() % 2 != 0 || hex.size() / 2 > kMaxIorBytes) return hosts;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexDigit(hex[i]);
    const int lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return hosts;
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  constexpr std::uint32_t kTagInternetIop = 0;
  CdrReader ior(std::move(bytes));
  ior.Bytes();  // the repository id
  const std::uint32_t profiles = ior.ULong();
  for (std::uint32_t i = 0; ior.ok() && i < profiles; ++i) {
    const std::uint32_t tag = ior.ULong();
    std::vector<std::uint8_t> body = ior.Bytes();
    if (ior.ok() && tag == kTagInternetIop) AddHostsOfIiopProfile(std::move(body), &hosts);
  }
  return hosts;
}

std::string HostOfReference(const std::string& reference) {
  const std::string ref = Trimmed(reference);
  if (StartsWithNoCase(ref, "corbaloc:") || StartsWithNoCase(ref, "corbaname:")) {
    return HostOfCorbaloc(ref);
  }
  if (StartsWithNoCase(ref, "IOR:")) {
    const std::vector<std::string> hosts = HostsOfIor(ref);
    return hosts.empty() ? "" : hosts.front();
  }
  if (StartsWithNoCase(ref, "file://")) {
    const std::string inner = FirstLineOf(ref.substr(7));
    // One level only: a file that names another file is not followed.
    return StartsWithNoCase(inner, "file:") ? "" : HostOfReference(inner);
  }
  return "";
}

std::string NameServiceReference(const std::vector<std::string>& words, const std::string& ns_ior) {
  if (!ns_ior.empty()) return ns_ior;
  const std::string kNameService = "NameService=";
  std::string fallback;
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    const std::string& value = words[i + 1];
    if (SameWord(words[i], "-ORBInitRef") && value.compare(0, kNameService.size(), kNameService) == 0) {
      return value.substr(kNameService.size());
    }
    if (SameWord(words[i], "-ORBDefaultInitRef") && fallback.empty()) fallback = value;
  }
  if (!fallback.empty()) return fallback;
  // omniORB takes these when the arguments name nothing.
  const char* init_ref = std::getenv("ORBInitRef");
  if (init_ref != nullptr && std::string(init_ref).compare(0, kNameService.size(), kNameService) == 0) {
    return init_ref + kNameService.size();
  }
  const char* default_ref = std::getenv("ORBDefaultInitRef");
  return default_ref != nullptr ? default_ref : "";
}

std::string LocalAddressToward(const std::string& host) {
  if (host.empty()) return "";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), kProbePort, &hints, &found) != 0) return "";
  std::string result;
  for (int family : {AF_INET, AF_INET6}) {
    for (addrinfo* a = found; a != nullptr && result.empty(); a = a->ai_next) {
      if (a->ai_family != family) continue;
      const int fd = socket(a->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      if (fd < 0) continue;
      sockaddr_storage local{};
      socklen_t length = sizeof(local);
      char text[INET6_ADDRSTRLEN] = "";
      if (connect(fd, a->ai_addr, a->ai_addrlen) == 0 &&
          getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        const void* address = family == AF_INET
            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&local)->sin_addr)
            : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr);
        if (inet_ntop(family, address, text, sizeof(text)) != nullptr) result = text;
      }
      close(fd);
    }
    if (!result.empty()) break;
  }
  freeaddrinfo(found);
  return result;
}

std::string DefaultClientEndpoint(const std::vector<std::string>& words, const std::string& ns_ior) {
  const std::string address = LocalAddressToward(HostOfReference(NameServiceReference(words, ns_ior)));
  if (address.empty()) return "";
  if (address.find(':') != std::string::npos) return "giop:tcp:[" + address + "]:";
  return "giop:tcp:" + address + ":";
}

}  // namespace zl
