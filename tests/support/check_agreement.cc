#include "support/check_agreement.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "common/text_utils.h"
#include "scenario/keyword_table.h"
#include "support/in_process_server.h"

namespace zl::testing {
namespace {

namespace code = check_code;

// The codes whose message is the run's own test log text.
bool IsStatementCode(const char* c) {
  for (const char* s : {code::kUnknownKeyword, code::kMissingOperand, code::kBadNumber,
                        code::kWindowOrder, code::kMissingLabel, code::kMissingSubtest,
                        code::kNestTooDeep, code::kNoChecksum, code::kBadChecksum}) {
    if (std::strcmp(c, s) == 0) return true;
  }
  return false;
}

bool IsChecksumCode(const char* c) {
  return std::strcmp(c, code::kNoChecksum) == 0 || std::strcmp(c, code::kBadChecksum) == 0;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// What a run's error line is to the comparison.
enum class RunKind {
  kStatement,  // worded as the check words it
  kValue,      // an operand whose groups' values the check cannot know
  kChecksum,   // a checksum error: about the file as a whole
  kTag,        // a tag the server does not know
  kAbort,      // the run ended at this statement
  kNestTooDeep,
  kServer,  // depends on the server's or the host's answers
};

RunKind KindOf(const std::string& text) {
  if (text == "Unknown exception aborted scenario.") return RunKind::kAbort;
  if (StartsWith(text, "Tag <") &&
      (text.find("> not found for ") != std::string::npos ||
       text.find("> not available for MONITOR") != std::string::npos)) {
    return RunKind::kTag;
  }
  if (StartsWith(text, "No stored checksum for scenario: ") ||
      (StartsWith(text, "Stored checksum, ") &&
       text.find(", is invalid for scenario: ") != std::string::npos)) {
    return RunKind::kChecksum;
  }
  if (StartsWith(text, "Test '") &&
      text.find("' not executed, nest level too deep") != std::string::npos) {
    return RunKind::kNestTooDeep;
  }
  // A number or window that did not read with the values the server gave
  // its groups.
  if ((StartsWith(text, "Could not parse ") || StartsWith(text, "Window end '")) &&
      text.find('(') != std::string::npos) {
    return RunKind::kValue;
  }
  for (const char* prefix : {"Logset <", "PT_ENABLE not sent to ", "PT_DISABLE not sent to ",
                             "Exception from ", "Communication error reading ", "Client cmd, ",
                             "Could not open file to store", "COMAPREVALS not implemented"}) {
    if (StartsWith(text, prefix)) return RunKind::kServer;
  }
  return RunKind::kStatement;
}

using Place = std::pair<std::string, unsigned>;  // file, line of the file

std::string Describe(const Place& at, const std::string& what) {
  return at.first + ":" + std::to_string(at.second) + ": " + what;
}

}  // namespace

RunLineSink::RunLineSink() { SetLogSink(this); }

RunLineSink::~RunLineSink() { SetLogSink(nullptr); }

std::vector<RunLine> RunLineSink::Take() {
  std::lock_guard<std::mutex> lock(mu_);
  return std::exchange(lines_, {});
}

void RunLineSink::ErrorLine(const std::string& text) {
  // The ladder's lines keep going where they go without a sink.
  std::fprintf(stderr, "%s\n", text.c_str());
}

void RunLineSink::ScenarioLine(ScenarioLineKind kind, const std::string& text,
                               const LogPlace& place, unsigned) {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.push_back(RunLine{kind, text, place.file, place.line});
}

std::vector<std::string> CompareRunWithCheck(const std::vector<RunLine>& run,
                                             const std::vector<Diagnostic>& check,
                                             const std::vector<CheckedLine>& walked) {
  std::vector<std::string> problems;
  // Where the walk met each statement line first, by the run's counting
  // and by the file's lines.
  std::map<std::pair<std::string, unsigned>, std::size_t> step_of_piece;
  std::map<Place, std::size_t> step_of_line;
  std::map<std::pair<std::string, unsigned>, unsigned> line_of_piece;
  for (std::size_t i = 0; i < walked.size(); ++i) {
    const CheckedLine& w = walked[i];
    step_of_piece.emplace(std::make_pair(w.file, w.line), i);
    step_of_line.emplace(Place(w.file, w.file_line), i);
    line_of_piece.emplace(std::make_pair(w.file, w.line), w.file_line);
  }
  bool linear = true;  // no conditional GOTO on the way
  std::map<Place, std::string> keyword_at;
  for (const CheckedLine& w : walked) {
    if (w.keyword == "GOTO" && w.conditional) linear = false;
    keyword_at.emplace(Place(w.file, w.file_line), w.keyword);
  }
  auto keyword = [&](const Place& at) {
    const auto it = keyword_at.find(at);
    return it == keyword_at.end() ? std::string() : it->second;
  };

  // The run's lines by kind and place; where the run ended early.
  std::set<std::tuple<std::string, unsigned, std::string>> run_statement;  // file, line, text
  std::set<std::pair<std::string, std::string>> run_checksum;              // file, text
  std::set<Place> run_tag, run_abort, suffixed_tags;
  std::set<Place> value_dependent;  // the run stopped the statement on a value
  bool nest_too_deep = false;
  std::size_t cut = walked.size();  // the walk steps the run got through
  bool ended_early = false;
  for (const RunLine& r : run) {
    if (r.kind == ScenarioLineKind::kFailure) continue;
    unsigned line = 0;
    if (r.line != 0) {
      const auto it = line_of_piece.find({r.file, r.line});
      if (it == line_of_piece.end()) {
        problems.push_back(r.file + ":" + std::to_string(r.line) +
                           ": the run reports a line the check never read: " + r.text);
        continue;
      }
      line = it->second;
    }
    const Place at(r.file, line);
    if (r.kind == ScenarioLineKind::kStopped) {
      ended_early = true;
      if (line != 0) cut = std::min(cut, step_of_line[at] + 1);
      continue;
    }
    switch (KindOf(r.text)) {
      case RunKind::kStatement: run_statement.emplace(r.file, line, r.text); break;
      case RunKind::kValue: value_dependent.insert(at); break;
      case RunKind::kChecksum: run_checksum.emplace(r.file, r.text); break;
      case RunKind::kTag:
        run_tag.insert(at);
        // A field suffix ("T1.PV"): known to the check, refused by the
        // server for writes and TagExists.
        if (r.text.substr(0, r.text.find('>')).find('.') != std::string::npos) {
          suffixed_tags.insert(at);
        }
        break;
      case RunKind::kAbort:
        run_abort.insert(at);
        ended_early = true;
        if (line != 0) cut = std::min(cut, step_of_line[at] + 1);
        break;
      case RunKind::kNestTooDeep: nest_too_deep = true; break;
      case RunKind::kServer: break;
    }
  }

  // The check's findings by kind and place.
  std::set<std::tuple<std::string, unsigned, std::string>> check_statement;
  std::set<std::pair<std::string, std::string>> check_checksum;
  std::set<Place> check_tag, check_ending, check_cycle;
  for (Diagnostic d : check) {
    // A warning is the check's alone: the run writes no line for it.
    if (d.severity == Severity::kWarning) continue;
    const Place at(d.file, d.line);
    // A reported line loses the line ends it ends with ("__Value not found
    // for VERIFY \r" of a CR LF file).
    while (!d.message.empty() && (d.message.back() == '\r' || d.message.back() == '\n')) {
      d.message.pop_back();
    }
    if (IsChecksumCode(d.code)) {
      check_checksum.emplace(d.file, d.message);
    } else if (IsStatementCode(d.code)) {
      check_statement.emplace(d.file, d.line, d.message);
    } else if (std::strcmp(d.code, code::kUnknownTag) == 0) {
      (d.message.find("the run ends here") != std::string::npos ? check_ending : check_tag)
          .insert(at);
    } else if (std::strcmp(d.code, code::kBadExpression) == 0) {
      check_ending.insert(at);
    } else if (std::strcmp(d.code, code::kSubtestCycle) == 0) {
      check_cycle.insert(at);
    }
  }
  // The run got to the statement at `at` and ran it as far as the check:
  // not stopped by a value, nor ended by the server refusing an expression
  // (its errors after the refused one never came).
  auto reached = [&](const Place& at) {
    const auto it = step_of_line.find(at);
    return (it == step_of_line.end() || it->second < cut) && value_dependent.count(at) == 0 &&
           run_abort.count(at) == 0;
  };

  // Every error of the run is one the check reports.
  for (const auto& [file, line, text] : run_statement) {
    if (check_statement.count({file, line, text}) == 0) {
      problems.push_back(Describe({file, line}, "the run's error is not the check's: " + text));
    }
  }
  for (const auto& [file, text] : run_checksum) {
    if (check_checksum.count({file, text}) == 0) {
      problems.push_back(file + ": the run's checksum error is not the check's: " + text);
    }
  }
  for (const Place& at : run_tag) {
    if (check_tag.count(at) == 0 && check_ending.count(at) == 0 && !suffixed_tags.count(at)) {
      problems.push_back(Describe(at, "the run's missing tag is not the check's"));
    }
  }
  if (nest_too_deep && check_cycle.empty()) {
    problems.push_back("the run nested too deep without a cycle the check found");
  }

  // Every error of the check on a line the run reached is one the run
  // reports, where the run's way through the files is the check's.
  if (!linear) return problems;
  for (const auto& [file, line, text] : check_statement) {
    if (reached({file, line}) && run_statement.count({file, line, text}) == 0) {
      problems.push_back(Describe({file, line}, "the check's error is not the run's: " + text));
    }
  }
  if (!ended_early) {
    for (const auto& [file, text] : check_checksum) {
      if (run_checksum.count({file, text}) == 0) {
        problems.push_back(file + ": the check's checksum error is not the run's: " + text);
      }
    }
  }
  for (const Place& at : check_tag) {
    const std::string word = keyword(at);
    // A timed check reads its tags when its block runs, after its line: a
    // run that ended early may never have run the block.
    const bool later = ended_early && IsTimedLine(word.c_str());
    if (reached(at) && !later && run_tag.count(at) == 0 && run_abort.count(at) == 0 &&
        word != "PT_ENABLE" && word != "PT_DISABLE") {
      problems.push_back(Describe(at, "the check's missing tag is not the run's"));
    }
  }
  for (const Place& at : check_ending) {
    const std::string word = keyword(at);
    if (reached(at) && run_abort.count(at) == 0 && word != "DELAY" && word != "DELAYSECS" &&
        word != "SIMWAIT") {
      problems.push_back(Describe(at, "the check ends the run here, the run went on"));
    }
  }
  return problems;
}

TagSet ServerTags() {
  CORBA::String_var list = InProcessServer::Instance().database()->SearchTags(".", "TAGS");
  TagSet tags;
  for (int i = 1;; ++i) {
    const std::string tag = ExtractItem(list.in(), i, ',');
    if (tag.empty()) break;
    tags.Add(tag);
  }
  return tags;
}

}  // namespace zl::testing
