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
// "Can't perform requested operation": the start-up refused the document (not well-formed, of
// no known type, not valid), the connection settings or the service's client data; also a
// service's Exception record whose ID is not a number.
inline constexpr int32_t CannotPerform = 17;
// The document's project language is not in the language file.
inline constexpr int32_t LanguageNotFound = 21;
// The service knows no project of the document's identifier, password and language.
inline constexpr int32_t CredentialsNotFound = 32;
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

// What Client::Init returns, and the step codes its start-up leaves in the splash event's Result
// on the way: hosts branch on these numbers, so each keeps its meaning in every release. A
// failed step leaves its own code; the progress marks say how far the start-up got when
// something unforeseen failed after them.
namespace init {
inline constexpr int32_t Ready = 0;
inline constexpr int32_t NewVersionDeclined = 1;  // the user kept this version
inline constexpr int32_t InstallerStarted = -1;   // the newer version's installer was opened
inline constexpr int32_t DocumentMissing = -1;
inline constexpr int32_t LanguageFileMissing = -2;
inline constexpr int32_t TarvoSchemaMissing = -3;
inline constexpr int32_t MeridoSchemaMissing = -4;
inline constexpr int32_t UnknownProjectType = -5;
inline constexpr int32_t NoSchemaForType = -6;
inline constexpr int32_t DocumentInvalid = -7;  // not well-formed, or not valid by its schema
inline constexpr int32_t NoConfiguration = -8;
inline constexpr int32_t ServiceSetupFailed = -9;
// From here the service is asked: for the client data, then (once it held a banner picture)
// for the project's credentials.
inline constexpr int32_t ReadingClientData = -10;
inline constexpr int32_t CheckingCredentials = -11;
inline constexpr int32_t ProjectLanguageUnknown = -12;
inline constexpr int32_t MakingServiceClient = -991;
inline constexpr int32_t CheckingDocument = -992;  // from the well-formedness check on
inline constexpr int32_t AfterNewVersionAccepted = -999;
}  // namespace init

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
