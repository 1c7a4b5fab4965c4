#include "scenario/scenario_check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <tuple>
#include <unordered_set>

#include "common/file_checksum.h"
#include "common/path_case.h"
#include "common/text_utils.h"
#include "logset/log_set_command.h"
#include "scenario/expression_names.h"
#include "scenario/flow_statements.h"
#include "scenario/keyword_table.h"
#include "scenario/label_table.h"
#include "scenario/levels.h"
#include "scenario/operand.h"
#include "scenario/operand_reader.h"
#include "scenario/outside_text.h"
#include "scenario/scenario_line.h"
#include "scenario/statement_errors.h"
#include "scenario/statement_line.h"

namespace zl {
namespace {

// Past this many statement lines the check stops following subtests: a tree
// of calls can grow faster than any scenario suite needs.
constexpr std::size_t kMaxWalkedLines = 1000000;

// The fields a tag name may carry in an expression ("FIC101.PVRAW").
constexpr const char* kTagFields[] = {"PV",   "PVE",  "PVRAW", "MODE", "FORCED",
                                      "EULO", "EUHI", "RAWLO", "RAWHI"};

// One piece of a file as the statement loop reads it (fgets into its line
// buffer): a line, or a part of a line longer than the buffer.
struct Piece {
  std::string text;  // up to its first NUL byte, line end included
  unsigned line;     // the file's line it belongs to, from 1
  unsigned column;   // the offset of its first byte in that line
  bool label;        // it defines a label
};

struct SourceFile {
  bool readable = false;
  std::vector<Piece> pieces;
  std::unordered_set<std::string> labels;  // as LabelTable keys them
  std::string computed;                    // FileChecksum from its start
};

// `text` as a file to read: fgets and FileChecksum see it as the run sees a
// file.
std::FILE* OpenText(const std::string& text) {
  if (text.empty()) return std::tmpfile();
  std::FILE* f = std::tmpfile();
  if (f != nullptr && (std::fwrite(text.data(), 1, text.size(), f) != text.size() ||
                       std::fseek(f, 0, SEEK_SET) != 0)) {
    std::fclose(f);
    return nullptr;
  }
  return f;
}

// Reads `f` as the statement loop and LabelTable::Scan read it.
void ReadPieces(std::FILE* f, SourceFile* out) {
  out->computed = FileChecksum(f, 0);
  char buf[kLineSize];
  unsigned line = 1, column = 0;
  for (;;) {
    const long before = std::ftell(f);
    if (std::fgets(buf, sizeof buf, f) == nullptr) break;
    const long after = std::ftell(f);
    const std::size_t size = after > before ? static_cast<std::size_t>(after - before) : 0;
    Piece piece{buf, line, column, false};
    std::string label;
    if (LabelOfLine(buf, &label)) {
      piece.label = true;
      out->labels.insert(label);
    }
    out->pieces.push_back(std::move(piece));
    if (size > 0 && buf[size - 1] == '\n') {
      ++line;
      column = 0;
    } else {
      column += static_cast<unsigned>(size);
    }
  }
}

// `path` made absolute, without "." and "..", links followed where they
// exist: one name per file, for finding cycles.
std::string Canonical(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p =
      std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  return ec ? path : p.generic_string();
}

// An operand site that evaluates nothing and reports nothing: for reading
// a GOTO's operands while finding where the run can go.
class QuietSite : public OperandSite {
 public:
  std::optional<double> Evaluate(const char*, std::size_t) override { return std::nullopt; }
  void Error(OperandError, const OperandSpec&, const std::string&, const char*) override {}
};

// A run ends at this statement (the server would refuse an expression):
// thrown by the check's operand site, caught at the statement.
struct RunEnds {};

class Checker;

// Where the statement being checked stands: its file, its piece, the
// prepared line and where each of its characters comes from.
struct StatementPlace {
  const std::string* file;  // as Diagnostic::file
  const Piece* piece;
  const char* line;  // the prepared line
  const std::vector<unsigned>* origins;
  // Per character of the prepared line: it comes from an argument whose
  // text is not known.
  const std::vector<bool>* unknown;
  const char* keyword;  // where the line's first word begins in it

