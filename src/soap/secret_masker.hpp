// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace ovk::soap {

// Replaces every secret in a text by "***", in each form a secret takes on its way through a
// request, a reply or a URL: as it is; XML-escaped, each character raw or as any entity or
// character reference (a SOAP stack may escape ">", quotes and apostrophes or leave them);
// percent-encoded, each byte raw or as %XX, a blank also as "+"; and Base64-encoded, on its
// own or inside a longer encoded text (as in "user:password"), at any of the three positions
// it can take there. A Base64 form shorter than four characters would match by chance and is
// not looked for; such a secret is masked in its other forms.
class SecretMasker {
  public:
    void add(const std::string& secret);
    std::string masked(std::string_view text) const;
    bool empty() const { return secrets_.empty(); }

  private:
    // How many characters of `text` from `at` on are a form of a secret; 0 when none starts there.
    std::size_t secretAt(std::string_view text, std::size_t at) const;

    std::vector<std::string> secrets_;  // the longest first, so that a longer secret wins
    std::vector<std::string> base64Forms_;
    // The bytes a form of a secret can start with: most of a text is passed over at a glance.
    std::array<bool, 256> starts_{};
};

}  // namespace ovk::soap
