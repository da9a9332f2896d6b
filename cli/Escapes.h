#pragma once

#include <string_view>

namespace gq::cli {

// Writes `text` at `at` with TAB, CR, LF and backslash as "\t", "\r", "\n" and "\\", and returns
// the end of what it wrote. `at` needs room for twice the text's bytes, which the writer may use
// past the end it returns.
char* PutEscaped(char* at, std::string_view text);

// The ways PutEscaped takes, named for tests that check the one this processor does not take:
// words of plain bytes, or vectors of 512 bits where the processor has them.
char* PutEscapedInWords(char* at, std::string_view text);
#if defined(__x86_64__)
bool WideEscapesRun();
char* PutEscapedWide(char* at, std::string_view text);
#endif

} // namespace gq::cli
