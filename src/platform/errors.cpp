// SPDX-License-Identifier: MIT
#include "platform/errors.hpp"

#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>

namespace ovk {

Error currentError() {
    try {
        throw;
    } catch (const Error& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return Error(err::OutOfMemory, "Out of memory");
    } catch (const std::filesystem::filesystem_error& e) {
        const auto code = e.code();
        if (code == std::errc::no_such_file_or_directory) return Error(err::FileNotFound, e.what());
        if (code == std::errc::permission_denied) return Error(err::PermissionDenied, e.what());
        return Error(err::DeviceIo, e.what());
    } catch (const std::out_of_range& e) {
        return Error(err::OutOfRange, e.what());
    } catch (const std::overflow_error& e) {
        return Error(err::Overflow, e.what());
    } catch (const std::invalid_argument& e) {
        return Error(err::InvalidArgument, e.what());
    } catch (const std::exception& e) {
        return Error(err::InvalidArgument, e.what());
    } catch (...) {
        return Error(err::InvalidArgument, "Unknown error");
    }
}

}  // namespace ovk
