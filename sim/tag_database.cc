#include "tag_database.h"

#include <sys/time.h>

#include <cmath>

#include "algorithm.h"
#include "expression.h"
#include "tag_line.h"
#include "text.h"

namespace zl::sim {
namespace {

// The items of a comma-separated name list, blanks trimmed, empty items
// skipped.
std::vector<std::string_view> NameList(std::string_view names) {
  std::vector<std::string_view> out;
  for (const Field& f : Split(names, ',')) {
    const std::string_view name = Trim(f.text);
    if (!name.empty()) out.push_back(name);
  }
  return out;
}

std::string Quoted(std::string_view name) { return "Tag <" + std::string(name) + ">"; }

}  // namespace

// Expression values with mu_ already held by the caller.
class TagDatabase::Values : public ValueSource {
 public:
  explicit Values(const TagDatabase& db) : db_(db) {}
  bool Lookup(std::string_view name, double* value) const override {
    return db_.Resolve(name, value);
  }

 private:
  const TagDatabase& db_;
};

TagDatabase::TagDatabase(std::string name, DatabaseObserver* observer)
    : name_(std::move(name)), observer_(observer) {}

// --- Lookup (mu_ held) -------------------------------------------------------

Tag* TagDatabase::Find(std::string_view name) {
  auto it = index_.find(ToUpper(name));
  return it == index_.end() ? nullptr : &tags_[it->second];
}

const Tag* TagDatabase::Find(std::string_view name) const {
  auto it = index_.find(ToUpper(name));
  return it == index_.end() ? nullptr : &tags_[it->second];
}

Tag& TagDatabase::Get(std::string_view name) {
  Tag* tag = Find(Trim(name));
  if (tag == nullptr) throw TagNotFound();
  return *tag;
}

const Tag& TagDatabase::Get(std::string_view name) const {
  const Tag* tag = Find(Trim(name));
  if (tag == nullptr) throw TagNotFound();
  return *tag;
}

bool TagDatabase::Resolve(std::string_view name, double* value) const {
  name = Trim(name);
  if (EqualsIgnoreCase(name, "$SIMTIME")) {
    *value = sim_time_;
    return true;
  }
  if (EqualsIgnoreCase(name, "$CYCLES")) {
    *value = static_cast<double>(cycles_);
    return true;
  }
  if (const Tag* tag = Find(name)) {
    *value = tag->value;
    return true;
  }
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const Tag* tag = Find(name.substr(0, dot));
  if (tag == nullptr) return false;
  const std::string field = ToUpper(name.substr(dot + 1));
  const TagDefinition& d = tag->def;
  if (field == "PVE") *value = tag->value;
  else if (field == "PV") *value = tag->Pv();
  else if (field == "PVRAW") *value = d.driver.empty() ? tag->ScaledRaw() : tag->raw;
  else if (field == "MODE") *value = d.mode == TagMode::kAuto ? 1 : 0;
  else if (field == "FORCED") *value = tag->forced ? 1 : 0;
  else if (field == "EULO") *value = d.eu_lo;
  else if (field == "EUHI") *value = d.eu_hi;
  else if (field == "RAWLO") *value = d.raw_lo;
  else if (field == "RAWHI") *value = d.raw_hi;
  else return false;
  return true;
}

void TagDatabase::Reindex() {
  index_.clear();
  for (size_t i = 0; i < tags_.size(); ++i) index_[ToUpper(tags_[i].def.name)] = i;
}

// --- Change and message plumbing (mu_ held) ----------------------------------

void TagDatabase::Record(const Tag& tag, std::vector<TagChange>* changes) const {
  struct timeval now;
  gettimeofday(&now, nullptr);
  TagChange c;
  c.name = tag.def.name;
  c.eu = tag.value;
  c.pv = tag.Pv();
  c.mode = tag.def.mode;
  c.secs = static_cast<uint32_t>(now.tv_sec);
  c.usecs = static_cast<uint32_t>(now.tv_usec);
  changes->push_back(std::move(c));
}

void TagDatabase::Write(Tag& tag, double eu, std::vector<TagChange>* changes) {
  const double v = tag.Normalise(eu);
  const bool changed = v != tag.value;
  tag.value = v;
  if (io_enabled_) tag.raw = tag.ScaledRaw();
  if (changed) Record(tag, changes);
}

void TagDatabase::Publish(std::vector<TagChange>* changes) {
  if (observer_ != nullptr && !changes->empty()) observer_->OnTagChanges(std::move(*changes));
  changes->clear();
}

void TagDatabase::Message(MessageType type, const char* routine, const std::string& text) const {
  if (observer_ != nullptr) observer_->OnMessage(type, routine, text);
}

void TagDatabase::Notify(MessageType type, const char* routine, const std::string& text) const {
  std::lock_guard<std::mutex> lock(mu_);
  Message(type, routine, text);
}

// --- Definitions -------------------------------------------------------------

void TagDatabase::Define(DefinitionLine&& line, std::vector<TagChange>* changes) {
  if (line.kind == DefinitionLine::kDriver) {
    const std::string key = ToUpper(line.driver);
    drivers_[key] = line.remote_address;
    driver_names_[key] = line.driver;
    return;
  }
  if (!line.def.driver.empty()) {
    const std::string key = ToUpper(line.def.driver);
    if (driver_names_.count(key) == 0) driver_names_[key] = line.def.driver;
  }
  Tag fresh;
  fresh.def = std::move(line.def);
  fresh.algorithm = std::move(line.algorithm);
  fresh.value = fresh.def.initial;
  fresh.raw = fresh.ScaledRaw();
  if (Tag* existing = Find(fresh.def.name)) {
    *existing = std::move(fresh);
    Record(*existing, changes);
  } else {
    tags_.push_back(std::move(fresh));
    index_[ToUpper(tags_.back().def.name)] = tags_.size() - 1;
    Record(tags_.back(), changes);
  }
}

int TagDatabase::Download(std::string_view text) {
  std::vector<DefinitionLine> lines;
  try {
    lines = ParseDefinitions(text);
  } catch (const DownloadError& e) {
    Notify(MessageType::kError, "Download", std::string("Download refused: ") + e.what());
    throw;
  }
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<TagChange> changes;
  int count = 0;
  for (DefinitionLine& line : lines) {
    if (line.kind == DefinitionLine::kTag) ++count;
    Define(std::move(line), &changes);
  }
  ++change_count_;
  Message(MessageType::kInfo, "Download", "Downloaded " + std::to_string(count) + " tag(s)");
  Publish(&changes);
  return count;
}

void TagDatabase::Clear(std::string_view options) {
  std::lock_guard<std::mutex> lock(mu_);
  const size_t removed = tags_.size();
  tags_.clear();
  index_.clear();
  sim_time_ = 0;
  cycles_ = 0;
  ++change_count_;
  std::string text = "Database initialised, " + std::to_string(removed) + " tag(s) removed";
  if (!Trim(options).empty()) text += " (options: " + std::string(Trim(options)) + ")";
  Message(MessageType::kInfo, "SimInit", text);
}

std::string TagDatabase::Upload(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  return FormatDefinitionLine(Get(name).def);
}

bool TagDatabase::Delete(std::string_view name) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = index_.find(ToUpper(Trim(name)));
  if (it == index_.end()) return false;
  const std::string deleted = tags_[it->second].def.name;
  tags_.erase(tags_.begin() + static_cast<std::ptrdiff_t>(it->second));
  Reindex();
  ++change_count_;
  Message(MessageType::kInfo, "DeleteTag", Quoted(deleted) + " deleted");
  return true;
}

