// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base64.hpp"
#include "catalog.hpp"
#include "operations.hpp"
#include "reply_body.hpp"

namespace ovk::refservice {

// A request the service description does not allow (a language number that is not a signed
// 16-bit number); answered with a SOAP fault rather than an Exception element.
struct BadRequest : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Texts a test may want the service to answer differently from the catalogue.
struct AnswerOverrides {
    std::string hello = "Hello World";
    std::optional<std::string> clientVersion;
    // A tree of this shape (children per level, from the root down) for every getTreeData,
    // whatever the articles: a stand-in for a manufacturer's catalogue of millions of nodes.
    std::vector<std::size_t> treeShape;
    // With more than 0, every GetSelectionData answers this many rows of 12 cells.
    std::size_t leafRows = 0;
    // How documents, the banner and the records go out.
    Base64Layout base64;
};

// The service's answers: the content of each operation's Result element, built from the
// catalogue. Immutable once built, so one instance serves all connections at once.
class MasterData {
  public:
    MasterData(const Catalog& catalog, AnswerOverrides overrides);

    // Throws BadRequest as described above.
    ReplyBody answer(const Call& call) const;

    // The Exception element a client turns into its Exception event.
    static std::string exceptionElement(int id, std::string_view description,
                                        std::string_view source);

  private:
    ReplyBody clientData() const;
    ReplyBody structure(const Project& project, int16_t language) const;
    ReplyBody defaultSelect(const Project& project) const;
    ReplyBody tree(const Project& project, const std::string& fieldList) const;
    ReplyBody selection(const Project& project, int16_t language, const std::string& nodeKey) const;
    ReplyBody shapedTree(const Project& project, const std::string& fieldList) const;
    ReplyBody generatedRows() const;
    ReplyBody item(const Project& project, const std::string& materialId) const;

    const Catalog& catalog_;
    AnswerOverrides overrides_;
};

}  // namespace ovk::refservice
