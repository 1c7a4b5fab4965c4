// The written forms of operand shapes (operand_shape.h).
#include "scenario/operand_shape.h"

namespace zl {
namespace {

// One operand as a form writes it.
std::string OperandWord(const OperandSpec& operand) {
  switch (operand.meaning) {
    case OperandMeaning::kTagList:
      return "taglist";
    case OperandMeaning::kLabel:
      return std::string(":") + operand.role;
    default:
      return operand.role;
  }
}

}  // namespace

std::string ShapeForm(const OperandShape& shape) {
  std::string form;
  std::size_t open = 0;  // brackets opened by optional operands
  for (const OperandSpec& operand : shape) {
    if (!form.empty()) form += ' ';
    if (operand.missing.absence == Absence::kOptional) {
      form += '[';
      ++open;
    }
    form += OperandWord(operand);
    if (operand.has(kRepeats)) form += " ...";
  }
  form.append(open, ']');
  return form;
}

const char* MeaningName(OperandMeaning meaning) {
  switch (meaning) {
    case OperandMeaning::kTag:
      return "tag";
    case OperandMeaning::kTagList:
      return "taglist";
    case OperandMeaning::kNumber:
      return "number";
    case OperandMeaning::kLabel:
      return "label";
    case OperandMeaning::kCondition:
      return "condition";
    case OperandMeaning::kText:
      return "text";
    case OperandMeaning::kCommand:
      return "command";
    case OperandMeaning::kLogSetCommand:
      return "logset-command";
    case OperandMeaning::kName:
      return "name";
    case OperandMeaning::kSafetyWord:
      return "safety-word";
    case OperandMeaning::kQuestion:
      return "question";
    case OperandMeaning::kStoreSpec:
      return "store-spec";
    case OperandMeaning::kFlag:
      return "flag";
  }
  return "";
}

}  // namespace zl