int TagDatabase::Count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(tags_.size());
}

bool TagDatabase::Exists(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  return Find(Trim(name)) != nullptr;
}

std::string TagDatabase::NameAt(long long offset) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (offset < 0 || static_cast<unsigned long long>(offset) >= tags_.size()) throw TagNotFound();
  return tags_[static_cast<size_t>(offset)].def.name;
}

// --- Reads ---------------------------------------------------------------------

double TagDatabase::Pve(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  double value = 0;
  if (!Resolve(name, &value)) throw TagNotFound();
  return value;
}

double TagDatabase::Pv(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (const Tag* tag = Find(Trim(name))) return tag->Pv();
  double value = 0;
  if (!Resolve(name, &value)) throw TagNotFound();
  return value;
}

TagDefinition TagDatabase::Definition(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  return Get(name).def;
}

TagType TagDatabase::Type(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  return Get(name).def.type;
}

TagMode TagDatabase::Mode(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  return Get(name).def.mode;
}

bool TagDatabase::Forced(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  return Get(name).forced;
}

std::string TagDatabase::ValueText(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  return Get(name).ValueText();
}

TagStatus TagDatabase::Status(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mu_);
  TagStatus status;
  const Tag* tag = Find(Trim(name));
  if (tag == nullptr) return status;
  status.found = true;
  status.type = tag->def.type;
  status.mode = tag->def.mode;
  status.eu = tag->value;
  status.eu_lo = tag->def.eu_lo;
  status.eu_hi = tag->def.eu_hi;
  status.text = tag->ValueText();
  return status;
}

