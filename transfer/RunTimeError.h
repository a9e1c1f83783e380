#pragma once

#include <cstdint>
#include <string>

// An unexpected error caught by a procedure's error handler, as a number and a description: the
// system error's own number where there is one (a file-system failure), else the generic 5.
struct RunTimeError {
    static constexpr int32_t kGenericNumber = 5;

    int32_t number = kGenericNumber;
    std::string description;

    // Only inside a catch block: describes the exception being handled.
    static RunTimeError fromCurrentException();
};
