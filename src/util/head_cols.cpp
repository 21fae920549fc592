// SPDX-License-Identifier: MIT
#include "ovk/head_cols.hpp"

#include "util/ordered_keyed_collection.hpp"

namespace ovk {

class HeadCol::Private {
  public:
    double colWidth = 0;
    TaggedValue myIndexKey;
};

HeadCol::HeadCol() : d(std::make_unique<Private>()) {}
HeadCol::~HeadCol() = default;

void HeadCol::setColWidth(double width) {
    d->colWidth = width;
}
double HeadCol::ColWidth() const {
    return d->colWidth;
}
void HeadCol::setMyIndexKey(TaggedValue key) {
    d->myIndexKey = std::move(key);
}
const HeadCol::TaggedValue& HeadCol::MyIndexKey() const {
    return d->myIndexKey;
}

class HeadCols::Private {
  public:
    OrderedKeyedCollection<HeadCol> members;
};

HeadCols::HeadCols() : d(std::make_unique<Private>()) {}
HeadCols::~HeadCols() = default;

std::shared_ptr<HeadCol> HeadCols::Add(double ColWidth, std::string_view sKey) {
    auto column = std::make_shared<HeadCol>();
    column->setColWidth(ColWidth);
    if (!sKey.empty()) column->setMyIndexKey(std::string(sKey));
    d->members.add(column, sKey);
    return column;
}

std::shared_ptr<HeadCol> HeadCols::Item(int32_t position) const {
    return d->members.item(position);
}
std::shared_ptr<HeadCol> HeadCols::Item(std::string_view key) const {
    return d->members.item(key);
}
int32_t HeadCols::Count() const {
    return static_cast<int32_t>(d->members.size());
}
void HeadCols::Remove(int32_t position) {
    d->members.remove(position);
}
void HeadCols::Remove(std::string_view key) {
    d->members.remove(key);
}

std::vector<std::shared_ptr<HeadCol>> HeadCols::NewEnum() const {
    return {d->members.begin(), d->members.end()};
}

// Clear empties the collection: a caller that clears the widths must not meet them again.
void HeadCols::Clear() {
    d->members.clear();
}

}  // namespace ovk
