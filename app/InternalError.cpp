#include "InternalError.h"

#include <new>
#include <stdexcept>
#include <system_error>

namespace InternalError {

// One fixed number per kind of failure, so that the same failure always logs the same number and can be
// looked for; a system error keeps its errno.
int32_t numberOf(const std::exception& error) {
    if (const auto* systemError = dynamic_cast<const std::system_error*>(&error))
        return systemError->code().value();
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr)
        return 7; // out of memory
    if (dynamic_cast<const std::out_of_range*>(&error) != nullptr)
        return 9; // subscript out of range
    if (dynamic_cast<const std::overflow_error*>(&error) != nullptr)
        return 6; // overflow
    return 5;     // invalid procedure call or argument
}

std::string headline(const std::string& procedure) {
    return "Internal error in Kavrel." + procedure + "()";
}

std::string detail(int32_t number, const std::string& description) {
    return "     " + std::to_string(number) + " - " + description;
}

} // namespace InternalError
