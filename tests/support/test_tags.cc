#include "support/test_tags.h"

namespace zl::testing {

// Fields: name, driver, address, type, description, EU low, EU high, raw low,
// raw high, mode, algorithm, parameters, initial value.
const char kTestTags[] =
    "FIC101\t\t\tAnalog\tFeed flow [m3/h]\t0\t200\t0\t100\tAuto\tNONE\t\t50\n"
    "TIC200\t\t\tAnalogIn\tReactor temperature [degC]\t0\t400\t0\t100\tManual\tNONE\t\t120\n"
    "XV300\t\t\tDigital\tFeed valve [CLOSED/OPEN]\t0\t1\t0\t1\tAuto\tNONE\t\t1\n"
    "SPARE\t\t\tAnalog\tSpare point\t0\t100\t0\t100\tAuto\tNONE\t\t0\n";

}  // namespace zl::testing
