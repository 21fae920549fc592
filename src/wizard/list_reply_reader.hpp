#pragma once

#include <optional>

#include "platform/errors.hpp"
#include "platform/xml/element_events.hpp"
#include "wizard/list_view.hpp"

namespace ovk {

class frmWiz;

// Fills the wizard's article list from a selection reply as it is read: each child of the
// reply's first node is a row, each child of a row a cell whose second attribute names its
// column and whose third holds its value. The rows go into a list aside, so that a reply which
// breaks off part-way leaves the list as it was; commit() shows them.
//
// The first failure (a cell without its attributes or not an element, an article listed
// twice) ends the filling; the rows before it are kept, and commit() hands the failure back.
class ListReplyReader : public xml::ElementEvents {
  public:
    explicit ListReplyReader(frmWiz& form);

    void startElement(int depth, std::span<const xml::AttributeView> attributes) override;
    void endElement(int depth) override;
    void otherNode(int depth) override;

    // Puts the rows read into the form's list (emptying it first, and saving the column widths
    // it had) and gives the failure that ended the filling, if any.
    std::optional<Error> commit();

  private:
    void begin();
    void cell(std::span<const xml::AttributeView> attributes);

    frmWiz& form_;
    ListView rows_;
    bool begun_ = false;
    bool pastRoot_ = false;
    int row_ = -1;
    std::optional<Error> failure_;
};

}  // namespace ovk
