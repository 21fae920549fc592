// SPDX-License-Identifier: MIT
#include "soap/tls_failure.hpp"

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

namespace ovk::soap {

namespace {

constexpr const char* kHowToTrust =
    " A company certificate authority is trusted by naming its certificate file in the "
    "setting CAFile or in the variable SSL_CERT_FILE.";

bool isUntrustedIssuer(long verifyResult) {
    switch (verifyResult) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_CERT_REJECTED:
        case X509_V_ERR_INVALID_CA:
            return true;
        default:
            return false;
    }
}

// A server that answers a TLS greeting with plain HTTP ("HTTP/1.1 400 ...") makes OpenSSL read
// the first bytes as a record header with an impossible version or length.
bool soundsLikePlainHttp(std::string_view curlText) {
    for (std::string_view sign :
         {"wrong version number", "packet length too long", "unknown protocol", "http request"}) {
        if (curlText.find(sign) != std::string_view::npos) return true;
    }
    return false;
}

std::string withDetail(std::string words, std::string_view curlText) {
    if (!curlText.empty()) {
        words += " (";
        words += curlText;
        words += ')';
    }
    return words;
}

}  // namespace

std::string describeTlsFailure(int curlCode, long verifyResult, std::string_view curlText,
                               bool https) {
    switch (curlCode) {
        case CURLE_PEER_FAILED_VERIFICATION:
            if (isUntrustedIssuer(verifyResult)) {
                return withDetail(
                    "The service's certificate is not trusted: it was not issued by a "
                    "certificate authority this computer trusts." +
                        std::string(kHowToTrust),
                    curlText);
            }
            if (verifyResult == X509_V_ERR_CERT_HAS_EXPIRED) {
                return withDetail(
                    "The service's certificate (or that of its issuer) has expired; the "
                    "service's operator must renew it.",
                    curlText);
            }
            if (verifyResult == X509_V_ERR_CERT_NOT_YET_VALID) {
                return withDetail(
                    "The service's certificate is not valid yet; check this computer's date "
                    "and time.",
                    curlText);
            }
            // libcurl checks the name itself, after OpenSSL, and then reports an unspecified
            // verification error; only its text tells.
            if (verifyResult == X509_V_ERR_HOSTNAME_MISMATCH ||
                verifyResult == X509_V_ERR_IP_ADDRESS_MISMATCH ||
                curlText.find("host name") != std::string_view::npos) {
                return withDetail(
                    "The service's certificate was issued for another host name than the one "
                    "in the service's address: the address may be wrong, or another server "
                    "answers in the service's place.",
                    curlText);
            }
            return withDetail("The service's certificate was refused: " +
                                  std::string(X509_verify_cert_error_string(verifyResult)) + '.',
                              curlText);
        case CURLE_SSL_CONNECT_ERROR:
            if (soundsLikePlainHttp(curlText)) {
                return withDetail(
                    "The service does not speak TLS: it did not answer the secure (https://) "
                    "connection. Its address may have to start with http:// instead.",
                    curlText);
            }
            return withDetail("The secure connection to the service could not be set up.",
                              curlText);
        case CURLE_SSL_CACERT_BADFILE:
            return withDetail("The certificate authorities this computer trusts cannot be read.",
                              curlText);
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
            return withDetail("The secure connection to the service could not be set up.",
                              curlText);
        case CURLE_GOT_NOTHING:
        case CURLE_UNSUPPORTED_PROTOCOL:
            // A TLS-only server drops a plain request without a word, or answers with an alert
            // that libcurl takes for an HTTP/0.9 reply.
            if (!https && (curlCode == CURLE_GOT_NOTHING ||
                           curlText.find("HTTP/0.9") != std::string_view::npos)) {
                return withDetail(
                    "The service closed the connection without an answer. If it speaks only "
                    "TLS, its address must start with https://.",
                    curlText);
            }
            return {};
        default:
            return {};
    }
}

}  // namespace ovk::soap