// --- Writes --------------------------------------------------------------------

int TagDatabase::SetPve(std::string_view names, double value, const char* routine) {
  return WriteEach(names, value, routine, false);
}

int TagDatabase::SetPv(std::string_view names, double value, const char* routine) {
  return WriteEach(names, value, routine, true);
}

int TagDatabase::WriteEach(std::string_view names, double value, const char* routine,
                           bool percent) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Tag*> targets;
  for (std::string_view name : NameList(names)) {
    if (Tag* tag = Find(name)) {
      targets.push_back(tag);
    } else {
      Message(MessageType::kError, routine, "Write to unknown tag: " + Quoted(name) + " not found");
    }
  }
  if (targets.empty()) throw TagNotFound();
  if (!std::isfinite(value)) {
    Message(MessageType::kWarning, routine, "Value refused: not a finite number");
    return 0;
  }
  std::vector<TagChange> changes;
  for (Tag* tag : targets) Write(*tag, percent ? tag->EuFromPv(value) : value, &changes);
  Publish(&changes);
  return static_cast<int>(targets.size());
}

void TagDatabase::SetMode(std::string_view name, TagMode mode, const char* routine) {
  std::lock_guard<std::mutex> lock(mu_);
  Tag* tag = Find(Trim(name));
  if (tag == nullptr) {
    Message(MessageType::kError, routine, "Mode change of unknown tag: " + Quoted(name) + " not found");
    throw TagNotFound();
  }
  if (mode == TagMode::kAuto && tag->forced) {
    Message(MessageType::kWarning, routine, Quoted(tag->def.name) + " is forced; it stays in Manual");
    return;
  }
  if (tag->def.mode == mode) return;
  tag->def.mode = mode;
  std::vector<TagChange> changes;
  Record(*tag, &changes);
  Publish(&changes);
}

bool TagDatabase::InitPv(std::string_view name) {
  std::lock_guard<std::mutex> lock(mu_);
  Tag& tag = Get(name);
  if (tag.forced) return false;
  std::vector<TagChange> changes;
  Write(tag, tag.def.initial, &changes);
  Publish(&changes);
  return true;
}

bool TagDatabase::SetForce(std::string_view name, bool force) {
  std::lock_guard<std::mutex> lock(mu_);
  Tag& tag = Get(name);
  if (force && tag.def.mode != TagMode::kManual) {
    Message(MessageType::kWarning, "SetForce",
            Quoted(tag.def.name) + " must be in Manual mode to be forced");
    return tag.forced;
  }
  tag.forced = force;
  return true;
}

void TagDatabase::SetRawLo(std::string_view name, double value) {
  std::lock_guard<std::mutex> lock(mu_);
  Tag& tag = Get(name);
  tag.def.raw_lo = value;
  if (io_enabled_) tag.raw = tag.ScaledRaw();
  ++change_count_;
}

void TagDatabase::SetRawHi(std::string_view name, double value) {
  std::lock_guard<std::mutex> lock(mu_);
  Tag& tag = Get(name);
  tag.def.raw_hi = value;
  if (io_enabled_) tag.raw = tag.ScaledRaw();
  ++change_count_;
}

int TagDatabase::SetMulti(const std::vector<TagCommand>& commands,
                          std::vector<CommandResult>* results) {
  std::lock_guard<std::mutex> lock(mu_);
  results->clear();
  std::vector<TagChange> changes;
  int written = 0;
  for (const TagCommand& c : commands) {
    Tag* tag = Find(Trim(c.name));
    if (tag == nullptr) {
      // An empty name is padding some clients add; it is not worth a message.
      if (!Trim(c.name).empty()) {
        Message(MessageType::kError, "SetMultiPVE",
                "Write to unknown tag: " + Quoted(c.name) + " not found");
      }
      results->push_back(CommandResult::kNotFound);
      continue;
    }
    if (!std::isfinite(c.eu)) {
      results->push_back(CommandResult::kBadValue);
      continue;
    }
    const TagMode before = tag->def.mode;
    if (c.mode != TagMode::kNullMode && !(c.mode == TagMode::kAuto && tag->forced)) {
      tag->def.mode = c.mode;
    }
    const size_t recorded = changes.size();
    Write(*tag, c.eu, &changes);
    if (changes.size() == recorded && tag->def.mode != before) Record(*tag, &changes);
    results->push_back(CommandResult::kOk);
    ++written;
  }
  Publish(&changes);
  return written;
}

