// SPDX-License-Identifier: MIT
#include "soap/service_description.hpp"

#include <libxml/tree.h>

#include <utility>

#include "platform/errors.hpp"
#include "xml/document.hpp"

namespace ovk::soap {

namespace {

constexpr std::string_view kWsdlNs = "http://schemas.xmlsoap.org/wsdl/";
constexpr std::string_view kSoapBindingNs = "http://schemas.xmlsoap.org/wsdl/soap/";
constexpr std::string_view kSchemaNs = "http://www.w3.org/2001/XMLSchema";
constexpr std::string_view kSoapEncodingNs = "http://schemas.xmlsoap.org/soap/encoding/";

std::string str(const xmlChar* text) {
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

std::string_view namespaceOf(const xmlNode* node) {
    if (node->ns == nullptr || node->ns->href == nullptr) return {};
    return reinterpret_cast<const char*>(node->ns->href);
}

bool is(const xmlNode* node, std::string_view ns, std::string_view localName) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && namespaceOf(node) == ns &&
           str(node->name) == localName;
}

std::vector<const xmlNode*> children(const xmlNode* parent, std::string_view ns,
                                     std::string_view localName) {
    std::vector<const xmlNode*> result;
    for (const xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (is(child, ns, localName)) result.push_back(child);
    }
    return result;
}

const xmlNode* firstChild(const xmlNode* parent, std::string_view ns, std::string_view localName) {
    for (const xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (is(child, ns, localName)) return child;
    }
    return nullptr;
}

std::optional<std::string> attribute(const xmlNode* node, const char* name) {
    xmlChar* value = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
    if (value == nullptr) return std::nullopt;
    std::string result = str(value);
    xmlFree(value);
    return result;
}

std::string attributeOr(const xmlNode* node, const char* name, std::string fallback = {}) {
    return attribute(node, name).value_or(std::move(fallback));
}

// A qualified name from an attribute value ("tns:GetItemData"), resolved against the
// namespace declarations in scope at `context`.
struct QName {
    std::string ns;
    std::string local;
};

QName resolve(const xmlNode* context, const std::string& value) {
    const auto colon = value.find(':');
    const std::string prefix = colon == std::string::npos ? std::string() : value.substr(0, colon);
    QName name{{}, colon == std::string::npos ? value : value.substr(colon + 1)};
    xmlNs* ns =
        xmlSearchNs(context->doc, const_cast<xmlNode*>(context),
                    prefix.empty() ? nullptr : reinterpret_cast<const xmlChar*>(prefix.c_str()));
    if (ns != nullptr) name.ns = str(ns->href);
    return name;
}

// Refuses the file as the service's description, saying why.
[[noreturn]] void refuseDescription(const std::string& reason) {
    throw Error(err::SoapWsdl, reason, "WSDL");
}

struct Schema {
    const xmlNode* node;
    std::string targetNamespace;
    bool qualifiedByDefault;
};

struct Part {
    std::string name;
    std::optional<QName> element;
    std::optional<QName> type;
};

}  // namespace

// Walks one description document; kept as a class so the indexes built in the first pass are
// at hand while the binding is read.
class WsdlReader {
  public:
    explicit WsdlReader(const xml::Document& doc) : root_(doc.root().raw()) {}

    ServiceDescription read() {
        if (root_ == nullptr || !is(root_, kWsdlNs, "definitions")) {
            refuseDescription(
                "The file is not a WSDL 1.1 service description (no wsdl:definitions root)");
        }
        ServiceDescription description;
        description.targetNamespace_ = attributeOr(root_, "targetNamespace");
        indexSchemas();

        const xmlNode* port = findSoapPort(description);
        const QName bindingName = resolve(port, attributeOr(port, "binding"));
        const xmlNode* binding = findNamed("binding", bindingName.local);
        if (binding == nullptr)
            refuseDescription("The binding " + bindingName.local + " is not defined");
        const xmlNode* soapBinding = firstChild(binding, kSoapBindingNs, "binding");
        if (soapBinding == nullptr)
            refuseDescription("The binding " + bindingName.local + " is not a SOAP 1.1 binding");
        const std::string defaultStyle = attributeOr(soapBinding, "style", "document");

        const QName portTypeName = resolve(binding, attributeOr(binding, "type"));
        const xmlNode* portType = findNamed("portType", portTypeName.local);
        if (portType == nullptr)
            refuseDescription("The port type " + portTypeName.local + " is not defined");

        for (const xmlNode* op : children(binding, kWsdlNs, "operation")) {
            OperationInfo info = readOperation(op, portType, defaultStyle);
            description.operations_.insert_or_assign(info.name, std::move(info));
        }
        return description;
    }

