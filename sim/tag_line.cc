#include "tag_line.h"

#include "text.h"

namespace zl::sim {
namespace {

// Field numbers (1-based, as documented).
enum {
  kName = 1, kDriver, kAddress, kType, kDescription, kEuLo, kEuHi, kRawLo, kRawHi,
  kMode, kAlgorithm, kParams, kInitial
};

class LineParser {
 public:
  LineParser(std::string_view line, size_t base, int line_number)
      : fields_(Split(line, '\t')), base_(base), line_(line_number) {}

  size_t count() const { return fields_.size(); }

  // Field `n` (1-based) without surrounding blanks; "" beyond the end.
  std::string_view Text(int n) const {
    return n <= static_cast<int>(fields_.size()) ? Trim(fields_[n - 1].text) : std::string_view();
  }
  bool Present(int n) const { return !Text(n).empty(); }

  // Byte offset (in the whole text) of Text(n).
  size_t TextPosition(int n) const {
    if (n > static_cast<int>(fields_.size())) return Position(n);
    const std::string_view raw = fields_[n - 1].text;
    const size_t lead = raw.find_first_not_of(" \t\r\n");
    return Position(n) + (lead == std::string_view::npos ? 0 : lead);
  }

  size_t Position(int n) const {
    if (n <= static_cast<int>(fields_.size())) return base_ + fields_[n - 1].offset;
    return base_ + (fields_.empty() ? 0 : fields_.back().offset + fields_.back().text.size());
  }

  [[noreturn]] void Fail(DownloadErrorCode code, int field, const std::string& what) const {
    throw DownloadError(code, Position(field), line_,
                        "line " + std::to_string(line_) + ", field " + std::to_string(field) +
                            ": " + what);
  }

  double Number(int n, double fallback) const {
    if (!Present(n)) return fallback;
    double v = 0;
    if (!ParseDouble(Text(n), &v)) {
      Fail(DownloadErrorCode::kBadNumber, n, "'" + std::string(Text(n)) + "' is not a number");
    }
    return v;
  }

 private:
  std::vector<Field> fields_;
  size_t base_;
  int line_;
};

DefinitionLine ParseDriverDirective(const LineParser& p) {
  if (!EqualsIgnoreCase(p.Text(1), "$DRIVER")) {
    p.Fail(DownloadErrorCode::kBadDirective, 1,
           "unknown directive '" + std::string(p.Text(1)) + "'");
  }
  if (p.count() != 3) {
    p.Fail(DownloadErrorCode::kBadDirective, 1, "$DRIVER needs a driver name and an address");
  }
  if (!IsValidTagName(p.Text(2))) {
    p.Fail(DownloadErrorCode::kBadDriver, 2, "malformed driver name '" + std::string(p.Text(2)) + "'");
  }
  DefinitionLine out;
  out.kind = DefinitionLine::kDriver;
  out.driver = std::string(p.Text(2));
  out.remote_address = std::string(p.Text(3));
  return out;
}

}  // namespace

bool IsUsableTagName(std::string_view name) {
  return IsValidTagName(name) && !EqualsIgnoreCase(name, "AND") &&
         !EqualsIgnoreCase(name, "OR") && !EqualsIgnoreCase(name, "NOT");
}

DefinitionLine ParseDefinitionLine(std::string_view line, size_t base, int line_number) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  LineParser p(line, base, line_number);
  if (StartsWithIgnoreCase(Trim(line), "$")) return ParseDriverDirective(p);

  if (p.count() > kTagLineFields) {
    p.Fail(DownloadErrorCode::kTooManyFields, kTagLineFields + 1,
           "more than " + std::to_string(kTagLineFields) + " fields");
  }
  if (!IsUsableTagName(p.Text(kName))) {
    p.Fail(DownloadErrorCode::kBadName, kName,
           p.Present(kName) ? "malformed tag name '" + std::string(p.Text(kName)) + "'"
                            : "missing tag name");
  }
  if (p.count() < kType) {
    p.Fail(DownloadErrorCode::kMissingFields, static_cast<int>(p.count()) + 1,
           "a tag needs at least name, driver, address and type");
  }