// --- Expressions ---------------------------------------------------------------

double TagDatabase::Evaluate(std::string_view expression) const {
  const Expression compiled = Expression::Compile(expression);
  std::lock_guard<std::mutex> lock(mu_);
  return compiled.Evaluate(Values(*this));
}

// --- Simulation ----------------------------------------------------------------

void TagDatabase::RunCycle(double dt, bool force_algorithms) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<TagChange> changes;
  if (algorithms_enabled_ || force_algorithms) {
    sim_time_ += dt;
    ++cycles_;
    const Values values(*this);
    const StepContext context{values, dt, sim_time_};
    for (Tag& tag : tags_) {
      if (!tag.algorithm || tag.def.mode != TagMode::kAuto || tag.forced) continue;
      try {
        const double next = tag.algorithm->Step(tag, context);
        if (!std::isfinite(next)) {
          throw ExpressionError(ExprErrorCode::kNotFinite, 0, "result is not a finite number");
        }
        if (tag.algorithm_failed) {
          tag.algorithm_failed = false;
          Message(MessageType::kInfo, "Calc", Quoted(tag.def.name) + " " + tag.def.algorithm + " works again");
        }
        Write(tag, next, &changes);
      } catch (const ExpressionError& e) {
        if (!tag.algorithm_failed) {
          tag.algorithm_failed = true;
          Message(MessageType::kWarning, "Calc",
                  Quoted(tag.def.name) + " " + tag.def.algorithm + ": " + e.what());
        }
      }
    }
  }
  if (io_enabled_) {
    for (Tag& tag : tags_) {
      if (!tag.def.driver.empty()) tag.raw = tag.ScaledRaw();
    }
  }
  Publish(&changes);
}

void TagDatabase::EnableAlgorithms(bool on, const char* routine) {
  std::lock_guard<std::mutex> lock(mu_);
  algorithms_enabled_ = on;
  Message(MessageType::kInfo, routine, on ? "Calculations started" : "Calculations stopped");
}

bool TagDatabase::AlgorithmsEnabled() const {
  std::lock_guard<std::mutex> lock(mu_);
  return algorithms_enabled_;
}

void TagDatabase::EnableIo(bool on, const char* routine) {
  std::lock_guard<std::mutex> lock(mu_);
  io_enabled_ = on;
  Message(MessageType::kInfo, routine, on ? "I/O started" : "I/O stopped");
}

bool TagDatabase::IoEnabled() const {
  std::lock_guard<std::mutex> lock(mu_);
  return io_enabled_;
}

double TagDatabase::SimTime() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sim_time_;
}

void TagDatabase::SetSimTime(double seconds) {
  std::lock_guard<std::mutex> lock(mu_);
  sim_time_ = seconds;
}

uint64_t TagDatabase::Cycles() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cycles_;
}

uint64_t TagDatabase::ChangeCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return change_count_;
}

void TagDatabase::SetChangeCount(uint64_t count) {
  std::lock_guard<std::mutex> lock(mu_);
  change_count_ = count;
}

// --- Drivers -------------------------------------------------------------------

std::string TagDatabase::DriverAddress(std::string_view driver, bool* known) const {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string key = ToUpper(Trim(driver));
  *known = driver_names_.count(key) != 0;
  auto it = drivers_.find(key);
  return it == drivers_.end() ? std::string() : it->second;
}

void TagDatabase::SetDriverAddress(std::string_view driver, std::string_view address) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string key = ToUpper(Trim(driver));
  drivers_[key] = std::string(Trim(address));
  if (driver_names_.count(key) == 0) driver_names_[key] = std::string(Trim(driver));
}

std::string TagDatabase::DriverSummary() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::string out;
  for (const auto& [key, name] : driver_names_) {
    int points = 0;
    for (const Tag& tag : tags_) points += EqualsIgnoreCase(tag.def.driver, name) ? 1 : 0;
    auto it = drivers_.find(key);
    if (!out.empty()) out += ',';
    out += name + "(" + std::to_string(points) + " points, " +
           (it == drivers_.end() || it->second.empty() ? "no address" : it->second) + ")";
  }
  return out;
}

// --- Reports -------------------------------------------------------------------

