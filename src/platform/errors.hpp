// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "ovk/error.hpp"

namespace ovk {

// Error numbers hosts already tell apart in their Exception handlers, so that a number in an
// Exception event means the same thing in every release.
namespace err {
inline constexpr int32_t InvalidArgument = 5;  // "Invalid procedure call or argument"
inline constexpr int32_t Overflow = 6;
inline constexpr int32_t OutOfMemory = 7;
inline constexpr int32_t OutOfRange = 9;  // "Subscript out of range"
inline constexpr int32_t TypeMismatch = 13;
inline constexpr int32_t FileNotFound = 53;
inline constexpr int32_t PathNotFound = 76;
inline constexpr int32_t PermissionDenied = 70;
inline constexpr int32_t DeviceIo = 57;
inline constexpr int32_t ObjectMissing = 91;  // "Object variable not set"
inline constexpr int32_t DuplicateKey = 457;
// "Can't create object": the number hosts handle when the component cannot make its windows.
// Here: no display to show them on.
inline constexpr int32_t NoDisplay = 429;
// The common controls' own failures (tree view, list view).
inline constexpr int32_t ElementNotFound = 35601;  // "Element not found"
inline constexpr int32_t KeyNotUnique = 35602;     // "Key is not unique in collection"

// Failures of the service client. Everything from SoapFirst up counts as a communication
// failure to the start-up ("kann Service nicht erreichen").
inline constexpr int32_t SoapFirst = 5000;
inline constexpr int32_t SoapWsdl = 5001;        // description file missing or malformed
inline constexpr int32_t SoapConnection = 5002;  // host unreachable, refused, TLS, proxy
inline constexpr int32_t SoapTimeout = 5003;     // the whole call took longer than allowed
inline constexpr int32_t SoapHttpStatus = 5004;  // an HTTP status other than 200 without a fault
inline constexpr int32_t SoapFault = 5005;       // the service answered with a SOAP fault
inline constexpr int32_t SoapMalformedReply = 5006;  // not well-formed, not an envelope, truncated
inline constexpr int32_t SoapReplyTooLarge = 5007;   // larger than the configured limit
inline constexpr int32_t SoapBadCall = 5008;         // unknown operation, wrong argument count
inline constexpr int32_t SoapBadProperty = 5009;     // unknown connector property or bad value
}  // namespace err

// Turns whatever is being handled in the current catch block into an Error, so that a
// trap can report a number and a description whatever was thrown. Call only inside catch.
Error currentError();

// Runs one statement under a "skip it and go on" trap: a failure is swallowed and the caller
// continues with its next statement. Returns true when the statement completed.
template <class Statement>
bool skipOnError(Statement&& statement) noexcept {
    try {
        statement();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace ovk