  // The 1-based column of the character at `p` in the prepared line.
  unsigned ColumnOf(const char* p) const {
    if (p == nullptr || p < line || origins->empty()) return piece->column + 1;
    const std::size_t i = std::min(static_cast<std::size_t>(p - line), origins->size() - 1);
    return piece->column + (*origins)[i] + 1;
  }
  // True when the text at `p` (a word of the prepared line, up to its end)
  // holds a character of an argument that is not known: it is not read.
  bool Opaque(const char* p) const {
    if (p == nullptr || p < line) return false;
    for (std::size_t i = static_cast<std::size_t>(p - line); i < unknown->size() && line[i] != '\0';
         ++i) {
      if ((*unknown)[i]) return true;
    }
    return false;
  }
};

class Checker {
 public:
  Checker(const std::string& path, const CheckOptions& options, std::vector<CheckedLine>* walked)
      : path_(path), options_(options), walked_(walked) {
    // The run's directory of subtests (CZLScenario::OpenScenario).
    namespace fs = std::filesystem;
    std::string slashed(path);
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    std::error_code ec;
    const fs::path p(slashed);
    const fs::path absolute = p.is_absolute() ? p : fs::current_path(ec) / p;
    scenario_dir_ = absolute.parent_path().generic_string();
    Depth& top = depths_[0];
    if (options.arguments) {
      const std::vector<std::string>& given = *options.arguments;
      top.given = static_cast<int>(std::min<std::size_t>(given.size(), 8));
      for (int i = 0; i < top.given; ++i) top.args[i] = given[i];
    } else {
      // Each argument stands for itself ("$1") and is not read.
      top.given = -1;
      for (int i = 0; i < 8; ++i) top.args[i] = "$" + std::to_string(i + 1);
      top.unknown.fill(true);
    }
  }

  std::vector<Diagnostic> Run() {
    const SourceFile& top = Load(path_);
    if (!top.readable) {
      Add(path_, 1, 1, Severity::kError, check_code::kUnreadable, "Could not open " + path_);
      return std::move(out_);
    }
    chain_.push_back(Canonical(path_));
    // The path is the host's text: the run's test log names it escaped.
    Walk(0, path_, EscapeOutsideText(path_), path_);
    return std::move(out_);
  }

  // Reports a finding once.
  void Add(const std::string& file, unsigned line, unsigned column, Severity severity,
           const char* code, std::string message) {
    if (!seen_.emplace(file, line, column, code, message).second) return;
    out_.push_back(Diagnostic{file, line, column, severity, code, std::move(message)});
  }
  void Add(const StatementPlace& at, const char* p, Severity severity, const char* code,
           std::string message) {
    Add(*at.file, at.piece->line, at.ColumnOf(p), severity, code, std::move(message));
  }

  // The tags of the tag list `list` (as cut; it begins at `at_line` of the
  // prepared line) that the tag set lacks, each reported. The items are
  // ExtractItem's: leading blanks skipped, trailing blanks and line ends
  // cut, up to the first empty one.
  void UnknownTagsInList(const StatementPlace& at, const char* list, const char* at_line) {
    for (const char* field = list;;) {
      const char* end = std::strchr(field, ',');
      const char* next = end != nullptr ? end + 1 : nullptr;
      if (end == nullptr) end = field + std::strlen(field);
      const char* begin = field;
      while (*begin == ' ') ++begin;
      const char* stop = end;
      while (stop > begin && (stop[-1] == ' ' || stop[-1] == '\r' || stop[-1] == '\n')) --stop;
      if (stop == begin) break;
      const std::string tag(begin, stop);
      if (!KnownTag(tag)) {
        Add(at, at_line + (begin - list), Severity::kError, check_code::kUnknownTag,
            "Tag <" + tag + "> not found");
      }
      if (next == nullptr) break;
      field = next;
    }
  }

  // The tags of `text` (`size` characters at `p` of the prepared line) that
  // the tag set lacks, each reported; true when there was one.
  bool UnknownTagsIn(const StatementPlace& at, const char* p, std::size_t size) {
    if (!options_.tags) return false;
    bool unknown = false;
    for (const NameAt& name : TagNamesIn(std::string_view(p, size))) {
      const std::string tag(p + name.offset, name.size);
      if (!KnownTag(tag)) {
        Add(at, p + name.offset, Severity::kError, check_code::kUnknownTag,
            "Tag <" + tag + "> not found: the server refuses the expression and the run ends here");
        unknown = true;
      }
    }
    return unknown;
  }

 private:
  // The state of a nest level that outlives its file (Level): the arguments
  // of the last call at this depth. `given` is how many were given, -1 when
  // they are not known.
  struct Depth {
    std::array<std::string, 8> args;
    std::array<bool, 8> unknown{};  // its text is not known
    int given = 0;
  };

  const SourceFile& Load(const std::string& path) {
    auto it = files_.find(path);
    if (it != files_.end()) return it->second;
    SourceFile& file = files_[path];
    std::FILE* f = nullptr;
    if (options_.read_file) {
      std::string text;
      if (options_.read_file(path, &text)) f = OpenText(text);
    } else {
      f = std::fopen(path.c_str(), "r");
    }
    if (f != nullptr) {
      file.readable = true;
      ReadPieces(f, &file);
      std::fclose(f);
    }
    return file;
  }

