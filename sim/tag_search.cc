// TagDatabase::Search, kept apart because Boost.Regex is slow to compile.
#include <boost/regex.hpp>

#include "tag_database.h"
#include "text.h"

namespace zl::sim {

std::string TagDatabase::Search(std::string_view pattern, std::string_view field) const {
  const std::string f = ToUpper(Trim(field));
  // The text of the chosen field of a tag; null for an unknown field.
  std::string (*text_of)(const Tag&) = nullptr;
  if (f == "TAGS" || f == "TAG" || f == "NAME") {
    text_of = [](const Tag& t) { return t.def.name; };
  } else if (f == "ADDRESS") {
    text_of = [](const Tag& t) { return t.def.address; };
  } else if (f == "DRIVER") {
    text_of = [](const Tag& t) { return t.def.driver; };
  } else if (f == "DESC") {
    text_of = [](const Tag& t) { return t.def.description; };
  } else if (f == "TYPE") {
    text_of = [](const Tag& t) { return std::string(TagTypeName(t.def.type)); };
  } else if (f == "MODE") {
    text_of = [](const Tag& t) { return std::string(TagModeName(t.def.mode)); };
  } else if (f == "EULO") {
    text_of = [](const Tag& t) { return FormatDouble(t.def.eu_lo); };
  } else if (f == "EUHI") {
    text_of = [](const Tag& t) { return FormatDouble(t.def.eu_hi); };
  } else if (f == "ALGORITHM") {
    text_of = [](const Tag& t) { return t.def.algorithm; };
  } else if (f == "PARAMS") {
    text_of = [](const Tag& t) { return t.def.params; };
  } else {
    return std::string();
  }
  try {
    const boost::regex re(pattern.begin(), pattern.end(), boost::regex::perl | boost::regex::icase);
    std::lock_guard<std::mutex> lock(mu_);
    std::string out;
    for (const Tag& tag : tags_) {
      if (!boost::regex_search(text_of(tag), re)) continue;
      if (!out.empty()) out += ',';
      out += tag.def.name;
    }
    return out;
  } catch (const std::exception&) {
    // A malformed pattern, or one too complex to match (Boost gives up
    // rather than run away).
    return std::string();
  }
}

}  // namespace zl::sim