  private:
    const xmlNode* root_;
    std::vector<Schema> schemas_;

    void indexSchemas() {
        const xmlNode* types = firstChild(root_, kWsdlNs, "types");
        if (types == nullptr) return;
        for (const xmlNode* schema : children(types, kSchemaNs, "schema")) {
            schemas_.push_back(Schema{schema, attributeOr(schema, "targetNamespace"),
                                      attributeOr(schema, "elementFormDefault") == "qualified"});
        }
    }

    // The first port of the first service that has a SOAP 1.1 address: like a client created
    // with empty service and port names.
    const xmlNode* findSoapPort(ServiceDescription& description) {
        for (const xmlNode* service : children(root_, kWsdlNs, "service")) {
            for (const xmlNode* port : children(service, kWsdlNs, "port")) {
                const xmlNode* address = firstChild(port, kSoapBindingNs, "address");
                if (address == nullptr) continue;
                description.endpoint_ = attributeOr(address, "location");
                description.serviceName_ = attributeOr(service, "name");
                description.portName_ = attributeOr(port, "name");
                return port;
            }
        }
        refuseDescription("The description names no service port with a SOAP 1.1 address");
    }

    const xmlNode* findNamed(std::string_view kind, std::string_view name) const {
        for (const xmlNode* node : children(root_, kWsdlNs, kind)) {
            if (attributeOr(node, "name") == name) return node;
        }
        return nullptr;
    }

    const xmlNode* findSchemaComponent(std::string_view kind, const QName& name,
                                       const Schema** owner) const {
        for (const Schema& schema : schemas_) {
            if (schema.targetNamespace != name.ns) continue;
            for (const xmlNode* node : children(schema.node, kSchemaNs, kind)) {
                if (attributeOr(node, "name") == name.local) {
                    if (owner != nullptr) *owner = &schema;
                    return node;
                }
            }
        }
        return nullptr;
    }

    std::vector<Part> readMessage(const QName& messageName) const {
        const xmlNode* message = findNamed("message", messageName.local);
        if (message == nullptr)
            refuseDescription("The message " + messageName.local + " is not defined");
        std::vector<Part> parts;
        for (const xmlNode* part : children(message, kWsdlNs, "part")) {
            Part p;
            p.name = attributeOr(part, "name");
            if (auto element = attribute(part, "element")) p.element = resolve(part, *element);
            if (auto type = attribute(part, "type")) p.type = resolve(part, *type);
            parts.push_back(std::move(p));
        }
        return parts;
    }

