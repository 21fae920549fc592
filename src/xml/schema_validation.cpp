// SPDX-License-Identifier: MIT
#include "xml/schema_validation.hpp"

#include <libxml/xmlschemas.h>

#include "xml/libxml_handles.hpp"

namespace ovk::xml {

using namespace detail;

namespace {
struct SchemaParserFree {
    void operator()(xmlSchemaParserCtxt* p) const { xmlSchemaFreeParserCtxt(p); }
};
struct SchemaFree {
    void operator()(xmlSchema* p) const { xmlSchemaFree(p); }
};
struct ValidCtxtFree {
    void operator()(xmlSchemaValidCtxt* p) const { xmlSchemaFreeValidCtxt(p); }
};
}  // namespace

Document loadValidated(const std::filesystem::path& schemaPath,
                       const std::filesystem::path& documentPath,
                       const std::function<Document(const std::filesystem::path&)>& load) {
    std::unique_ptr<xmlSchema, SchemaFree> schema;
    {
        ErrorCollector errors;
        std::unique_ptr<xmlSchemaParserCtxt, SchemaParserFree> parser(
            xmlSchemaNewParserCtxt(schemaPath.string().c_str()));
        if (parser) schema.reset(xmlSchemaParse(parser.get()));
        if (!schema) {
            const std::string reason = errors.first() ? errors.first()->reason : "unknown reason";
            throw Error(err::InvalidArgument,
                        "The schema " + schemaPath.string() + " cannot be used: " + reason);
        }
    }

    Document document = load ? load(documentPath) : Document::loadFile(documentPath);

    ErrorCollector errors;
    std::unique_ptr<xmlSchemaValidCtxt, ValidCtxtFree> validator(
        xmlSchemaNewValidCtxt(schema.get()));
    if (!validator) throw Error(err::OutOfMemory, "Out of memory");
    const int rc = xmlSchemaValidateDoc(validator.get(), document.raw());
    if (rc != 0) {
        RawError raw = errors.first().value_or(
            RawError{"The document is not valid against its schema", 0, 0, nullptr});
        throw ParseError(describe(raw, [&](long line) { return lineOfFile(documentPath, line); }));
    }
    return document;
}

}  // namespace ovk::xml