  // Whether the server knows `name`: a tag of the set, or one with a field
  // suffix; blanks and line ends around it do not count (the server trims
  // them: the CR of a CR LF line end stays in a line's last word).
  bool KnownTag(const std::string& name) const {
    const std::size_t first = name.find_first_not_of(" \t\r\n");
    const std::string tag =
        first == std::string::npos
            ? std::string()
            : name.substr(first, name.find_last_not_of(" \t\r\n") - first + 1);
    if (options_.tags->Contains(tag)) return true;
    const std::string::size_type dot = tag.rfind('.');
    if (dot == std::string::npos || !options_.tags->Contains(tag.substr(0, dot))) return false;
    const std::string field = tag.substr(dot + 1);
    return std::any_of(std::begin(kTagFields), std::end(kTagFields),
                       [&](const char* f) { return field == f; });
  }

  // Walks the file `resolved` at nest level `level`: `log_name` is how the
  // test log names it, `shown` how the run's places do.
  void Walk(int level, const std::string& resolved, const std::string& log_name,
            const std::string& shown) {
    const SourceFile& source = Load(resolved);
    const Depth& depth = depths_[level];
    bool loops = false;
    const std::vector<bool> reachable = Reachable(source, depth, &loops);
    std::string stored;  // the "#$CHECK:" text read last
    const Piece* stored_piece = nullptr;
    std::vector<const Piece*> stale;
    // A loop runs its lines again with what its first round left (SAFETY,
    // the arguments of the subtests it calls): a second pass sees that.
    for (std::size_t step = 0; step < source.pieces.size() * (loops ? 2 : 1); ++step) {
      const std::size_t k = step % source.pieces.size();
      const Piece& piece = source.pieces[k];
      if (!reachable[k]) {
        const std::size_t first = piece.text.find_first_not_of(" \t\r\n");
        if (first != std::string::npos && piece.text[0] != '#' && !piece.label) {
          Add(shown, piece.line, piece.column + static_cast<unsigned>(first) + 1,
              Severity::kWarning, check_code::kUnreachable,
              "This line can never run: no line before it leads here, and no GOTO");
        }
        continue;
      }
      char line[kLineSize];
      strncpyz(line, piece.text.c_str(), sizeof line);
      Tokenizer tokens;
      char keyword[80] = {};
      std::string checksum;
      std::vector<unsigned> origins;
      const LineKind kind = PrepareLine(line, depth.args, tokens, keyword, &checksum, &origins);
      const std::vector<bool> unknown = UnknownCharacters(piece.text, origins, depth);
      if (kind == LineKind::kChecksum) {
        stored = checksum;
        stored_piece = &piece;
        if (checksum != source.computed) stale.push_back(&piece);
        continue;
      }
      if (kind != LineKind::kSubtest && kind != LineKind::kStatement) continue;
      // The tokenizer took the first word after the line's leading blanks.
      const StatementPlace at{&shown, &piece, line, &origins, &unknown,
                              line + std::strspn(line, kBlanks)};
      MissingArguments(at, depth);
      if (walked_ != nullptr) {
        walked_->push_back(
            CheckedLine{shown, static_cast<unsigned>(k + 1), piece.line, keyword, false});
      }
      ++walked_lines_;
      if (kind == LineKind::kSubtest) {
        Subtest(level, at, keyword, tokens);
      } else {
        Statement(at, keyword, tokens, source);
      }
    }
    // The close of the level (CZLScenario::CloseLevels): SAFETY's checksum
    // validation, then what the check adds.
    const Piece* reported = nullptr;
    if (safety_valid_) {
      if (stored.empty()) {
        Add(shown, 1, 1, Severity::kError, check_code::kNoChecksum,
            NoStoredChecksumText(log_name.c_str()));
      } else if (stored != source.computed) {
        reported = stored_piece;
        Add(shown, stored_piece->line, stored_piece->column + 1, Severity::kError,
            check_code::kBadChecksum, InvalidChecksumText(stored.c_str(), log_name.c_str()));
      }
    }
    for (const Piece* piece : stale) {
      if (piece == reported) continue;
      Add(shown, piece->line, piece->column + 1, Severity::kWarning, check_code::kStaleChecksum,
          "The stored checksum does not match the file any more: its checksum is " +
              source.computed);
    }
  }