    OperationInfo readOperation(const xmlNode* bindingOp, const xmlNode* portType,
                                const std::string& defaultStyle) const {
        OperationInfo info;
        info.name = attributeOr(bindingOp, "name");
        if (info.name.empty()) refuseDescription("A binding operation has no name");

        std::string style = defaultStyle;
        if (const xmlNode* soapOp = firstChild(bindingOp, kSoapBindingNs, "operation")) {
            info.soapAction = attributeOr(soapOp, "soapAction");
            style = attributeOr(soapOp, "style", style);
        }
        info.style = style == "rpc" ? BindingStyle::Rpc : BindingStyle::Document;

        const xmlNode* input = firstChild(bindingOp, kWsdlNs, "input");
        const xmlNode* body = input ? firstChild(input, kSoapBindingNs, "body") : nullptr;
        std::string bodyNamespace;
        std::optional<std::string> partsFilter;
        if (body != nullptr) {
            info.use = attributeOr(body, "use", "literal") == "encoded" ? BodyUse::Encoded
                                                                        : BodyUse::Literal;
            bodyNamespace = attributeOr(body, "namespace");
            partsFilter = attribute(body, "parts");
            if (info.use == BodyUse::Encoded) {
                info.encodingStyle =
                    attributeOr(body, "encodingStyle", std::string(kSoapEncodingNs));
            }
        }

        const xmlNode* abstractOp = nullptr;
        for (const xmlNode* op : children(portType, kWsdlNs, "operation")) {
            if (attributeOr(op, "name") == info.name) abstractOp = op;
        }
        if (abstractOp == nullptr)
            refuseDescription("The operation " + info.name + " is missing from its port type");
        const xmlNode* abstractInput = firstChild(abstractOp, kWsdlNs, "input");
        std::vector<Part> parts;
        if (abstractInput != nullptr) {
            parts = readMessage(resolve(abstractInput, attributeOr(abstractInput, "message")));
        }
        if (partsFilter) parts = keepListedParts(parts, *partsFilter);
        if (info.style == BindingStyle::Document) {
            if (const xmlNode* abstractOutput = firstChild(abstractOp, kWsdlNs, "output")) {
                info.responseWrapped = isWrappedMessage(
                    readMessage(resolve(abstractOutput, attributeOr(abstractOutput, "message"))));
            }
        }

        if (info.style == BindingStyle::Rpc) {
            // rpc: the operation's name is the wrapper, each part an unqualified accessor.
            info.wrapperName = info.name;
            info.wrapperNamespace = bodyNamespace;
            for (const Part& part : parts) info.parameters.push_back(Parameter{part.name, {}});
        } else {
            describeDocumentParts(info, parts);
        }
        refuseUnwritableNames(info);
        return info;
    }

    // A name that is not an XML name would make a malformed request; the description is at
    // fault, so only that operation becomes unusable.
    static void refuseUnwritableNames(OperationInfo& info) {
        const auto isName = [](const std::string& name) {
            return xmlValidateNCName(reinterpret_cast<const xmlChar*>(name.c_str()), 0) == 0;
        };
        if (!info.unsupportedReason.empty()) return;
        if (!info.wrapperName.empty() && !isName(info.wrapperName)) {
            info.unsupportedReason = "The request element name \"" + info.wrapperName +
                                     "\" of operation " + info.name + " is not an XML name";
        }
        for (const Parameter& parameter : info.parameters) {
            if (!isName(parameter.name)) {
                info.unsupportedReason = "The parameter name \"" + parameter.name +
                                         "\" of operation " + info.name + " is not an XML name";
            }
        }
    }

    static std::vector<Part> keepListedParts(const std::vector<Part>& parts,
                                             const std::string& list) {
        std::vector<std::string> names;
        std::size_t start = 0;
        while (start < list.size()) {
            const auto end = list.find_first_of(" \t\r\n", start);
            const std::string name =
                list.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!name.empty()) names.push_back(name);
            if (end == std::string::npos) break;
            start = end + 1;
        }
        std::vector<Part> kept;
        for (const std::string& name : names) {
            for (const Part& part : parts) {
                if (part.name == name) kept.push_back(part);
            }
        }
        return kept;
    }

    bool isWrappedMessage(const std::vector<Part>& parts) const {
        if (parts.size() != 1 || !parts[0].element) return false;
        const xmlNode* element = findSchemaComponent("element", *parts[0].element, nullptr);
        return element != nullptr && complexTypeOf(element) != nullptr;
    }

