// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/errors.hpp"
#include "wizard/list_view.hpp"
#include "xml/element_events.hpp"

namespace ovk {

class frmWiz;

// Fills the wizard's article list from a selection reply as it is read: each child of the
// reply's first node is a row, each child of a row a cell whose second attribute names its
// column and whose third holds its value. The rows go into a list aside, so that a reply which
// breaks off part-way leaves the list as it was; commit() shows them.
//
// The first failure (a cell without its attributes or not an element, an article listed
// twice) ends the filling; the rows before it are kept, and commit() hands the failure back.
// What the list may cost is bounded (Limits), so that a reply of a few hundred megabytes cannot
// exhaust the host: a reply over a bound ends the reading with Error SoapReplyTooLarge naming
// it, and the list stays as it was.
class ListReplyReader : public xml::ElementEvents {
  public:
    struct Limits {
        std::size_t maxRows = 1'000'000;
        std::size_t maxCells = 4'000'000;
        std::size_t maxText = std::size_t{256} << 20;  // bytes of all values together
    };

    explicit ListReplyReader(frmWiz& form);
    ListReplyReader(frmWiz& form, Limits limits);

    void startElement(int depth, std::span<const xml::AttributeView> attributes) override;
    void endElement(int depth) override;
    void otherNode(int depth) override;

    // Puts the rows read into the form's list (emptying it first, and saving the column widths
    // it had) and gives the failure that ended the filling, if any.
    std::optional<Error> commit();

  private:
    void begin();
    void cell(std::span<const xml::AttributeView> attributes);

    [[noreturn]] void refuse(const std::string& bound) const;

    frmWiz& form_;
    Limits limits_;
    ListView rows_;
    std::size_t cells_ = 0;
    std::size_t text_ = 0;
    bool begun_ = false;
    bool pastRoot_ = false;
    int row_ = -1;
    std::optional<Error> failure_;
};

}  // namespace ovk
