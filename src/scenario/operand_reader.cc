#include "scenario/operand_reader.h"

#include <cstdio>
#include <cstring>

#include "common/text_utils.h"
#include "scenario/statement_errors.h"
#include "scenario/statement_line.h"
#include "scenario/tokenizer.h"

namespace zl {
namespace {

const char* Delimiters(OperandSpan span) {
  switch (span) {
    case OperandSpan::kWord:
    case OperandSpan::kGroupedWord: return kBlanks;
    case OperandSpan::kRest: return kLineEnd;
    case OperandSpan::kRawRest: break;
  }
  return kNoDelims;
}

// Reads number operand `i` (its text taken) into `out`; false, reported,
// when it does not read or ends a window before its start.
bool ReadNumber(const OperandSpec& spec, int i, StatementLine& line, OperandSite& site,
                Operands* out) {
  const char* token = out->text[i];
  if (spec.has(kOwnValue) && (token[0] == '?' || (token[0] == '\\' && token[1] == '?'))) {
    out->own_value[i] = true;
    return true;
  }
  if (site.Opaque(token)) {
    out->known[i] = false;
    return true;
  }
  bool ok = !HasUnbalancedGroup(token);
  if (ok) {
    if (spec.form == OperandForm::kExpression) {
      const std::optional<double> v = site.Evaluate(token, std::strlen(token));
      out->known[i] = v.has_value();
      out->value[i] = v.value_or(0);
      out->read[i] = token;
    } else {
      out->read[i] = spec.form == OperandForm::kPlainNumber
                         ? std::string(token)
                         : ExpandGroups(token, site, &out->known[i]);
      ok = ParseOperand(out->read[i].c_str(), spec.form, &out->value[i]);
    }
  }
  if (!ok) {
    site.Error(OperandError::kUnread, spec, UnreadOperandText(spec, token, line.keyword()), token);
    return false;
  }
  if (spec.has(kWindowEnd) && i > 0 && out->has(i - 1) && out->known[i] && out->known[i - 1] &&
      ToMilliseconds(out->value[i]) < ToMilliseconds(out->value[i - 1])) {
    site.Error(OperandError::kWindowReversed, spec,
               WindowReversedText(token, out->text[i - 1], line.keyword()), token);
    return false;
  }
  return true;
}

}  // namespace

bool ReadOperands(const OperandShape& shape, StatementLine& line, OperandSite& site,
                  Operands* out) {
  int i = 0;
  for (const OperandSpec& spec : shape) {
    const char* token = line.Next(Delimiters(spec.span), spec.span == OperandSpan::kGroupedWord);
    if (token == nullptr) {
      out->rest = line.Rest();
      switch (spec.missing.absence) {
        case Absence::kOptional: return true;
        case Absence::kSilent: return false;
        case Absence::kError: break;
      }
      const char* previous = i > 0 ? out->text[i - 1] : nullptr;
      site.Error(OperandError::kMissing, spec, MissingOperandText(spec, line.keyword(), previous),
                 nullptr);
      return false;
    }
    out->at[i] = token;
    if (spec.has(kCut)) {
      strncpyz(out->cut[i], token, sizeof out->cut[i]);
      out->text[i] = out->cut[i];
    } else {
      out->text[i] = token;
    }
    if (spec.has(kRepeats)) {
      out->words.push_back(token);
      while (const char* more = line.Next(Delimiters(spec.span))) out->words.push_back(more);
    }
    if (spec.meaning == OperandMeaning::kNumber && !ReadNumber(spec, i, line, site, out)) {
      return false;
    }
    ++i;
  }
  out->rest = line.Rest();
  return true;
}

std::string ExpandGroups(const char* token, OperandSite& site, bool* known) {
  std::string out;
  if (token == nullptr) return out;
  for (const char* p = token; *p != '\0'; ++p) {
    if (*p == '\\') {
      if (p[1] == '\0') break;
      out += *++p;
    } else if (*p == '(') {
      int depth = 0;
      const char* q = p;
      for (; *q != '\0'; ++q) {
        if (*q == '(') ++depth;
        if (*q == ')' && --depth == 0) break;
      }
      if (*q == '\0') break;  // unbalanced: dropped
      const std::optional<double> v = site.Evaluate(p, static_cast<std::size_t>(q - p + 1));
      if (!v && known != nullptr) *known = false;
      char value[64];
      std::snprintf(value, sizeof value, "%lf", v.value_or(1.0));
      out += value;
      p = q;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace zl
