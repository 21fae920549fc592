// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

#include "xml/node.hpp"

namespace ovk::xml {

// The character data an element carries, as services send it: in one or more CDATA sections,
// or as the element's plain text. Where there is a section, white space beside the sections is
// layout (an indenting writer puts it there) and is not part of the data; adjacent sections
// are joined, as a writer that has to send "]]>" splits its text over several. Without a
// section, the element's text is the data, exactly as it stands. Nothing when the element has
// no content, or an element comes before any data.
std::optional<std::string> characterData(const Node& element);

// The one node whose content is all of that data, so that a large text can be read where it
// lies; an empty Node when the data is spread over several nodes or there is none.
Node soleCharacterDataNode(const Node& element);

}  // namespace ovk::xml
