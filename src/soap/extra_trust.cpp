// SPDX-License-Identifier: MIT
#include "soap/extra_trust.hpp"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/errors.hpp"

namespace ovk::soap {

namespace {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

std::string lastOpenSslReason() {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "unknown reason";
}

std::vector<Certificate> readPem(const std::string& bytes, std::string& problem) {
    std::vector<Certificate> certificates;
    std::unique_ptr<BIO, BioFree> bio(
        BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    if (!bio) throw Error(err::OutOfMemory, "Out of memory", "ExtraTrust");
    ERR_clear_error();
    while (Certificate certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)})
        certificates.push_back(std::move(certificate));
    // The reader ends every file with "no start line"; anything else is a broken block.
    const unsigned long code = ERR_peek_last_error();
    if (code != 0 &&
        !(ERR_GET_LIB(code) == ERR_LIB_PEM && ERR_GET_REASON(code) == PEM_R_NO_START_LINE)) {
        problem = lastOpenSslReason();
    }
    ERR_clear_error();
    return certificates;
}

Certificate readDer(const std::string& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    Certificate certificate{d2i_X509(nullptr, &data, static_cast<long>(bytes.size()))};
    ERR_clear_error();
    return certificate;
}

}  // namespace

struct ExtraTrust::Impl {
    std::vector<Certificate> certificates;
};

ExtraTrust::ExtraTrust() : impl_(std::make_unique<Impl>()) {}
ExtraTrust::~ExtraTrust() = default;
ExtraTrust::ExtraTrust(ExtraTrust&&) noexcept = default;
ExtraTrust& ExtraTrust::operator=(ExtraTrust&&) noexcept = default;

void ExtraTrust::add(const std::filesystem::path& file, std::string_view origin) {
    const std::string named =
        "The certificate file " + file.string() + " named by " + std::string(origin);
    std::error_code ec;
    // A folder opens like a file and only fails, with an exception, once read.
    if (std::filesystem::is_directory(file, ec))
        throw Error(err::InvalidArgument, named + " is a folder, not a file", "ExtraTrust");
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw Error(err::FileNotFound, named + " cannot be read: " + std::strerror(errno),
                    "ExtraTrust");
    }
    std::string bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception& e) {
        throw Error(err::DeviceIo, named + " cannot be read: " + e.what(), "ExtraTrust");
    }
    if (in.bad())
        throw Error(err::DeviceIo, named + " cannot be read: " + std::strerror(errno),
                    "ExtraTrust");

    std::string problem;
    std::vector<Certificate> found = readPem(bytes, problem);
    if (!problem.empty()) {
        throw Error(err::InvalidArgument, named + " holds a broken certificate: " + problem,
                    "ExtraTrust");
    }
    if (found.empty()) {
        if (Certificate der = readDer(bytes)) found.push_back(std::move(der));
    }
    if (found.empty()) {
        throw Error(err::InvalidArgument,
                    named +
                        " holds no certificate; it must hold one or more PEM blocks "
                        "\"-----BEGIN CERTIFICATE-----\"",
                    "ExtraTrust");
    }
    for (auto& certificate : found) impl_->certificates.push_back(std::move(certificate));
}

bool ExtraTrust::empty() const {
    return impl_->certificates.empty();
}

bool ExtraTrust::addTo(void* sslContext) const {
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    if (store == nullptr) return false;
    bool added = true;
    for (const auto& certificate : impl_->certificates) {
        // A certificate the store already holds (the system's own, or one named twice) is no
        // failure; only running out of memory is.
        if (X509_STORE_add_cert(store, certificate.get()) != 1) {
            const unsigned long code = ERR_peek_last_error();
            if (ERR_GET_REASON(code) == ERR_R_MALLOC_FAILURE) added = false;
        }
    }
    ERR_clear_error();
    return added;
}

}  // namespace ovk::soap
