// The names in an expression of the server (a condition, a parenthesis
// group, a VERIFY value), read without the server: where the static check
// looks for tags. The words are read as the server's expression language
// spells them (docs/zelvik-sim.md, "Expressions"): a name begins with a
// letter, "_" or "$" and goes on with letters, digits, "_", "$" and ".";
// AND, OR and NOT are operators, a name followed by "(" is a function, a
// name beginning with "$" is one of the server's own ($SIMTIME), and a
// number swallows the letters glued to it.
//
// Stateless; safe from any thread.
#ifndef ZL_SCENARIO_EXPRESSION_NAMES_H_
#define ZL_SCENARIO_EXPRESSION_NAMES_H_

#include <cstddef>
#include <string_view>
#include <vector>

namespace zl {

// One name: its offset in the text and its length.
struct NameAt {
  std::size_t offset;
  std::size_t size;
};

// The names of tags that `text` refers to, in order (a field suffix such as
// ".PVRAW" still attached).
std::vector<NameAt> TagNamesIn(std::string_view text);

}  // namespace zl

#endif  // ZL_SCENARIO_EXPRESSION_NAMES_H_
