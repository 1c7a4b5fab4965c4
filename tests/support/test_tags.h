// The tags of the test plant: what the service-backed tests load into
// zelvik-sim ("SIM" and every database its factory creates), and what the
// in-process server loads too, so that a scenario line means the same
// against either.
#ifndef ZL_TESTS_SUPPORT_TEST_TAGS_H_
#define ZL_TESTS_SUPPORT_TEST_TAGS_H_

namespace zl::testing {

// Tag definition lines: FIC101 (Analog, 0..200, Auto, 50), TIC200 (AnalogIn,
// 0..400, Manual, 120), XV300 (Digital, Auto, 1), SPARE (Analog, for
// deletion).
extern const char kTestTags[];

}  // namespace zl::testing

#endif  // ZL_TESTS_SUPPORT_TEST_TAGS_H_