  DefinitionLine out;
  TagDefinition& d = out.def;
  d.name = std::string(p.Text(kName));
  d.driver = std::string(p.Text(kDriver));
  if (!d.driver.empty() && !IsValidTagName(d.driver)) {
    p.Fail(DownloadErrorCode::kBadDriver, kDriver, "malformed driver name '" + d.driver + "'");
  }
  d.address = std::string(p.Text(kAddress));
  if (!ParseTagType(p.Text(kType), &d.type)) {
    p.Fail(DownloadErrorCode::kBadType, kType, "unknown tag type '" + std::string(p.Text(kType)) + "'");
  }
  d.description = std::string(p.Text(kDescription));

  const bool digital = IsDigital(d.type);
  d.eu_lo = p.Number(kEuLo, 0);
  d.eu_hi = p.Number(kEuHi, digital ? 1 : 100);
  if (digital && (d.eu_lo != 0 || d.eu_hi != 1)) {
    p.Fail(DownloadErrorCode::kBadRange, d.eu_lo != 0 ? kEuLo : kEuHi,
           "a digital tag has the EU range 0 to 1");
  }
  if (d.eu_lo == d.eu_hi) p.Fail(DownloadErrorCode::kBadRange, kEuHi, "the EU range is empty");
  d.raw_lo = p.Number(kRawLo, d.eu_lo);
  d.raw_hi = p.Number(kRawHi, d.eu_hi);

  d.mode = TagMode::kAuto;
  if (p.Present(kMode) && !ParseTagMode(p.Text(kMode), &d.mode)) {
    p.Fail(DownloadErrorCode::kBadMode, kMode,
           "mode '" + std::string(p.Text(kMode)) + "' is neither Auto nor Manual");
  }
  d.algorithm = p.Present(kAlgorithm) ? ToUpper(p.Text(kAlgorithm)) : "NONE";
  d.params = std::string(p.Text(kParams));
  d.initial = p.Number(kInitial, digital ? 0 : d.eu_lo);
  if (digital) d.initial = d.initial != 0 ? 1 : 0;

  try {
    out.algorithm = Algorithm::Create(d);
  } catch (const AlgorithmError& e) {
    if (e.unknown_algorithm()) p.Fail(DownloadErrorCode::kBadAlgorithm, kAlgorithm, e.what());
    throw DownloadError(DownloadErrorCode::kBadParams, p.TextPosition(kParams) + e.offset(),
                        line_number,
                        "line " + std::to_string(line_number) + ", field " +
                            std::to_string(kParams) + ": " + e.what());
  }
  return out;
}

std::vector<DefinitionLine> ParseDefinitions(std::string_view text) {
  std::vector<DefinitionLine> lines;
  size_t start = 0;
  int number = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++number;
    const std::string_view line = text.substr(start, end - start);
    const std::string_view trimmed = Trim(line);
    if (!trimmed.empty() && trimmed[0] != '#') {
      lines.push_back(ParseDefinitionLine(line, start, number));
    }
    start = end + 1;
  }
  return lines;
}

std::string FormatDefinitionLine(const TagDefinition& d) {
  std::string line;
  auto add = [&line](const std::string& field) {
    if (!line.empty()) line += '\t';
    line += field;
  };
  line = d.name;
  add(d.driver);
  add(d.address);
  add(TagTypeName(d.type));
  add(d.description);
  add(FormatDouble(d.eu_lo));
  add(FormatDouble(d.eu_hi));
  add(FormatDouble(d.raw_lo));
  add(FormatDouble(d.raw_hi));
  add(TagModeName(d.mode));
  add(d.algorithm);
  add(d.params);
  add(FormatDouble(d.initial));
  return line;
}

}  // namespace zl::sim
