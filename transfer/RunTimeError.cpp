#include "RunTimeError.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace {

RunTimeError fromSystemError(const std::error_code& code, const std::string& path) {
    RunTimeError error{code.value() != 0 ? code.value() : RunTimeError::kGenericNumber, code.message()};
    if (!path.empty())
        error.description += " (" + path + ")";
    return error;
}

} // namespace

RunTimeError RunTimeError::fromCurrentException() {
    try {
        throw;
    } catch (const std::filesystem::filesystem_error& failure) {
        return fromSystemError(failure.code(), failure.path1().string());
    } catch (const std::system_error& failure) {
        return fromSystemError(failure.code(), {});
    } catch (const std::exception& failure) {
        return {kGenericNumber, failure.what()};
    } catch (...) {
        return {kGenericNumber, "Unknown error"};
    }
}
