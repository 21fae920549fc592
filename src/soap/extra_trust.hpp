// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

namespace ovk::soap {

// Certificate authorities trusted on top of the system's store, for services whose
// certificates a company authority signs (often a proxy that re-signs all traffic). The
// certificates are read when the file is named, so that a bad file is reported there and then,
// in the user's terms, rather than as a refused certificate at some later connection.
class ExtraTrust {
  public:
    ExtraTrust();
    ~ExtraTrust();
    ExtraTrust(ExtraTrust&&) noexcept;
    ExtraTrust& operator=(ExtraTrust&&) noexcept;

    // Reads every certificate of a PEM bundle (a single DER certificate is taken too, as
    // desktop systems often export one that way). Throws Error naming the file and `origin`
    // (where the user named it) when the file cannot be read or holds no certificate.
    void add(const std::filesystem::path& file, std::string_view origin);

    bool empty() const;

    // Adds the certificates to the verification store of an OpenSSL SSL_CTX; false when
    // OpenSSL ran out of memory doing so.
    bool addTo(void* sslContext) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovk::soap
