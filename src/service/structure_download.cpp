// SPDX-License-Identifier: MIT
// The structure download: the first request of a Finish. It empties Project of an earlier
// run's results and writes the project's search structure and default selection into the
// in-memory download document; the item download saves it with the first item.

#include <cmath>

#include "document/client_resources.hpp"
#include "platform/errors.hpp"
#include "platform/numbers.hpp"
#include "platform/text.hpp"
#include "service/download_session.hpp"
#include "service/download_transactions.hpp"
#include "service/service_records.hpp"

namespace ovk {
namespace {

// "Field" and a field number written with at least two digits (7 gives Field07, 123 gives
// Field123); a value that is not a number is appended as it is.
std::string fieldIdText(const std::string& value) {
    const std::optional<double> number = numbers::parseNumber(value);
    if (!number || !std::isfinite(*number) || std::fabs(*number) >= 1e15) return "Field" + value;
    const auto whole = static_cast<long long>(numbers::roundHalfEven(*number));
    std::string digits = std::to_string(whole < 0 ? -whole : whole);
    if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
    return std::string("Field") + (whole < 0 ? "-" : "") + digits;
}

std::string attributeAt(xml::Node element, std::size_t position) {
    std::optional<std::string> value = element.attributeAt(position);
    if (!value) {
        throw Error(err::OutOfRange, "The service's " + element.localName() +
                                         " element has no attribute at position " +
                                         std::to_string(position));
    }
    return *std::move(value);
}

xml::Node appendTextElement(xml::Document& document, xml::Node parent, std::string_view name,
                            const std::string& text) {
    xml::Node element = parent.appendChild(document.createElement(name));
    if (!text.empty()) element.appendChild(document.createText(text));
    return element;
}

// The Field element a structure descriptor of the service describes.
xml::Node fieldElement(xml::Document& document, const xml::Node& descriptor) {
    xml::Node field = document.createElement("Field");
    try {
        appendTextElement(document, field, "FieldId", fieldIdText(attributeAt(descriptor, 2)));
        appendTextElement(document, field, "Fieldname", attributeAt(descriptor, 3));
        appendTextElement(document, field, "Codenumber", attributeAt(descriptor, 5));
        appendTextElement(document, field, "Fieldtype", attributeAt(descriptor, 4));
    } catch (...) {
        // A field the descriptor could not fill never reaches the document; it must not stay
        // behind in memory either.
        field.remove();
        throw;
    }
    return field;
}

}  // namespace

void DownloadTransactions::DownloadStructure() {
    if (!MyXMLDocument) return;
    // The download holds its document until Finish is through. Refused, it must not go on:
    // this failure reaches the wizard, which stops before any item.
    download().hold(DownloadFile);
    try {
        if (!MySoapobject) throw Error(err::ObjectMissing, "Object variable not set");
        xml::Document& document = *MyXMLDocument;
        // The document is about to change in the middle: the next save writes it whole.
        download().downloadFile.reset();

        xml::Node project = document.firstElementByName("Project");
        if (!project) throw Error(err::ObjectMissing, "The download document has no Project");
        for (xml::Node child : project.childElements()) {
            const std::string name = child.localName();
            if (equalsIgnoringAsciiCase(name, "Articleinfo") ||
                equalsIgnoringAsciiCase(name, "Structure") ||
                equalsIgnoringAsciiCase(name, "SELECT")) {
                child.remove();
            }
        }
        lastItemsStandIn = false;

        xml::Node structure = document.firstElementByName("Structure");
        if (!structure) structure = project.appendChild(document.createElement("Structure"));
        const auto fields =
            MySoapobject->call("getStructure", {settings.projectPassword, settings.projectId,
                                                GetNlsLanguageId(settings.projectLanguage)});
        if (fields) {
            for (const xml::Node& descriptor : fields->first().children())
                structure.appendChild(fieldElement(document, descriptor));
        }

        xml::Node select = document.firstElementByName("Select");
        if (!select) select = project.appendChild(document.createElement("Select"));
        const auto selection =
            MySoapobject->call("GetDefaultSelect", {settings.projectPassword, settings.projectId,
                                                    GetNlsLanguageId(settings.projectLanguage)});
        if (!selection) return;
        const xml::Node first = selection->first();
        if (isExceptionRecord(first)) {
            const ServiceException record = readExceptionRecord(first);
            raiseException(record.number, record.description, record.source);
            return;
        }
        for (const xml::Node& entry : first.children())
            appendTextElement(document, select, "FieldId", fieldIdText(attributeAt(entry, 0)));
    } catch (...) {
        const Error failure = currentError();
        raiseException(failure.number, failure.description, failure.source);
    }
}

}  // namespace ovk
