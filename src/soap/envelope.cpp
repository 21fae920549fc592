// SPDX-License-Identifier: MIT
#include "soap/envelope.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "platform/errors.hpp"
#include "platform/text.hpp"

namespace ovk::soap {

namespace {

constexpr std::string_view kEnvelopeStart =
    R"(<?xml version="1.0" encoding="utf-8"?>)"
    R"(<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/")"
    R"( xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance")"
    R"( xmlns:xsd="http://www.w3.org/2001/XMLSchema">)"
    "<soap:Body>";
constexpr std::string_view kEnvelopeEnd = "</soap:Body></soap:Envelope>";

// Decodes one UTF-8 sequence at `text[i]`; returns its length, or 0 when it is not valid UTF-8
// (overlong forms and surrogates included).
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    char32_t min;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

std::string codePoint(char32_t cp) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
    return buffer;
}

const char* xsiType(const Argument& arg) {
    return std::visit(
        [](const auto& value) -> const char* {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) return "xsd:string";
            if constexpr (std::is_same_v<T, int16_t>) return "xsd:short";
            if constexpr (std::is_same_v<T, int32_t>) return "xsd:int";
            if constexpr (std::is_same_v<T, double>) return "xsd:double";
            if constexpr (std::is_same_v<T, bool>) return "xsd:boolean";
        },
        arg);
}

// Writes the start tag of an element named `name` in namespace `ns`. The wrapper's namespace
// is bound to the prefix "m" once, on the wrapper; any other namespace is declared where it is
// used, so that an unqualified element never inherits a default namespace by accident.
void openElement(std::string& out, const std::string& name, const std::string& ns,
                 const std::string& wrapperNs, bool isWrapper) {
    out += '<';
    if (ns.empty()) {
        out += name;
    } else if (isWrapper || ns == wrapperNs) {
        out += "m:";
        out += name;
        if (isWrapper) {
            out += " xmlns:m=\"";
            appendEscaped(out, ns);
            out += '"';
        }
    } else {
        out += "p:";
        out += name;
        out += " xmlns:p=\"";
        appendEscaped(out, ns);
        out += '"';
    }
}

void closeElement(std::string& out, const std::string& name, const std::string& ns,
                  const std::string& wrapperNs, bool isWrapper) {
    out += "</";
    if (!ns.empty()) out += (isWrapper || ns == wrapperNs) ? "m:" : "p:";
    out += name;
    out += '>';
}

}  // namespace

void appendEscaped(std::string& out, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        switch (c) {
            case '&':
                out += "&amp;";
                ++i;
                continue;
            case '<':
                out += "&lt;";
                ++i;
                continue;
            case '>':
                out += "&gt;";
                ++i;
                continue;
            case '"':
                out += "&quot;";
                ++i;
                continue;
            case '\r':
                out += "&#13;";
                ++i;
                continue;
            case '\t':
                out += "&#9;";
                ++i;
                continue;
            default:
                break;
        }
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(text, i, cp);
        if (length == 0) {
            throw Error(err::SoapBadCall,
                        "The text at byte " + std::to_string(i) + " is not valid UTF-8",
                        "SoapClient");
        }
        if (!isXmlChar(cp)) {
            throw Error(err::SoapBadCall,
                        "The text holds the character " + codePoint(cp) + " at byte " +
                            std::to_string(i) + ", which XML cannot carry",
                        "SoapClient");
        }
        out.append(text.substr(i, length));
        i += length;
    }
}

std::string lexicalForm(const Argument& arg) {
    return std::visit(
        [](const auto& value) -> std::string {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return value;
            } else if constexpr (std::is_same_v<T, bool>) {
                return value ? "true" : "false";
            } else if constexpr (std::is_same_v<T, double>) {
                if (std::isnan(value)) return "NaN";
                if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
                char buffer[64];
                const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
                return std::string(buffer, result.ptr);
            } else {
                return std::to_string(value);
            }
        },
        arg);
}

std::string buildRequestEnvelope(const OperationInfo& operation,
                                 const std::vector<Argument>& args) {
    if (!operation.unsupportedReason.empty()) {
        throw Error(err::SoapBadCall, operation.unsupportedReason, "SoapClient");
    }
    if (args.size() != operation.parameters.size()) {
        throw Error(err::SoapBadCall,
                    "The operation " + operation.name + " takes " +
                        std::to_string(operation.parameters.size()) + " argument(s), not " +
                        std::to_string(args.size()),
                    "SoapClient");
    }
    const bool encoded = operation.use == BodyUse::Encoded;
    const bool wrapped = !operation.wrapperName.empty();
    const std::string& wrapperNs = operation.wrapperNamespace;

    std::string out;
    out.reserve(kEnvelopeStart.size() + kEnvelopeEnd.size() + 256);
    out += kEnvelopeStart;
    if (wrapped) {
        openElement(out, operation.wrapperName, wrapperNs, wrapperNs, true);
        if (encoded) {
            out += " soap:encodingStyle=\"";
            appendEscaped(out, operation.encodingStyle);
            out += '"';
        }
        out += '>';
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Parameter& parameter = operation.parameters[i];
        const std::string& ns = parameter.namespaceUri;
        // Without a wrapper, "m" is not bound: every bare element declares its own namespace.
        const std::string& scope = wrapped ? wrapperNs : std::string();
        openElement(out, parameter.name, ns, scope, false);
        if (encoded) {
            out += " xsi:type=\"";
            out += xsiType(args[i]);
            out += '"';
        }
        out += '>';
        try {
            appendEscaped(out, lexicalForm(args[i]));
        } catch (const Error& e) {
            throw Error(err::SoapBadCall,
                        "Argument " + std::to_string(i + 1) + " (" + parameter.name + ") of " +
                            operation.name + ": " + e.description,
                        "SoapClient");
        }
        closeElement(out, parameter.name, ns, scope, false);
    }
    if (wrapped) closeElement(out, operation.wrapperName, wrapperNs, wrapperNs, true);
    out += kEnvelopeEnd;
    return out;
}

}  // namespace ovk::soap