  // Which pieces of `source` a run can read with the arguments of `depth`:
  // from the first, each piece leads to the next, but a GOTO to a label of
  // the file leads to the piece after the label's line (its last line, as
  // LabelTable keeps it), and to the next piece only with a condition. A
  // GOTO whose label holds an argument not known may lead to every label.
  // `*loops` tells whether a reachable GOTO may jump back.
  std::vector<bool> Reachable(const SourceFile& source, const Depth& depth, bool* loops) {
    const std::size_t n = source.pieces.size();
    std::map<std::string, std::size_t> target;
    for (std::size_t k = 0; k < n; ++k) {
      std::string label;
      if (source.pieces[k].label && LabelOfLine(source.pieces[k].text.c_str(), &label)) {
        target[label] = k + 1;
      }
    }
    std::vector<std::vector<std::size_t>> jumps(n);  // where a GOTO at k leads
    std::vector<bool> falls(n, true);                // k leads to k + 1
    for (std::size_t k = 0; k < n; ++k) {
      const std::string& raw = source.pieces[k].text;
      const std::size_t first = raw.find_first_not_of(" \t");
      if (target.empty() || first == std::string::npos || raw[0] == '#') continue;
      char line[kLineSize];
      strncpyz(line, raw.c_str(), sizeof line);
      Tokenizer tokens;
      char keyword[80] = {};
      std::string checksum;
      std::vector<unsigned> origins;
      if (PrepareLine(line, depth.args, tokens, keyword, &checksum, &origins) !=
          LineKind::kStatement) {
        continue;
      }
      const KeywordRow* row = FindKeyword(keyword);
      if (row == nullptr || row->shape.count == 0 ||
          row->shape.operands[0].meaning != OperandMeaning::kLabel) {
        continue;
      }
      StatementLine statement(&tokens, keyword);
      QuietSite quiet;
      Operands ops;
      if (!ReadOperands(row->shape, statement, quiet, &ops)) continue;
      const std::vector<bool> unknown = UnknownCharacters(raw, origins, depth);
      const StatementPlace at{nullptr, &source.pieces[k], line, &origins, &unknown, line};
      if (at.Opaque(ops.at[0])) {
        for (const auto& entry : target) jumps[k].push_back(entry.second);
        continue;
      }
      const auto it = target.find(ToUpperCopy(ops.text[0]));
      if (it == target.end()) continue;  // no jump: the run goes on
      jumps[k].push_back(it->second);
      falls[k] = ops.has(1);
    }
    std::vector<bool> reached(n, false);
    std::vector<std::size_t> todo = {0};
    while (!todo.empty()) {
      const std::size_t k = todo.back();
      todo.pop_back();
      if (k >= n || reached[k]) continue;
      reached[k] = true;
      if (falls[k]) todo.push_back(k + 1);
      for (std::size_t t : jumps[k]) {
        todo.push_back(t);
        if (t <= k) *loops = true;
      }
    }
    return reached;
  }

  // The offsets in `raw` (a piece as read) of each "$n" that
  // SubstituteArguments replaces, with its argument's number (1..8).
  static std::vector<std::pair<std::size_t, int>> References(const std::string& raw) {
    std::vector<std::pair<std::size_t, int>> refs;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\') {
        if (i + 1 < raw.size()) ++i;
      } else if (raw[i] == '$' && i + 1 < raw.size()) {
        if (raw[i + 1] >= '1' && raw[i + 1] <= '8') refs.emplace_back(i, raw[i + 1] - '0');
        ++i;
      }
    }
    return refs;
  }

  // Per character of a prepared line (`origins` its offsets in `raw`):
  // whether it comes from an argument of `depth` that is not known.
  static std::vector<bool> UnknownCharacters(const std::string& raw,
                                             const std::vector<unsigned>& origins,
                                             const Depth& depth) {
    std::vector<bool> unknown(origins.size(), false);
    std::set<unsigned> from_unknown;
    for (const auto& [at, n] : References(raw)) {
      if (depth.unknown[n - 1]) from_unknown.insert(static_cast<unsigned>(at));
    }
    if (from_unknown.empty()) return unknown;
    for (std::size_t i = 0; i < origins.size(); ++i) {
      // An argument's characters all come from its "$"; a "$" copied as it
      // is (no reference) is in no reference's place.
      unknown[i] = from_unknown.count(origins[i]) != 0;
    }
    return unknown;
  }

  // Reports each "$n" of the statement line beyond the arguments given
  // (SubstituteArguments puts nothing in its place).
  void MissingArguments(const StatementPlace& at, const Depth& depth) {
    if (depth.given < 0) return;
    for (const auto& [i, n] : References(at.piece->text)) {
      if (n <= depth.given) continue;
      Add(*at.file, at.piece->line, at.piece->column + static_cast<unsigned>(i) + 1,
          Severity::kError, check_code::kMissingArgument,
          "Argument $" + std::to_string(n) + " is not given: " + std::to_string(depth.given) +
              (depth.given == 1 ? " argument is" : " arguments are") +
              ", and the line gets nothing in its place");
    }
  }

