// The tag database of one simulated plant: its tags in definition order,
// its drivers, and the simulation state the algorithms run in (elapsed
// simulation time, cycle count, calculations and I/O on or off, the
// database change count).
//
// Every operation is thread-safe: one lock (mu_) guards all state, and the
// observer is called with that lock held, so changes reach it in the order
// they happened. ORB threads call the operations on behalf of clients; the
// simulation loop thread calls RunCycle.
#ifndef ZL_SIM_TAG_DATABASE_H_
#define ZL_SIM_TAG_DATABASE_H_

#include <cstdint>
#include <mutex>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tag.h"

namespace zl::sim {

struct DefinitionLine;

// Ordinals equal those of ZEMR::ZLMessageType.
enum class MessageType { kAll, kError, kWarning, kInfo, kDebug };

// One change of one tag's value or mode.
struct TagChange {
  std::string name;
  double eu = 0;
  double pv = 0;
  TagMode mode = TagMode::kAuto;
  uint32_t secs = 0;   // wall-clock time of the change
  uint32_t usecs = 0;
};

// Receives what the database does. Both calls are made with the database
// lock held: they must not block and must not call the database.
class DatabaseObserver {
 public:
  virtual ~DatabaseObserver() = default;
  // One batch: the changes of one operation or one cycle (never empty).
  virtual void OnTagChanges(std::vector<TagChange>&& changes) = 0;
  virtual void OnMessage(MessageType type, const char* routine, const std::string& text) = 0;
};

// Raised by the per-tag operations for a name that matches no tag.
class TagNotFound : public std::exception {
 public:
  const char* what() const noexcept override { return "tag not found"; }
};

// The status of one tag as GetMultiTag gives it.
struct TagStatus {
  bool found = false;
  TagType type = TagType::kNullPoint;
  TagMode mode = TagMode::kNullMode;
  double eu = 0;
  double eu_lo = 0;
  double eu_hi = 0;
  std::string text;
};

// One entry of a batched write; `mode` kNullMode leaves the mode alone.
struct TagCommand {
  std::string name;
  TagMode mode = TagMode::kNullMode;
  double eu = 0;
};

// Result codes of a batched write, one per command.
enum class CommandResult { kOk = 0, kNotFound = 1, kBadValue = 2 };

class TagDatabase {
 public:
  // `observer` may be null; it must outlive the database.
  TagDatabase(std::string name, DatabaseObserver* observer);
  TagDatabase(const TagDatabase&) = delete;
  TagDatabase& operator=(const TagDatabase&) = delete;

  // The database's (kernel) name. Constant.
  const std::string& name() const { return name_; }

  // --- Definitions --------------------------------------------------------

  // Loads definition lines (and "$DRIVER" directives); a tag that exists is
  // redefined in place. All or nothing: throws DownloadError for a bad line
  // and changes nothing. Gives the number of tag lines loaded.
  int Download(std::string_view text);
  // Removes every tag and resets the simulation time and cycle count.
  // Drivers, switches and the change count (incremented) stay.
  void Clear(std::string_view options);
  std::string Upload(std::string_view name) const;  // throws TagNotFound
  bool Delete(std::string_view name);
  int Count() const;
  bool Exists(std::string_view name) const;
  // The name of the tag at 0-based `offset` in definition order; throws
  // TagNotFound when there is none.
  std::string NameAt(long long offset) const;

  // --- Reads --------------------------------------------------------------
  // Reads take a tag name, or a name with a field suffix (".PV", ".PVE",
  // ".PVRAW", ".MODE", ".FORCED", ".EULO", ".EUHI", ".RAWLO", ".RAWHI");
  // PVE of "T.PVRAW" is T's raw value. All throw TagNotFound.

  double Pve(std::string_view name) const;
  double Pv(std::string_view name) const;
  TagDefinition Definition(std::string_view name) const;
  TagType Type(std::string_view name) const;
  TagMode Mode(std::string_view name) const;
  bool Forced(std::string_view name) const;
  std::string ValueText(std::string_view name) const;
  TagStatus Status(std::string_view name) const;  // found == false for unknown

  // --- Writes -------------------------------------------------------------

