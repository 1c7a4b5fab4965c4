// What every fuzz target shares: a silent process log (records are still
// formatted, then dropped), a private working directory that the code under
// test may write into, and the input helpers.
//
// Threads: Setup runs once from LLVMFuzzerInitialize (or the first input);
// the rest runs on the fuzzer's thread.
#ifndef ZL_FUZZ_FUZZ_SUPPORT_H_
#define ZL_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zl::fuzz {

// Routes the process log to a backend that discards every record, and makes
// a fresh directory under TMPDIR (or /tmp) the working directory, so that
// files the code writes (test logs, log set files, stored values) stay out
// of the repository. Idempotent.
void Setup();

// Removes every entry of the working directory made by Setup (not
// recursing: the code under test makes no directories there).
void ClearWorkDir();

// The input as text with every '/' turned into '_': the code under test
// names files from its input (log set FILE, subtests, stored-value stems),
// and without a separator every such name stays in the working directory.
std::string ConfinedText(const uint8_t* data, size_t size);

// `text` split at '\n' (the newline dropped); at most `max_lines` pieces,
// the last one holding the rest.
std::vector<std::string> SplitLines(const std::string& text, size_t max_lines);

// Writes `text` to `path` (replacing it); false when it cannot.
bool WriteFile(const std::string& path, const std::string& text);

}  // namespace zl::fuzz

#endif  // ZL_FUZZ_FUZZ_SUPPORT_H_
