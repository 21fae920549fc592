// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.hpp"

namespace ovk::test {

// Certificates made with the openssl command when a test suite starts, in a temporary folder
// that goes with the object: nothing secret is kept in the repository, and nothing outlives the
// suite. Keys are P-256, so making them all takes a fraction of a second.
class TestCertificates {
  public:
    struct Server {
        std::filesystem::path certificate;
        std::filesystem::path key;
        // The reference service's options to serve HTTPS with this certificate.
        std::vector<std::string> serveArgs() const;
    };

    // Throws std::runtime_error with openssl's own words when a certificate cannot be made.
    TestCertificates();

    // The test's certificate authority, as a PEM file and as a single DER certificate.
    std::filesystem::path authority() const { return dir_ / "authority.pem"; }
    std::filesystem::path authorityDer() const { return dir_ / "authority.der"; }

    // For localhost and 127.0.0.1, issued by authority().
    Server loopback() const { return server("loopback"); }
    // For service.invalid only, issued by authority().
    Server otherName() const { return server("other-name"); }
    // For localhost and 127.0.0.1, issued by authority(), expired since yesterday.
    Server expired() const { return server("expired"); }
    // For localhost and 127.0.0.1, issued by an authority nobody trusts.
    Server untrusted() const { return server("untrusted"); }

    const TempDir& dir() const { return dir_; }

  private:
    Server server(const std::string& name) const {
        return {dir_ / (name + ".pem"), dir_ / (name + ".key")};
    }

    TempDir dir_;
};

}  // namespace ovk::test