  // An "@" line (CZLScenario::OpenSubtest).
  void Subtest(int level, const StatementPlace& at, const char* keyword, Tokenizer& tokens) {
    const char* name = keyword + 1;
    const char* options = tokens.Next(kLineEnd);
    if (at.Opaque(at.keyword)) return;
    if (level >= kMaxNestLevel) {
      Add(at, at.keyword, Severity::kError, check_code::kNestTooDeep, NestTooDeepText(name));
      return;
    }
    const std::string path = ResolvePathCase(scenario_dir_ + "/" + name);
    if (!Load(path).readable) {
      Add(at, at.keyword, Severity::kError, check_code::kMissingSubtest,
          SubtestNotStartedText(name));
      return;
    }
    const std::string canonical = Canonical(path);
    if (std::find(chain_.begin(), chain_.end(), canonical) != chain_.end()) {
      Add(at, at.keyword, Severity::kError, check_code::kSubtestCycle,
          std::string("Subtest '") + name +
              "' calls itself through its own calls: a run opens it again and again until "
              "the nest level is too deep");
      return;
    }
    if (walked_lines_ > kMaxWalkedLines) {
      Add(at, at.keyword, Severity::kWarning, check_code::kIncomplete,
          std::string("Subtest '") + name + "' not checked: the check has read " +
              std::to_string(kMaxWalkedLines) + " lines of subtests");
      return;
    }
    // The file found, named from the directory the run named the scenario in.
    const std::string found = path.compare(0, scenario_dir_.size() + 1, scenario_dir_ + "/") == 0
                                  ? path.substr(scenario_dir_.size() + 1)
                                  : std::string(name);
    const std::string shown = (std::filesystem::path(path_).parent_path() / found).generic_string();
    if (options != nullptr) SetArguments(at, options, &depths_[level + 1]);
    chain_.push_back(canonical);
    Walk(level + 1, path, name, shown);
    chain_.pop_back();
  }

  // The arguments of a subtest call from its options text `options` (in the
  // prepared line of `at`), as SplitArguments gives them; each one holding
  // a character of an argument not known is not known either.
  static void SetArguments(const StatementPlace& at, const char* options, Depth* depth) {
    depth->given = SplitArguments(options, false, &depth->args);
    depth->unknown.fill(false);
    // The words again, where they are: blanks and tabs apart, within the 255
    // characters SplitArguments reads.
    const std::size_t size = std::min<std::size_t>(std::strlen(options), 255);
    int n = 0;
    for (std::size_t i = 0; i < size && n < depth->given;) {
      if (options[i] == ' ' || options[i] == '\t') {
        ++i;
        continue;
      }
      const std::size_t end = std::min(std::strcspn(options + i, " \t") + i, size);
      for (std::size_t j = i; j < end; ++j) {
        const std::size_t k = static_cast<std::size_t>(options + j - at.line);
        if (k < at.unknown->size() && (*at.unknown)[k]) depth->unknown[n] = true;
      }
      ++n;
      i = end;
    }
  }

  // A statement line.
  void Statement(const StatementPlace& at, const char* keyword, Tokenizer& tokens,
                 const SourceFile& source);

  // The warnings of a statement that runs but does not do what its line
  // seems to say (the traps, below), from what the reader read of it
  // by `row`'s shape: `complete` when it read all the statement needs,
  // `reported` when it reported an error.
  void Traps(const StatementPlace& at, const KeywordRow& row, const char* keyword,
             const Operands& ops, bool complete, bool reported);
  // Those of the tag list, operand `i`; true when a warning named the text
  // the statement ignores after its last operand.
  bool TagListTraps(const StatementPlace& at, const OperandShape& shape, std::size_t i,
                    const Operands& ops, const std::string& ignored);
  // Those of the number operand `i`, read.
  void NumberTraps(const StatementPlace& at, const OperandShape& shape, std::size_t i,
                   const Operands& ops);

  const std::string path_;
  const CheckOptions& options_;
  std::vector<CheckedLine>* const walked_;
  std::string scenario_dir_;
  std::map<std::string, SourceFile> files_;  // by the path opened
  std::array<Depth, kNestLevels> depths_;
  std::vector<std::string> chain_;  // the files being walked, outermost first
  bool safety_valid_ = false;       // SAFETY turned the checksum validation on
  std::size_t walked_lines_ = 0;
  std::vector<Diagnostic> out_;
  std::set<std::tuple<std::string, unsigned, unsigned, std::string, std::string>> seen_;
};

// The check's operand site: nothing is evaluated; errors become diagnostics;
// a group or expression naming a tag the tag set lacks ends the run there.
class CheckSite : public OperandSite {
 public:
  CheckSite(Checker& checker, const StatementPlace& at) : checker_(checker), at_(at) {}

  std::optional<double> Evaluate(const char* text, std::size_t size) override {
    if (checker_.UnknownTagsIn(at_, text, size)) throw RunEnds{};
    return std::nullopt;
  }
  bool Opaque(const char* token) const override { return at_.Opaque(token); }
  void Error(OperandError kind, const OperandSpec&, const std::string& text,
             const char* token) override {
    const char* code = kind == OperandError::kMissing  ? check_code::kMissingOperand
                       : kind == OperandError::kUnread ? check_code::kBadNumber
                                                       : check_code::kWindowOrder;
    checker_.Add(at_, token != nullptr ? token : at_.keyword, Severity::kError, code, text);
    reported_ = true;
  }
  // True once the reader reported an error.
  bool reported() const { return reported_; }

 private:
  Checker& checker_;
  const StatementPlace& at_;
  bool reported_ = false;
};

