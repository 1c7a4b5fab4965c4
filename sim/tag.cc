#include "tag.h"

#include <cctype>
#include <cstdio>

#include "algorithm.h"
#include "text.h"

namespace zl::sim {
namespace {

const char* const kTypeNames[kTagTypeCount] = {
    "NullPoint", "Analog", "AnalogIn", "AnalogOut", "Digital", "DigitalIn", "DigitalOut",
    "CalcBlock"};

}  // namespace

const char* TagTypeName(TagType type) {
  const int i = static_cast<int>(type);
  return i >= 0 && i < kTagTypeCount ? kTypeNames[i] : "NullPoint";
}

bool ParseTagType(std::string_view text, TagType* type) {
  for (int i = 0; i < kTagTypeCount; ++i) {
    if (EqualsIgnoreCase(text, kTypeNames[i])) {
      *type = static_cast<TagType>(i);
      return true;
    }
  }
  return false;
}

const char* TagModeName(TagMode mode) {
  switch (mode) {
    case TagMode::kManual: return "Manual";
    case TagMode::kAuto: return "Auto";
    default: return "NullMode";
  }
}

bool ParseTagMode(std::string_view text, TagMode* mode) {
  if (EqualsIgnoreCase(text, "Auto")) {
    *mode = TagMode::kAuto;
  } else if (EqualsIgnoreCase(text, "Manual")) {
    *mode = TagMode::kManual;
  } else {
    return false;
  }
  return true;
}

bool IsDigital(TagType type) {
  return type == TagType::kDigital || type == TagType::kDigitalIn || type == TagType::kDigitalOut;
}

bool IsIoType(TagType type) {
  return type == TagType::kAnalogIn || type == TagType::kAnalogOut ||
         type == TagType::kDigitalIn || type == TagType::kDigitalOut;
}

bool IsValidTagName(std::string_view name) {
  if (name.empty() || name.size() > kMaxTagNameLength) return false;
  const auto first = static_cast<unsigned char>(name[0]);
  if (!std::isalpha(first) && first != '_') return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && u != '_') return false;
  }
  return true;
}

Tag::Tag() = default;
Tag::~Tag() = default;
Tag::Tag(Tag&&) noexcept = default;
Tag& Tag::operator=(Tag&&) noexcept = default;

double Tag::Pv() const {
  if (IsDigital(def.type)) return value;
  const double span = def.eu_hi - def.eu_lo;
  return span == 0 ? 0 : (value - def.eu_lo) / span * 100.0;
}

double Tag::EuFromPv(double pv) const {
  if (IsDigital(def.type)) return Normalise(pv);
  return def.eu_lo + pv / 100.0 * (def.eu_hi - def.eu_lo);
}

double Tag::ScaledRaw() const {
  if (IsDigital(def.type)) return value != 0 ? def.raw_hi : def.raw_lo;
  const double span = def.eu_hi - def.eu_lo;
  if (span == 0) return def.raw_lo;
  return def.raw_lo + (value - def.eu_lo) / span * (def.raw_hi - def.raw_lo);
}

double Tag::Normalise(double v) const {
  if (IsDigital(def.type)) return v != 0 ? 1.0 : 0.0;
  return v;
}

std::string_view DescriptionUnits(std::string_view description) {
  const std::string_view d = Trim(description);
  if (d.empty() || d.back() != ']') return {};
  const size_t open = d.rfind('[');
  if (open == std::string_view::npos) return {};
  return Trim(d.substr(open + 1, d.size() - open - 2));
}

std::string Tag::ValueText() const {
  const std::string_view units = DescriptionUnits(def.description);
  if (IsDigital(def.type)) {
    std::string_view low = "OFF";
    std::string_view high = "ON";
    const size_t slash = units.find('/');
    if (slash != std::string_view::npos) {
      low = Trim(units.substr(0, slash));
      high = Trim(units.substr(slash + 1));
    }
    return std::string(value != 0 ? high : low);
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  std::string text = buffer;
  if (!units.empty()) {
    text += ' ';
    text += units;
  }
  return text;
}

}  // namespace zl::sim
