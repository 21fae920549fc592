// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace ovk::soap {

// What a failed libcurl transfer tells a user about the secure connection, in words that say
// what to check: an untrusted issuer, a certificate for another host name, an expired (or not
// yet valid) certificate, a service that does not speak TLS. libcurl's own text follows in
// brackets for whoever has to dig deeper. Empty when the failure was not about TLS.
//   curlCode      the CURLcode of the transfer
//   verifyResult  CURLINFO_SSL_VERIFYRESULT (an X509_V_ERR_* number; 0 when none)
//   https         whether the address asked for TLS
std::string describeTlsFailure(int curlCode, long verifyResult, std::string_view curlText,
                               bool https);

}  // namespace ovk::soap