void Checker::Statement(const StatementPlace& at, const char* keyword, Tokenizer& tokens,
                        const SourceFile& source) {
  if (at.Opaque(at.keyword)) return;
  const KeywordRow* row = FindKeyword(keyword);
  if (row == nullptr) {
    Add(at, at.keyword, Severity::kError, check_code::kUnknownKeyword, UnknownKeywordText(keyword));
    return;
  }
  StatementLine line(&tokens, keyword);
  line.set_row(row);
  CheckSite site(*this, at);
  Operands ops;
  try {
    const bool complete = ReadOperands(row->shape, line, site, &ops);
    Traps(at, *row, line.keyword(), ops, complete, site.reported());
    if (!complete) return;
    // Conditions first: the server evaluates a GOTO's before it jumps, and
    // DELAY's and SIMWAIT's after the statement, when nothing else is left.
    for (std::size_t i = 0; i < row->shape.count; ++i) {
      const char* text = ops.text[i];
      if (row->shape.operands[i].meaning != OperandMeaning::kCondition || text == nullptr) {
        continue;
      }
      if (walked_ != nullptr) walked_->back().conditional = true;
      if (at.Opaque(ops.at[i])) continue;
      int depth = 0;
      for (const char* p = text; *p != '\0' && depth >= 0; ++p) {
        if (*p == '(') ++depth;
        if (*p == ')') --depth;
      }
      if (depth != 0) {
        Add(at, ops.at[i], Severity::kError, check_code::kBadExpression,
            std::string("Parentheses do not pair in the condition '") + text +
                "': the server refuses it and the run ends here");
        return;
      }
      if (UnknownTagsIn(at, text, std::strlen(text))) return;
    }
    // SAFETY: the run's checksum validation from here on (without a word,
    // every check).
    for (std::size_t i = 0; i < row->shape.count; ++i) {
      if (row->shape.operands[i].meaning != OperandMeaning::kSafetyWord) continue;
      ScenarioOptions safety;
      for (const char* word : ops.words) ApplySafetyWord(word, safety);
      if (ops.words.empty() || safety.safety_valid) safety_valid_ = true;
    }
    // What the other operands mean.
    for (std::size_t i = 0; i < row->shape.count; ++i) {
      const OperandSpec& spec = row->shape.operands[i];
      const char* text = ops.text[i];
      if (text == nullptr || at.Opaque(ops.at[i])) continue;
      switch (spec.meaning) {
        case OperandMeaning::kTag:
          if (options_.tags && !KnownTag(text)) {
            Add(at, ops.at[i], Severity::kError, check_code::kUnknownTag,
                std::string("Tag <") + text + "> not found");
          }
          break;
        case OperandMeaning::kTagList:
          if (options_.tags) UnknownTagsInList(at, text, ops.at[i]);
          break;
        case OperandMeaning::kText: ExpandGroups(text, site); break;
        case OperandMeaning::kLabel:
          if (source.labels.count(ToUpperCopy(text)) == 0) {
            Add(at, ops.at[i], Severity::kError, check_code::kMissingLabel,
                LabelNotFoundText(text));
          }
          break;
        case OperandMeaning::kLogSetCommand: {
          const std::string problem = LogSetCommandProblem(text);
          if (!problem.empty()) {
            Add(at, ops.at[i], Severity::kError, check_code::kLogSetCommand, problem);
          }
          break;
        }
        default: break;
      }
    }
  } catch (const RunEnds&) {
    // The run ends at this statement; the check reads on.
  }
}

// --- The traps ------------------------------------------------------------------
// Lines that run but do not do what they seem to say. The engine's reading
// stays as it is (scenario libraries may rely on it); each rule follows from
// a property of the operand shapes, never from one keyword, and each warning
// says what the run does instead. What comes from an argument not known is
// not judged.

// `text` without the blanks, tabs and line ends around it.
std::string Trimmed(const char* text) {
  if (text == nullptr) return std::string();
  const char* begin = text + std::strspn(text, " \t");
  const char* end = begin + std::strlen(begin);
  while (end > begin && std::strchr(" \t\r\n", end[-1]) != nullptr) --end;
  return std::string(begin, end);
}

bool IsNumber(const std::string& word) {
  double value;
  return ParseOperand(word.c_str(), OperandForm::kPlainNumber, &value);
}

bool HasCondition(const OperandShape& shape) {
  return std::any_of(shape.begin(), shape.end(), [](const OperandSpec& spec) {
    return spec.meaning == OperandMeaning::kCondition;
  });
}

// Why the ignored text `ignored` may have been meant as part of the
// statement: a hint for the extra-operand warning, "" for none. `last` is
// the last operand the statement read.
std::string ExtraOperandHint(const OperandShape& shape, const char* keyword,
                             const OperandSpec* last, const std::string& ignored) {
  const std::string first = ignored.substr(0, ignored.find_first_of(" \t"));
  const bool lists_tags = std::any_of(shape.begin(), shape.end(), [](const OperandSpec& spec) {
    return spec.meaning == OperandMeaning::kTagList;
  });
  if (lists_tags && IsNumber(first)) return " (tolerances are set with ABS_TOL / REL_TOL)";
  if (ignored[0] == '(' && !HasCondition(shape)) {
    return std::string(" (") + keyword + " takes no condition)";
  }
  if (last == nullptr) return "";
  if (last->meaning == OperandMeaning::kNumber && !IsNumber(first) &&
      (std::strchr("+-*/^<>=!", ignored[0]) != nullptr || first == "AND" || first == "OR")) {
    return " (an expression with blanks goes in parentheses)";
  }
  if (last->meaning == OperandMeaning::kQuestion) {
    return " (a question with blanks goes in double quotes)";
  }
  return "";
}

