// The strict reading of numeric operands and the text of an abort's reason:
// no server needed.
#include "scenario/operand.h"

#include <gtest/gtest.h>
#include <omniORB4/CORBA.h>

#include <stdexcept>
#include <string>

#include "scenario/abort_reason.h"
#include "zemr.hh"

namespace zl {
namespace {

constexpr double kUntouched = -12345;

TEST(OperandTest, ReadsWholeTextInItsForm) {
  struct Case {
    int line;
    const char* text;
    OperandForm form;
    bool ok;
    double want;  // when ok
  };
  const Case kCases[] = {
      {__LINE__, "60", OperandForm::kNumber, true, 60},
      {__LINE__, "-2.5", OperandForm::kNumber, true, -2.5},
      {__LINE__, "+5E1", OperandForm::kNumber, true, 50},
      {__LINE__, ".5", OperandForm::kNumber, true, 0.5},
      {__LINE__, "5.", OperandForm::kNumber, true, 5},
      {__LINE__, "1e-400", OperandForm::kPlainNumber, true, 0},  // underflow is a number
      // What atof read as 0 or as a leading part, silently.
      {__LINE__, "", OperandForm::kNumber, false, 0},       // an unbalanced group expanded to nothing
      {__LINE__, "ABC", OperandForm::kNumber, false, 0},
      {__LINE__, "1O", OperandForm::kNumber, false, 0},     // letter O for zero
      {__LINE__, "2,5", OperandForm::kNumber, false, 0},    // decimal comma
      {__LINE__, "50.000000X", OperandForm::kNumber, false, 0},
      {__LINE__, "1.2.3", OperandForm::kNumber, false, 0},
      {__LINE__, "1e", OperandForm::kNumber, false, 0},     // exponent without digits
      {__LINE__, ".", OperandForm::kNumber, false, 0},
      {__LINE__, "-", OperandForm::kNumber, false, 0},
      {__LINE__, " 5", OperandForm::kNumber, false, 0},
      {__LINE__, "\"5\"", OperandForm::kNumber, false, 0},  // quotes stay in a token
      // Not decimal numbers, though strtod reads them.
      {__LINE__, "INF", OperandForm::kNumber, false, 0},
      {__LINE__, "NAN", OperandForm::kPlainNumber, false, 0},
      {__LINE__, "0X10", OperandForm::kNumber, false, 0},
      {__LINE__, "1e400", OperandForm::kNumber, false, 0},  // not finite
      // Durations: h:m:s, m:s or seconds; hours and minutes whole.
      {__LINE__, "1:30", OperandForm::kDuration, true, 90},
      {__LINE__, "1:0:0", OperandForm::kDuration, true, 3600},
      {__LINE__, "0:1:2.5", OperandForm::kDuration, true, 62.5},
      {__LINE__, "45", OperandForm::kDuration, true, 45},
      {__LINE__, "-1:30", OperandForm::kDuration, true, -30},  // a negative wait stays one
      {__LINE__, "BANANA", OperandForm::kDuration, false, 0},
      {__LINE__, "1:30X", OperandForm::kDuration, false, 0},
      {__LINE__, "1.5:30", OperandForm::kDuration, false, 0},  // sscanf read 1.5 s
      {__LINE__, "1::3", OperandForm::kDuration, false, 0},
      {__LINE__, "1:2:3:4", OperandForm::kDuration, false, 0},
      {__LINE__, ":30", OperandForm::kDuration, false, 0},
      {__LINE__, "1:", OperandForm::kDuration, false, 0},
      {__LINE__, "5000000000:0", OperandForm::kDuration, false, 0},  // beyond 32 bits
      {__LINE__, "1:30", OperandForm::kNumber, false, 0},  // only SIMWAIT reads durations
      {__LINE__, "5", OperandForm::kExpression, false, 0},  // never read here
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    double value = kUntouched;
    EXPECT_EQ(c.ok, ParseOperand(c.text, c.form, &value));
    EXPECT_EQ(c.ok ? c.want : kUntouched, value);
  }
}

TEST(OperandTest, FindsUnbalancedGroups) {
  struct Case {
    int line;
    const char* token;
    bool want;
  };
  const Case kCases[] = {
      {__LINE__, "(60", true},  // the group the expansion drops
      {__LINE__, "5(2", true},  // expands to "5", a number
      {__LINE__, "((1)", true},
      {__LINE__, "5)", true},
      {__LINE__, "(1)(2", true},
      {__LINE__, "(2*(1+1))", false},
      {__LINE__, "(1)(2)", false},
      {__LINE__, "\\(5", false},  // an escaped parenthesis is a character
      {__LINE__, "5\\)", false},
      {__LINE__, "(\\)", false},  // inside a group only parentheses count
      {__LINE__, "60", false},
      {__LINE__, "", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, HasUnbalancedGroup(c.token));
  }
}

TEST(AbortReasonTest, NamesTheExceptionAndTheServersReason) {
  struct Case {
    int line;
    std::exception_ptr error;
    std::string want;
  };
  const Case cases[] = {
      {__LINE__, std::make_exception_ptr(ZEMR::ZLBadExpression(2, "unknown tag 'NOSUCH'")),
       "user exception, ID 'IDL:ZEMR/ZLBadExpression:1.0': unknown tag 'NOSUCH' (error 2)"},
      {__LINE__, std::make_exception_ptr(ZEMR::ZLTagNotFound()),
       "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'"},
      {__LINE__, std::make_exception_ptr(ZEMR::FileError_Result(7)),
       "user exception, ID 'IDL:ZEMR/FileError_Result:1.0': status 7"},
      {__LINE__, std::make_exception_ptr(CORBA::TRANSIENT(0, CORBA::COMPLETED_NO)),
       "system exception, ID 'IDL:omg.org/CORBA/TRANSIENT:1.0', minor code = 0x0, "
       "completed = NO"},
      {__LINE__, std::make_exception_ptr(std::runtime_error("disk full")), "disk full"},
      {__LINE__, std::make_exception_ptr(42), "an exception of unknown type"},
      {__LINE__, std::exception_ptr(), "no exception"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, AbortReason(c.error));
  }
}

}  // namespace
}  // namespace zl
