// SPDX-License-Identifier: MIT
#include "command_line.hpp"

#include <charconv>
#include <limits>
#include <stdexcept>

namespace ovk::refservice {
namespace {

template <class Number>
Number number(const std::string& option, const std::string& text, Number low, Number high) {
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < low ||
        value > high)
        throw std::invalid_argument(option + " wants a whole number from " + std::to_string(low) +
                                    " to " + std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

}  // namespace

std::string usageText() {
    return R"(Usage:
  ovk-refservice --catalog DIR [options]     serve the catalogue in DIR (its catalog.json)
  ovk-refservice --generate N --out DIR [--seed S]
                                             write a catalogue of N articles into DIR
  ovk-refservice --help

The service listens on 127.0.0.1 only. Its first line on standard output is
  listening on http://127.0.0.1:PORT/
(https:// with --tls-cert) and it serves until SIGTERM or SIGINT. POST / takes SOAP 1.1
requests; GET /?wsdl (or /VelmoraSvr.wsdl) gives the service description with this address
in it. Its last line on standard output, when it stops, is
  most requests at once: N
the most SOAP requests it was answering at the same time.

Options when serving:
  --catalog DIR           folder holding catalog.json (or the JSON file itself)
  --port N                port to listen on; 0 (the default) takes a free one
  --latency-ms N          hold every SOAP reply back for N milliseconds
  --client-version TEXT   newest client version that GetClientData announces
  --hello TEXT            the text HelloWorld answers (default "Hello World")
  --tree-shape AxBxC      getTreeData answers a tree with A nodes below the root, B below
                          each of those, and so on (levels named Group, Maker, Type),
                          whatever the articles: 100x100x100 is 1,010,101 nodes
  --leaf-rows N           GetSelectionData answers N rows of 12 cells for any leaf
  --fault OP=KIND[@ARG][xN]  misbehave on purpose; may be given several times, the
                          first matching rule wins. OP is an operation name or * for all.
                          With @ARG only calls one of whose arguments is exactly ARG
                          (an article, a project, a node key) are affected; with xN only
                          the first N calls the rule matches. KIND:
                            http500    HTTP 500 with a plain-text body
                            http503    HTTP 503; http503:S adds Retry-After: S (seconds)
                            soapfault  HTTP 500 with a SOAP fault (soap:Server)
                            malformed  HTTP 200 with a body that is not well-formed XML
                            truncated  Content-Length larger than the body, then close;
                                       truncated:N closes after N bytes of the body
                            hang       no reply until the service stops
                            exception  an Exception element (ID 32) as the Result
                            empty      an empty Result element
                            wrongroot  the item under Root instead of root
                            plaintext  a Result holding plain text
                          Oversized replies, KIND:SIZE with SIZE in bytes or with
                          K, M or G (default 64M), sent chunked:
                            elementstream  a Result of SIZE bytes of <a/> elements
                            hugefault      HTTP 500, a fault string of SIZE bytes
                            badcdata       a CDATA section of SIZE bytes whose first
                                           character is a control character
                            gzipbomb       a Result of SIZE bytes of text, sent
                                           gzip-compressed at about 1000:1
  --tls-cert FILE         serve HTTPS with this PEM certificate (the server's first,
                          then any intermediates); needs --tls-key
  --tls-key FILE          the certificate's private key (PEM, not encrypted)
  --gzip                  compress replies for clients that accept gzip or deflate
                          (zlib level 6, with Content-Length)
  --bandwidth-kbps N      send replies over a link of N kilobits a second, shared by all
                          of them (for benchmarks of slow lines)
  --one-connection        serve one keep-alive connection at a time, as simple HTTP
                          daemons do: further connections wait until it closes
  --indent                pretty-print every reply (line breaks and indentation between
                          elements only; text and CDATA content stay as they are)
  --base64-text           send documents and the banner picture as element text, as
                          most SOAP stacks send binary data, instead of in CDATA
  --base64-lines N        break Base64 into lines of N characters joined by CR LF, as
                          MIME encoders and several SOAP stacks write it
  --spaced-cdata          put a line break and indentation before and after every CDATA
                          section, as some indenting stacks do
  --verbose               one line per request on standard error
  --parent-pid PID        stop as if by SIGTERM once process PID is no longer the
                          parent (test harnesses pass their own id, so that a crashed
                          harness leaves no service behind)

Options when generating:
  --generate N            number of articles
  --out DIR               folder to write (created when missing)
  --seed S                seed of the pseudo-random data (default 1); the same
                          seed gives the same catalogue
)";
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool generate = false;
    bool haveOut = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw std::invalid_argument(option + " needs a value");
            return args[++i];
        };
        if (option == "--help" || option == "-h") {
            line.mode = CommandLine::Mode::Help;
            return line;
        } else if (option == "--catalog") {
            line.catalog = value();
        } else if (option == "--port") {
            line.service.port = number<int>(option, value(), 0, 65535);
        } else if (option == "--latency-ms") {
            line.service.latency =
                std::chrono::milliseconds(number<int>(option, value(), 0, 3600 * 1000));
        } else if (option == "--client-version") {
            line.service.overrides.clientVersion = value();
        } else if (option == "--tree-shape") {
            const std::string& shape = value();
            line.service.overrides.treeShape.clear();
            for (std::size_t start = 0; start <= shape.size();) {
                std::size_t end = shape.find('x', start);
                if (end == std::string::npos) end = shape.size();
                line.service.overrides.treeShape.push_back(
                    number<std::size_t>(option, shape.substr(start, end - start), 1, 1'000'000));
                start = end + 1;
            }
            if (line.service.overrides.treeShape.size() > 100'000)
                throw std::invalid_argument("--tree-shape takes at most 100000 levels");
        } else if (option == "--leaf-rows") {
            line.service.overrides.leafRows = number<std::size_t>(option, value(), 0, 10'000'000);
        } else if (option == "--hello") {
            line.service.overrides.hello = value();
        } else if (option == "--fault") {
            line.service.faults.add(value());
        } else if (option == "--parent-pid") {
            line.parentPid = number<int>(option, value(), 1, std::numeric_limits<int>::max());
        } else if (option == "--tls-cert") {
            line.service.tlsCertificate = value();
        } else if (option == "--tls-key") {
            line.service.tlsKey = value();
        } else if (option == "--gzip") {
            line.service.gzip = true;
        } else if (option == "--bandwidth-kbps") {
            line.service.bandwidthKbps = number<unsigned>(option, value(), 1, 100'000'000);
        } else if (option == "--one-connection") {
            line.service.oneConnection = true;
        } else if (option == "--indent") {
            line.service.indent = true;
        } else if (option == "--base64-text") {
            line.service.overrides.base64.asText = true;
        } else if (option == "--base64-lines") {
            line.service.overrides.base64.lineLength =
                number<std::size_t>(option, value(), 1, 1'000'000);
        } else if (option == "--spaced-cdata") {
            line.service.overrides.base64.spacedSections = true;
        } else if (option == "--verbose") {
            line.service.verbose = true;
        } else if (option == "--generate") {
            generate = true;
            line.generator.articles = number<std::size_t>(option, value(), 1, 10'000'000);
        } else if (option == "--out") {
            line.generator.folder = value();
            haveOut = true;
        } else if (option == "--seed") {
            line.generator.seed = number<std::uint64_t>(option, value(), 0,
                                                        std::numeric_limits<std::uint64_t>::max());
        } else {
            throw std::invalid_argument("unknown option \"" + option + "\" (see --help)");
        }
    }
    if (line.service.tlsCertificate.empty() != line.service.tlsKey.empty())
        throw std::invalid_argument("--tls-cert and --tls-key go together");
    if (generate) {
        if (!haveOut) throw std::invalid_argument("--generate needs --out DIR");
        line.mode = CommandLine::Mode::Generate;
    } else if (line.catalog.empty()) {
        throw std::invalid_argument("--catalog DIR is required to serve (see --help)");
    }
    return line;
}

}  // namespace ovk::refservice
