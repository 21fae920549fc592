// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "xml/document.hpp"

namespace ovk {

// The first Language element directly below a Ressources element whose ID attribute equals
// `idText`, or nothing. The ID is compared as a value, so any text is looked up safely.
inline xml::Node findResourceLanguageBlock(const xml::Document& resources,
                                           const std::string& idText) {
    for (const xml::Node& ressources : resources.elementsByName("Ressources")) {
        for (const xml::Node& language : ressources.childElements()) {
            if (language.name() == "Language" && language.attribute("ID") == idText)
                return language;
        }
    }
    return xml::Node();
}

}  // namespace ovk