void Checker::Traps(const StatementPlace& at, const KeywordRow& row, const char* keyword,
                    const Operands& ops, bool complete, bool reported) {
  const OperandShape& shape = row.shape;
  if (!complete && !reported) {
    // The reader stopped without a word: an operand that the statement
    // cannot do without, and whose absence it does not report, is missing.
    for (std::size_t i = 0; i < shape.count; ++i) {
      if (ops.has(static_cast<int>(i))) continue;
      if (shape.operands[i].missing.absence == Absence::kSilent) {
        Add(at, at.keyword, Severity::kWarning, check_code::kNoEffect,
            std::string(keyword) + " without its " + shape.operands[i].role + " does nothing");
      }
      break;
    }
    return;
  }
  // What the statement ignores after its last operand.
  const std::string ignored =
      complete && !shape.ReadsToLineEnd() && !at.Opaque(ops.rest) ? Trimmed(ops.rest)
                                                                   : std::string();
  bool told_ignored = false;
  const OperandSpec* last = nullptr;
  for (std::size_t i = 0; i < shape.count; ++i) {
    const OperandSpec& spec = shape.operands[i];
    const char* word = ops.at[i];
    if (word == nullptr) break;
    last = &spec;
    if (at.Opaque(word)) continue;
    const std::size_t size = std::strlen(word);
    // A CR LF line end: the CR ends the line's last word, and a number
    // holding it does not read. (Names and expressions hold it harmlessly:
    // the server trims tag names and skips it in an expression, and a
    // label's line holds it too.)
    if (spec.meaning == OperandMeaning::kNumber && spec.form != OperandForm::kExpression &&
        size > 0 && word[size - 1] == '\r') {
      Add(at, word, Severity::kWarning, check_code::kCarriageReturn,
          "the line ends with a carriage return (a CR LF line end), which the run reads as "
          "part of its last word '" + std::string(word, size - 1) + "'");
    }
    if (spec.has(kCut) && size >= sizeof ops.cut[i]) {
      const std::size_t kept = sizeof ops.cut[i] - 1;
      Add(at, word, Severity::kWarning, check_code::kCutOperand,
          std::string("the ") + spec.role + " is longer than " + std::to_string(kept) +
              " characters: the run reads only the first " + std::to_string(kept) + ", and '" +
              std::string(word + kept) + "' is cut off");
    }
    switch (spec.meaning) {
      case OperandMeaning::kTagList:
        told_ignored = TagListTraps(at, shape, i, ops, ignored) || told_ignored;
        break;
      case OperandMeaning::kNumber:
        if (complete) NumberTraps(at, shape, i, ops);
        break;
      case OperandMeaning::kFlag:
        if (std::strchr("1TY0FN", word[0]) == nullptr) {
          Add(at, word, Severity::kWarning, check_code::kFlagWord,
              std::string("'") + word +
                  "' is read as no: only a word beginning with 1, T or Y is yes");
        }
        break;
      case OperandMeaning::kSafetyWord:
        for (const char* w : ops.words) {
          if (at.Opaque(w) || std::strncmp(w, "VERSION", 7) == 0 ||
              std::strncmp(w, "VALID", 5) == 0 || std::strncmp(w, "ALL", 3) == 0) {
            continue;
          }
          Add(at, w, Severity::kWarning, check_code::kSafetyWord,
              std::string("'") + w +
                  "' names no check: it turns on the version report only (the words are "
                  "VERSION, VALID and ALL)");
        }
        break;
      default: break;
    }
  }
  if (!ignored.empty() && !told_ignored) {
    const char* p = ops.rest + std::strspn(ops.rest, " \t");
    // Several words: a blank outside parentheses (a group is one word).
    bool several = false;
    int depth = 0;
    for (char c : ignored) {
      if (c == '(') ++depth;
      if (c == ')' && depth > 0) --depth;
      if ((c == ' ' || c == '\t') && depth == 0) several = true;
    }
    Add(at, p, Severity::kWarning, check_code::kExtraOperand,
        std::string(several ? "extra operands ignored: '" : "extra operand ignored: '") +
            ignored + "'" + ExtraOperandHint(shape, keyword, last, ignored));
  }
}

