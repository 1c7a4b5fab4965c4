// The keyword table's rows: that each row can be reached, that its operand
// shape is one the reader can read, that every keyword is documented,
// fuzzed and run in the statement tables, and what editors show of a row
// (its form and its one-line help).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "scenario/keyword_table.h"
#include "scenario/operand_reader.h"

namespace zl {
namespace {

std::string ReadSource(const char* relative) {
  std::ifstream in(std::filesystem::path(ZL_SOURCE_DIR) / relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A row that comes after a prefix row beginning its name would never match.
TEST(KeywordTableTest, NoRowShadowsALaterRow) {
  for (const KeywordRow* earlier = KeywordRows(); earlier->name != nullptr; ++earlier) {
    for (const KeywordRow* later = earlier + 1; later->name != nullptr; ++later) {
      const std::size_t n = std::strlen(earlier->name);
      const bool shadowed = earlier->prefix ? std::strncmp(later->name, earlier->name, n) == 0
                                            : std::strcmp(later->name, earlier->name) == 0;
      EXPECT_FALSE(shadowed) << later->name << " is shadowed by " << earlier->name;
    }
    EXPECT_EQ(earlier, FindKeyword(earlier->name)) << earlier->name;
  }
}

// What the reader needs of a shape: at most Operands::kMax operands; no
// required operand after an optional one (the reader stops at the first
// absent one); a rest of the line or a repeated word only last; an error
// text for every required operand, with a "%s" exactly when it names
// something; a window end after a number; "?", a whole part and a least
// value only in a number.
TEST(KeywordTableTest, EveryShapeIsOneTheReaderReads) {
  for (const KeywordRow* row = KeywordRows(); row->name != nullptr; ++row) {
    SCOPED_TRACE(row->name);
    const OperandShape& shape = row->shape;
    EXPECT_LE(shape.count, static_cast<std::size_t>(Operands::kMax));
    bool optional_seen = false;
    for (std::size_t i = 0; i < shape.count; ++i) {
      const OperandSpec& spec = shape.operands[i];
      SCOPED_TRACE(spec.role);
      const bool last = i + 1 == shape.count;
      if (spec.span == OperandSpan::kRest || spec.span == OperandSpan::kRawRest ||
          spec.has(kRepeats)) {
        EXPECT_TRUE(last);
      }
      if (spec.missing.absence == Absence::kOptional) optional_seen = true;
      EXPECT_FALSE(optional_seen && spec.missing.absence != Absence::kOptional);
      const bool error = spec.missing.absence == Absence::kError;
      EXPECT_EQ(error, spec.missing.text != nullptr);
      if (error) {
        const bool fills = std::strstr(spec.missing.text, "%s") != nullptr;
        EXPECT_EQ(fills, spec.missing.arg != MissingArg::kNone);
        EXPECT_FALSE(spec.missing.arg == MissingArg::kPrevious && i == 0);
      }
      if (spec.has(kWindowEnd)) {
        ASSERT_GT(i, 0u);
        EXPECT_EQ(OperandMeaning::kNumber, shape.operands[i - 1].meaning);
      }
      if (spec.has(kOwnValue) || spec.unread_text != nullptr || spec.has(kWhole) ||
          spec.has(kAboveTiny)) {
        EXPECT_EQ(OperandMeaning::kNumber, spec.meaning);
      }
    }
  }
}

// A timed block collects a line by its exact first word, so a prefix row
// could never be collected.
TEST(KeywordTableTest, TimedLinesAreTheTimedRowsExactly) {
  for (const KeywordRow* row = KeywordRows(); row->name != nullptr; ++row) {
    EXPECT_FALSE(row->prefix && row->timed) << row->name;
  }
  struct Case {
    int line;
    const char* text;
    bool timed;
  };
  const Case kCases[] = {
      {__LINE__, "TVERIFY T1 1", true},
      {__LINE__, "  \ttverify t1 1\n", true},  // blanks, any case
      {__LINE__, "TVERIFYX T1 1", false},      // a longer word is another keyword
      {__LINE__, "BDELAYSECS 1", false},       // runs the block before it
      {__LINE__, "COMMENT x", true},
      {__LINE__, "BEND", false},
      {__LINE__, "", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.timed, IsTimedLine(c.text));
  }
}

// Every keyword is in the user's documentation (in backticks), in the fuzz
// dictionary (as a quoted word) and at the start of a line of a scenario of
// the statement tables.
TEST(KeywordTableTest, EveryKeywordIsDocumentedFuzzedAndTested) {
  const std::string docs = ReadSource("docs/scenarios.md");
  const std::string dict = ReadSource("fuzz/dict/scenario.dict");
  const std::string tables = ReadSource("tests/scenario/statement_table_test.cc");
  ASSERT_FALSE(docs.empty() || dict.empty() || tables.empty());
  for (const KeywordRow* row = KeywordRows(); row->name != nullptr; ++row) {
    SCOPED_TRACE(row->name);
    const std::string name = row->name;
    EXPECT_TRUE(std::regex_search(docs, std::regex("`" + name + "[` ]")));
    EXPECT_NE(std::string::npos, dict.find("\n\"" + name + "\"\n"));
    EXPECT_TRUE(std::regex_search(tables, std::regex("(\"|\\\\n)" + name + "( |\\\\n|\")")));
  }
}

// The form is written from the shape: a wrong bracket or role would tell an
// author that an operand is optional when a run requires it.
TEST(KeywordTableTest, FormsFollowTheShapes) {
  struct Case {
    int line;
    const char* keyword;
    const char* form;
  };
  const Case kCases[] = {
      {__LINE__, "VERIFY", "VERIFY taglist value"},                        // a list, required
      {__LINE__, "TVERIFY", "TVERIFY taglist value [start [end]]"},        // optional, nested
      {__LINE__, "DELAY", "DELAY delay [condition]"},                      // rest of the line
      {__LINE__, "GOTO", "GOTO :label [condition]"},                       // a label
      {__LINE__, "SAFETY", "SAFETY [check ...]"},                          // repeated words
      {__LINE__, "SETMAN", "SETMAN tag"},                                  // silent when absent
      {__LINE__, "MON_ENABLE", "MON_ENABLE"},                              // no operands
      {__LINE__, "TOGGLE", "TOGGLE tag"},                                  // a prefix row
      {__LINE__, "ANSWER", "ANSWER timeout question"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    const KeywordRow* row = FindKeyword(c.keyword);
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(c.form, KeywordForm(*row));
  }
}

// Every row says what it does in one short line: completion lists and hover
// boxes show it as it is.
TEST(KeywordTableTest, EveryRowHasOneLineOfHelp) {
  for (const KeywordRow* row = KeywordRows(); row->name != nullptr; ++row) {
    SCOPED_TRACE(row->name);
    ASSERT_NE(nullptr, row->help);
    const std::string help = row->help;
    EXPECT_FALSE(help.empty());
    EXPECT_EQ(std::string::npos, help.find('\n'));
    EXPECT_LE(help.size(), 100u);
    EXPECT_EQ('.', help.back());
  }
}

}  // namespace
}  // namespace zl
