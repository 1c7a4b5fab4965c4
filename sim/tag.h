// One tag of a simulation database: its definition (what a definition line
// holds, see docs/zelvik-sim.md) and its run-time state (value, force flag,
// latched raw value, algorithm state).
//
// A Tag is a plain value owned by its TagDatabase, which guards every access
// with its own lock; the Tag itself has no lock.
#ifndef ZL_SIM_TAG_H_
#define ZL_SIM_TAG_H_

#include <memory>
#include <string>
#include <string_view>

namespace zl::sim {

class Algorithm;

// Ordinals equal those of ZEMR::ZLTagType.
enum class TagType {
  kNullPoint, kAnalog, kAnalogIn, kAnalogOut, kDigital, kDigitalIn, kDigitalOut, kCalcBlock
};
constexpr int kTagTypeCount = 8;

// Ordinals equal those of ZEMR::ZLModeType.
enum class TagMode { kManual, kAuto, kNullMode };

// "Analog", "DigitalIn", ...: the enumerator names of ZEMR::ZLTagType.
const char* TagTypeName(TagType type);
// Reads a type name without regard to case. False for anything else.
bool ParseTagType(std::string_view text, TagType* type);
const char* TagModeName(TagMode mode);  // "Manual", "Auto", "NullMode"
bool ParseTagMode(std::string_view text, TagMode* mode);  // "Auto" or "Manual"

bool IsDigital(TagType type);
// Whether a tag of this type exchanges its value with a driver.
bool IsIoType(TagType type);

// The longest tag name accepted.
constexpr size_t kMaxTagNameLength = 64;
// A tag name: 1 to 64 characters, a letter or "_" first, then letters,
// digits and "_". Names are matched without regard to case.
bool IsValidTagName(std::string_view name);

struct TagDefinition {
  std::string name;
  std::string driver;       // empty: not connected to a driver
  std::string address;      // the point address within the driver
  TagType type = TagType::kAnalog;
  std::string description;  // may end in "[units]" or "[LOW/HIGH]"
  double eu_lo = 0;
  double eu_hi = 100;
  double raw_lo = 0;
  double raw_hi = 100;
  TagMode mode = TagMode::kAuto;
  std::string algorithm = "NONE";  // upper case
  std::string params;
  double initial = 0;
};

struct Tag {
  Tag();
  ~Tag();
  Tag(Tag&&) noexcept;
  Tag& operator=(Tag&&) noexcept;

  TagDefinition def;
  std::unique_ptr<Algorithm> algorithm;  // built from def.algorithm/params
  double value = 0;        // engineering units; 0 or 1 for digital types
  double raw = 0;          // raw value latched by the last I/O exchange
  bool forced = false;
  bool algorithm_failed = false;  // a failure was reported; cleared on success

  // Percent of the EU range (the value itself for digital types).
  double Pv() const;
  // The EU value for a percent value.
  double EuFromPv(double pv) const;
  // The raw value the current EU value maps to.
  double ScaledRaw() const;
  // `v` made fit for this tag: 0 or 1 for digital types (non-zero is 1).
  double Normalise(double v) const;
  // The display text: "12.50 m3/h" for analog tags (units from the
  // description's trailing "[...]"), the state text for digital ones
  // ("[CLOSED/OPEN]" in the description, else "OFF"/"ON").
  std::string ValueText() const;
};

// The "[...]" at the end of a description, without the brackets; "" if none.
std::string_view DescriptionUnits(std::string_view description);

}  // namespace zl::sim

#endif  // ZL_SIM_TAG_H_