bool Checker::TagListTraps(const StatementPlace& at, const OperandShape& shape, std::size_t i,
                           const Operands& ops, const std::string& ignored) {
  // An empty item ends the list (ExtractItem's items: blanks around an item
  // do not count); a last empty item ends nothing.
  const std::string list = ops.text[i];
  for (std::size_t begin = 0; begin <= list.size();) {
    std::size_t end = list.find(',', begin);
    if (end == std::string::npos) end = list.size();
    if (Trimmed(list.substr(begin, end - begin).c_str()).empty()) {
      const std::string after = end < list.size() ? Trimmed(list.c_str() + end + 1) : "";
      if (!after.empty() && after.find_first_not_of(',') != std::string::npos) {
        const std::size_t skipped = list.find_first_not_of(", ", end);
        Add(at, ops.at[i] + skipped, Severity::kWarning, check_code::kTagListGap,
            "the tag list ends at its first empty item: '" + after + "' is ignored");
      }
      break;
    }
    begin = end + 1;
  }
  // A blank after the list's last comma, or before a comma, ends the list:
  // the next word is the value.
  if (i + 1 >= shape.count || !ops.has(static_cast<int>(i + 1)) || at.Opaque(ops.at[i + 1])) {
    return false;
  }
  const char* value = ops.at[i + 1];
  const std::string word = ops.at[i];
  const std::string and_ignored = ignored.empty() ? "" : ", and '" + ignored + "' is ignored";
  if (value[0] == ',') {
    Add(at, value, Severity::kWarning, check_code::kTagListComma,
        std::string("a blank before the comma ends the tag list; '") + value +
            "' is read as the value" + and_ignored);
    return !ignored.empty();
  }
  if (word.size() >= sizeof ops.cut[i] || word.back() != ',' ||
      (ignored.empty() && IsNumber(value))) {
    return false;  // cut there, no comma, or a harmless one before the value
  }
  Add(at, value, Severity::kWarning, check_code::kTagListComma,
      std::string("the tag list ends with a comma; the next word is read as the value: '") +
          value + "'" + and_ignored);
  return !ignored.empty();
}

void Checker::NumberTraps(const StatementPlace& at, const OperandShape& shape, std::size_t i,
                          const Operands& ops) {
  const OperandSpec& spec = shape.operands[i];
  const char* word = ops.at[i];
  const int k = static_cast<int>(i);
  // A group right after a digit: its value's text goes into the number.
  if (spec.span == OperandSpan::kGroupedWord &&
      (spec.form == OperandForm::kNumber || spec.form == OperandForm::kDuration)) {
    for (const char* p = word + 1; *p != '\0'; ++p) {
      if (*p != '(' || !(std::isdigit(static_cast<unsigned char>(p[-1])) || p[-1] == '.')) {
        continue;
      }
      int depth = 0;
      const char* q = p;
      for (; *q != '\0'; ++q) {
        if (*q == '(') ++depth;
        if (*q == ')' && --depth == 0) break;
      }
      const std::string group(p, *q != '\0' ? q + 1 : q);
      const std::string before(word, p);
      std::string message = "the group '" + group + "' right after '" + before +
                            "' is part of the number: its value's digits follow them";
      if (before.find_first_not_of("0123456789") == std::string::npos) {
        message += " (a value of 1 makes " + before + "1)";
      }
      if (std::any_of(shape.begin() + i + 1, shape.end(), [](const OperandSpec& s) {
            return s.meaning == OperandMeaning::kCondition;
          })) {
        message += "; a condition goes after a blank";
      }
      Add(at, p, Severity::kWarning, check_code::kGluedGroup, message);
      break;
    }
  }
  if (!ops.known[k] || ops.own_value[k]) return;
  const double value = ops.value[k];
  if (spec.has(kWhole) && value != std::trunc(value)) {
    char whole[32];
    std::snprintf(whole, sizeof whole, "%.0f", std::trunc(value));
    Add(at, word, Severity::kWarning, check_code::kFractionCut,
        std::string("only the whole part of '") + word + "' counts: the run takes " + whole);
  }
  if (spec.has(kAboveTiny) && value < kTinyValue) {
    Add(at, word, Severity::kWarning, check_code::kIgnoredValue,
        std::string("'") + word + "' is ignored: a " + spec.role +
            " below 1E-14 leaves the one in force");
  }
}

}  // namespace

TagSet::TagSet(const std::vector<std::string>& names) {
  for (const std::string& n : names) Add(n);
}

void TagSet::Add(const std::string& name) { names_.insert(ToUpperCopy(name.c_str())); }

bool TagSet::Contains(const std::string& name) const {
  return names_.count(ToUpperCopy(name.c_str())) != 0;
}

std::vector<Diagnostic> CheckScenario(const std::string& path, const CheckOptions& options,
                                      std::vector<CheckedLine>* walked) {
  return Checker(path, options, walked).Run();
}

std::vector<std::string> ArgumentsOfOptions(const char* options) {
  std::array<std::string, 8> args;
  const int n = SplitArguments(options != nullptr ? options : "", true, &args);
  return std::vector<std::string>(args.begin(), args.begin() + n);
}

}  // namespace zl
