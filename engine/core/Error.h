#pragma once

#include <stdexcept>
#include <string>

namespace gq {

// The one error type of the project: its message is the plain-words description that the error
// report and the command line show.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Descriptions that several readers share, so that every format says the same thing.
inline constexpr const char* kPasswordProtected = "The file is password-protected";
inline constexpr const char* kNotAWorkbook = "The file is damaged or is not a workbook";
inline constexpr const char* kCannotBeRead =
    "The file cannot be read (permission denied or locked)";

} // namespace gq