std::string TagDatabase::Stats(std::string_view selector) const {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string s = ToUpper(Trim(selector));
  auto names_where = [this](auto predicate) {
    std::string out;
    for (const Tag& tag : tags_) {
      if (!predicate(tag)) continue;
      if (!out.empty()) out += ',';
      out += tag.def.name;
    }
    return out;
  };
  if (s.empty() || s == "SUMMARY") {
    int analog = 0, digital = 0, calc = 0, manual = 0, forced = 0;
    for (const Tag& tag : tags_) {
      if (IsDigital(tag.def.type)) ++digital;
      else if (tag.def.type == TagType::kCalcBlock) ++calc;
      else ++analog;
      manual += tag.def.mode == TagMode::kManual ? 1 : 0;
      forced += tag.forced ? 1 : 0;
    }
    return "tags=" + std::to_string(tags_.size()) + " analog=" + std::to_string(analog) +
           " digital=" + std::to_string(digital) + " calc=" + std::to_string(calc) +
           " manual=" + std::to_string(manual) + " forced=" + std::to_string(forced) +
           " drivers=" + std::to_string(driver_names_.size());
  }
  if (s == "COUNT") return std::to_string(tags_.size());
  if (s == "CHANGES") return std::to_string(change_count_);
  if (s == "MANUAL") return names_where([](const Tag& t) { return t.def.mode == TagMode::kManual; });
  if (s == "FORCED") return names_where([](const Tag& t) { return t.forced; });
  if (s == "TYPES" || s == "MODES" || s == "ALGORITHMS") {
    std::map<std::string, int> counts;
    for (const Tag& tag : tags_) {
      if (s == "TYPES") ++counts[TagTypeName(tag.def.type)];
      else if (s == "MODES") ++counts[TagModeName(tag.def.mode)];
      else ++counts[tag.def.algorithm];
    }
    std::string out;
    for (const auto& [key, n] : counts) {
      if (!out.empty()) out += ',';
      out += key + "=" + std::to_string(n);
    }
    return out;
  }
  if (s == "DRIVERS") {
    std::string out;
    for (const auto& entry : driver_names_) {
      if (!out.empty()) out += ',';
      out += entry.second;
    }
    return out;
  }
  return "ERROR: unknown TagStats selector '" + std::string(Trim(selector)) + "'";
}

// --- Tag files -------------------------------------------------------------------

std::vector<std::string> TagDatabase::TagPayloads() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> out;
  out.reserve(tags_.size());
  for (const Tag& tag : tags_) {
    out.push_back(FormatDefinitionLine(tag.def) + "\t" + FormatDouble(tag.value) + "\t" +
                  (tag.forced ? "1" : "0"));
  }
  return out;
}

void TagDatabase::RestoreTag(std::string_view payload) {
  const std::vector<Field> fields = Split(payload, '\t');
  if (fields.size() != kTagLineFields + 2) {
    throw DownloadError(DownloadErrorCode::kMissingFields, 0, 1,
                        "a saved tag has " + std::to_string(kTagLineFields + 2) + " fields, not " +
                            std::to_string(fields.size()));
  }
  const Field& value_field = fields[kTagLineFields];
  const Field& forced_field = fields[kTagLineFields + 1];
  DefinitionLine line = ParseDefinitionLine(payload.substr(0, value_field.offset - 1), 0, 1);
  if (line.kind != DefinitionLine::kTag) {
    throw DownloadError(DownloadErrorCode::kBadDirective, 0, 1, "a saved tag cannot be a directive");
  }
  double value = 0;
  if (!ParseDouble(value_field.text, &value)) {
    throw DownloadError(DownloadErrorCode::kBadNumber, value_field.offset, 1,
                        "saved value '" + std::string(value_field.text) + "' is not a number");
  }
  const std::string_view forced = Trim(forced_field.text);
  if (forced != "0" && forced != "1") {
    throw DownloadError(DownloadErrorCode::kBadNumber, forced_field.offset, 1,
                        "saved force flag '" + std::string(forced) + "' is neither 0 nor 1");
  }
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<TagChange> changes;
  const std::string name = line.def.name;
  Define(std::move(line), &changes);
  changes.clear();
  Tag& tag = *Find(name);
  tag.value = tag.Normalise(value);
  tag.raw = tag.ScaledRaw();
  tag.forced = forced == "1" && tag.def.mode == TagMode::kManual;
  Record(tag, &changes);
  ++change_count_;
  Publish(&changes);
}

}  // namespace zl::sim
