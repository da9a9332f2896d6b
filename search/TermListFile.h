#pragma once

#include <string>
#include <vector>

namespace gq {

// The terms of a term-list file: one per line, exactly as written; lines that are empty or hold
// only spaces are skipped. UTF-8 (a byte-order mark dropped), or Windows-1252 when the file is not
// valid UTF-8. Throws gq::Error when the file cannot be read.
std::vector<std::string> ReadTermListFile(const std::string& path);

// Text in UTF-8 when it already is; otherwise read as Windows-1252.
std::string ToUtf8(const std::string& bytes);

} // namespace gq