  // Writes every tag of a comma-separated list; gives the number written.
  // Names that match no tag are reported as error messages from `routine`;
  // throws TagNotFound when no name matched. A value that is not finite is
  // refused (0 written, a warning message).
  int SetPve(std::string_view names, double value, const char* routine);
  int SetPv(std::string_view names, double value, const char* routine);
  void SetMode(std::string_view name, TagMode mode, const char* routine);  // throws TagNotFound
  // Back to the initial value; false for a forced tag. Throws TagNotFound.
  bool InitPv(std::string_view name);
  // Forcing needs Manual mode; gives whether the force flag now equals
  // `force`. Throws TagNotFound.
  bool SetForce(std::string_view name, bool force);
  void SetRawLo(std::string_view name, double value);  // throws TagNotFound
  void SetRawHi(std::string_view name, double value);  // throws TagNotFound
  // Writes a batch as one change batch; `results` gets one code per command.
  int SetMulti(const std::vector<TagCommand>& commands, std::vector<CommandResult>* results);

  // --- Expressions --------------------------------------------------------

  // Throws ExpressionError.
  double Evaluate(std::string_view expression) const;

  // --- Simulation ---------------------------------------------------------

  // One calculation cycle of `dt` simulation seconds: the algorithms run
  // when calculations are on or `force_algorithms` is set (the time then
  // advances by dt), then the I/O exchange when I/O is on. Changes go to
  // the observer as one batch.
  void RunCycle(double dt, bool force_algorithms);
  // Switch calculations or I/O; either reports the switch as an
  // information message from `routine`.
  void EnableAlgorithms(bool on, const char* routine);
  bool AlgorithmsEnabled() const;
  void EnableIo(bool on, const char* routine);
  bool IoEnabled() const;
  double SimTime() const;
  void SetSimTime(double seconds);
  uint64_t Cycles() const;
  // Definition changes since start: downloads, deletions, SimInit, raw
  // range changes, restored tags.
  uint64_t ChangeCount() const;
  void SetChangeCount(uint64_t count);

  // --- Drivers ------------------------------------------------------------

  // The remote address of a driver named by a "$DRIVER" line (or the
  // control endpoint); `known` tells whether any tag or directive names it.
  std::string DriverAddress(std::string_view driver, bool* known) const;
  void SetDriverAddress(std::string_view driver, std::string_view address);
  // "NAME(points, address)" per driver, comma-separated.
  std::string DriverSummary() const;

  // Publishes a message through the observer, in order with the changes.
  void Notify(MessageType type, const char* routine, const std::string& text) const;

  // --- Reports ------------------------------------------------------------

  // TagStats answers; see docs/zelvik-sim.md for the selectors.
  std::string Stats(std::string_view selector) const;
  // Names (comma-separated, definition order) of the tags whose `field`
  // matches the regular expression `pattern` (case-insensitive). Gives ""
  // for an unknown field or a bad pattern.
  std::string Search(std::string_view pattern, std::string_view field) const;

  // --- Tag files ----------------------------------------------------------

  // One payload per tag, in definition order: the definition line, a tab,
  // the current EU value, a tab, the force flag (0 or 1).
  std::vector<std::string> TagPayloads() const;
  // Restores (defines or redefines) one tag from such a payload, with its
  // value, mode and force flag. Throws DownloadError.
  void RestoreTag(std::string_view payload);

 private:
  class Values;

  // All with mu_ held.
  // Writes `value` (in EU, or in percent of range when `percent`) to every
  // tag of the comma-separated `names`; unknown names are reported. Throws
  // TagNotFound when none is known; gives the number written.
  int WriteEach(std::string_view names, double value, const char* routine, bool percent);
  Tag* Find(std::string_view name);
  const Tag* Find(std::string_view name) const;
  Tag& Get(std::string_view name);              // throws TagNotFound
  const Tag& Get(std::string_view name) const;  // throws TagNotFound
  bool Resolve(std::string_view name, double* value) const;
  void Define(DefinitionLine&& line, std::vector<TagChange>* changes);
  void Reindex();
  // Sets a tag's value (normalised) and records a change when value or
  // mode differ from `before`.
  void Write(Tag& tag, double eu, std::vector<TagChange>* changes);
  void Record(const Tag& tag, std::vector<TagChange>* changes) const;
  void Publish(std::vector<TagChange>* changes);
  void Message(MessageType type, const char* routine, const std::string& text) const;

  const std::string name_;
  DatabaseObserver* const observer_;

  mutable std::mutex mu_;
  // Guarded by mu_:
  std::vector<Tag> tags_;                          // definition order
  std::unordered_map<std::string, size_t> index_;  // upper-case name -> tags_ index
  std::map<std::string, std::string> drivers_;     // upper-case name -> address
  std::map<std::string, std::string> driver_names_;  // upper-case name -> name as given
  bool algorithms_enabled_ = true;
  bool io_enabled_ = true;
  double sim_time_ = 0;
  uint64_t cycles_ = 0;
  uint64_t change_count_ = 0;
};

}  // namespace zl::sim

#endif  // ZL_SIM_TAG_DATABASE_H_