    // document/literal: one part naming an element of complex content is the wrapped
    // convention (its child elements are the parameters); anything else is sent bare, one body
    // element per part.
    void describeDocumentParts(OperationInfo& info, const std::vector<Part>& parts) const {
        if (parts.size() == 1 && parts[0].element) {
            const Schema* schema = nullptr;
            const xmlNode* element = findSchemaComponent("element", *parts[0].element, &schema);
            if (element == nullptr) {
                info.unsupportedReason = "The element " + parts[0].element->local +
                                         " of operation " + info.name +
                                         " is not defined in the types";
                return;
            }
            if (const xmlNode* complexType = complexTypeOf(element)) {
                info.wrapperName = parts[0].element->local;
                info.wrapperNamespace = parts[0].element->ns;
                readSequence(info, complexType, *schema);
                return;
            }
        }
        for (const Part& part : parts) {
            if (part.element) {
                info.parameters.push_back(Parameter{part.element->local, part.element->ns});
            } else if (part.type) {
                info.parameters.push_back(Parameter{part.name, {}});
            } else {
                info.unsupportedReason = "The part " + part.name + " of operation " + info.name +
                                         " names neither an element nor a type";
                return;
            }
        }
    }

    // The complex type of a global element, declared inline or by name; nothing for a simple one.
    const xmlNode* complexTypeOf(const xmlNode* element) const {
        if (const xmlNode* inlineType = firstChild(element, kSchemaNs, "complexType"))
            return inlineType;
        const auto typeName = attribute(element, "type");
        if (!typeName) return nullptr;
        return findSchemaComponent("complexType", resolve(element, *typeName), nullptr);
    }

    void readSequence(OperationInfo& info, const xmlNode* complexType, const Schema& schema) const {
        const xmlNode* group = nullptr;
        for (const xmlNode* child = complexType->children; child != nullptr; child = child->next) {
            if (child->type != XML_ELEMENT_NODE || namespaceOf(child) != kSchemaNs) continue;
            const std::string kind = str(child->name);
            if (kind == "sequence" || kind == "all") {
                group = child;
            } else if (kind == "attribute" || kind == "anyAttribute" || kind == "annotation") {
                continue;
            } else {
                info.unsupportedReason = "The request element of operation " + info.name +
                                         " uses xs:" + kind + ", which this client cannot fill";
                return;
            }
        }
        if (group == nullptr) return;  // an empty complex type: no parameters
        for (const xmlNode* child = group->children; child != nullptr; child = child->next) {
            if (child->type != XML_ELEMENT_NODE || namespaceOf(child) != kSchemaNs) continue;
            const std::string kind = str(child->name);
            if (kind == "annotation") continue;
            if (kind != "element") {
                info.unsupportedReason = "The request element of operation " + info.name +
                                         " holds xs:" + kind + ", which this client cannot fill";
                return;
            }
            if (auto ref = attribute(child, "ref")) {
                const QName target = resolve(child, *ref);
                info.parameters.push_back(Parameter{target.local, target.ns});
                continue;
            }
            const std::string form = attributeOr(child, "form");
            const bool qualified = form.empty() ? schema.qualifiedByDefault : form == "qualified";
            info.parameters.push_back(Parameter{
                attributeOr(child, "name"), qualified ? schema.targetNamespace : std::string()});
        }
    }
};

ServiceDescription ServiceDescription::load(const std::filesystem::path& path) {
    try {
        return WsdlReader(xml::Document::loadFile(path)).read();
    } catch (const xml::ParseError& e) {
        std::string where = path.string();
        if (e.failure.line > 0) where += " line " + std::to_string(e.failure.line);
        refuseDescription("The service description " + where +
                          " is not well-formed: " + e.failure.reason);
    } catch (const Error& e) {
        if (e.number == err::SoapWsdl) throw;
        if (e.number == err::FileNotFound)
            refuseDescription("The service description " + path.string() + " was not found");
        refuseDescription("The service description " + path.string() +
                          " cannot be read: " + e.description);
    }
}

ServiceDescription ServiceDescription::parse(std::string_view text, const std::string& name) {
    try {
        return WsdlReader(xml::Document::loadMemory(text, xml::Source::LocalFile, name)).read();
    } catch (const xml::ParseError& e) {
        refuseDescription("The service description " + name +
                          " is not well-formed: " + e.failure.reason);
    }
}

const OperationInfo* ServiceDescription::find(std::string_view operation) const {
    const auto it = operations_.find(operation);
    return it == operations_.end() ? nullptr : &it->second;
}

}  // namespace ovk::soap
