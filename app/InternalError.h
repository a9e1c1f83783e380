#pragma once

#include <cstdint>
#include <exception>
#include <string>

// The number and description of an unexpected run-time error, for the two-line internal-error report.
namespace InternalError {

int32_t numberOf(const std::exception& error);

// "Internal error in Kavrel.<procedure>()"
std::string headline(const std::string& procedure);

// Five blanks, the number, " - " and the description.
std::string detail(int32_t number, const std::string& description);

} // namespace InternalError
