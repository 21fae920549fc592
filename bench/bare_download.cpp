// SPDX-License-Identifier: MIT
// The floor of the end-to-end download benchmark: the least a program can do to leave the same
// files as a download. It posts the same requests over one kept-alive libcurl connection and
// writes every byte once: each item's content appended to the download document beneath
// Project, each document payload decoded with the component's own Base64 codec straight into
// its file, each symbol and GER record appended to its file (a record whose first line is
// already there is not written again). Then the final document is copied once more into a new
// file renamed over it, as a rewrite that does nothing but copy would, and the file system is
// flushed. It reads replies by searching their text, not by parsing them: no real client can do
// less, so whatever a download costs beyond this program is the component's own.
//
// Usage: bare_download --endpoint URL --project ID --password P --lang N --ids FILE
//                      --document FILE [--structure]
// FILE (--ids) holds one article identifier per line; the download document (--document) must
// name its symbol and GER files beneath Project, and the files are written beside it. With
// --structure the start-up and structure calls a download makes come first (HelloWorld,
// GetClientData, getStructure, GetDefaultSelect), their replies read and dropped but for the
// banner picture, which is written as a download writes it. The wizard's tree and list calls
// are left out: a few hundred kilobytes beside the items' hundreds of megabytes.
// Prints "calls N bytes B largest L written W" (B: reply bytes; L: the largest reply; W: bytes
// written to files, the final copy included).

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "codec/base64_text.hpp"
#include "codec/encoding.hpp"
#include "soap/envelope.hpp"
#include "soap/service_description.hpp"

namespace {

namespace fs = std::filesystem;

std::size_t written = 0;

void writeAll(int fd, std::string_view bytes, const fs::path& path) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) throw std::runtime_error("cannot write " + path.string());
        bytes.remove_prefix(static_cast<std::size_t>(n));
        written += static_cast<std::size_t>(n);
    }
}

int openForWriting(const fs::path& path, int flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd < 0) throw std::runtime_error("cannot open " + path.string());
    return fd;
}

// A symbol or GER file, made at its first record: records appended through a buffer in the
// ANSI code page with CR LF line ends, each on a line of its own, and a record whose first line
// (eight characters or more) is already a line of the file, whatever its case, left out.
class RecordFile {
  public:
    RecordFile(fs::path path, bool symbols, const ovk::Encoding& encoding)
        : path_(std::move(path)), symbols_(symbols), encoding_(encoding) {}
    ~RecordFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    void append(std::string_view record) {
        std::string lines;
        std::string_view firstLine;
        bool sawLineFeed = false;
        for (std::size_t start = 0; start <= record.size();) {
            const std::size_t end = record.find('\n', start);
            std::string_view line = record.substr(
                start, end == std::string_view::npos ? std::string_view::npos : end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (end != std::string_view::npos && !sawLineFeed) {
                firstLine = line;
                sawLineFeed = true;
            }
            lines += line;
            if (end == std::string_view::npos) break;
            lines += "\r\n";
            start = end + 1;
        }
        std::vector<uint8_t> ansi;
        encoding_.Str2ByteArray(lines, ansi);
        const auto characters = std::count_if(firstLine.begin(), firstLine.end(),
                                              [](char c) { return (c & 0xC0) != 0x80; });
        if (characters >= 8) {
            std::vector<uint8_t> first;
            encoding_.Str2ByteArray(firstLine, first);
            if (seen_.contains(folded({reinterpret_cast<const char*>(first.data()), first.size()})))
                return;
        }
        const std::size_t from = buffer_.size();
        if (fd_ < 0) {
            fd_ = openForWriting(path_, O_TRUNC);
            if (symbols_) buffer_ += " \r\n";
        }
        if (!endsWithLineBreak_) buffer_ += "\r\n";
        if (symbols_) buffer_ += " \r\n";
        buffer_.append(reinterpret_cast<const char*>(ansi.data()), ansi.size());
        endsWithLineBreak_ = buffer_.back() == '\n';
        std::string_view added = std::string_view(buffer_).substr(from);
        for (std::size_t start = 0; start < added.size();) {
            const std::size_t end = std::min(added.find("\r\n", start), added.size());
            if (end - start >= 8) seen_.insert(folded(added.substr(start, end - start)));
            start = end + 2;
        }
        if (buffer_.size() >= (std::size_t{1} << 20)) flush();
    }
    void flush() {
        if (fd_ >= 0) writeAll(fd_, buffer_, path_);
        buffer_.clear();
    }

  private:
    static std::string folded(std::string_view line) {
        std::string out(line);
        std::transform(out.begin(), out.end(), out.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return out;
    }
    fs::path path_;
    bool symbols_;
    const ovk::Encoding& encoding_;
    int fd_ = -1;
    bool endsWithLineBreak_ = true;
    std::string buffer_;
    std::unordered_set<std::string> seen_;
};

// The payloads of an item, read in one pass over its text: what lies between the tags of each
// BINARY element, a section or a text at a time, into the symbol file, the GER file or the
// file a document names.
struct Payloads {
    fs::path folder;
    const ovk::Encoding& encoding;
    RecordFile symbols;
    RecordFile gers;

    void write(std::string_view item) {
        enum class Group { None, Symbols, Gers, Documents } group = Group::None;
        std::string name;
        const auto take = [&](std::string_view text) {
            if (group == Group::Symbols) symbols.append(text);
            if (group == Group::Gers) gers.append(text);
            if (group != Group::Documents || name.empty()) return;
            const fs::path path = folder / name;
            ovk::DecodeBase64Text(text, encoding, [&](const auto& decode) {
                const int fd = openForWriting(path, O_TRUNC);
                decode([&](std::string_view bytes) { writeAll(fd, bytes, path); });
                ::close(fd);
            });
            name.clear();
        };
        for (std::size_t at = item.find("<BINARY>"); at < item.size();) {
            const std::size_t open = item.find('<', at);
            if (open == std::string_view::npos) break;
            // A document's Base64 as element text: everything up to the next tag.
            if (group == Group::Documents && !name.empty() &&
                item.substr(at, open - at).find_first_not_of(" \t\r\n") != std::string_view::npos)
                take(item.substr(at, open - at));
            if (item.compare(open, 9, "<![CDATA[") == 0) {
                const std::size_t end = item.find("]]>", open + 9);
                if (end == std::string_view::npos)
                    throw std::runtime_error("a section without end");
                take(item.substr(open + 9, end - open - 9));
                at = end + 3;
                continue;
            }
            const std::size_t close = item.find('>', open);
            if (close == std::string_view::npos) break;
            const std::string_view tag = item.substr(open + 1, close - open - 1);
            at = close + 1;
            if (tag == "SYMBOLS") group = Group::Symbols;
            if (tag == "GERS") group = Group::Gers;
            if (tag == "DOCUMENTS") group = Group::Documents;
            if (tag == "/SYMBOLS" || tag == "/GERS" || tag == "/DOCUMENTS") group = Group::None;
            if (tag == "/BINARY") at = item.find("<BINARY>", at);
            if (group == Group::Documents && tag.starts_with("Document ")) {
                const auto value = tag.find("Name=\"");
                name =
                    value == std::string_view::npos
                        ? std::string()
                        : std::string(tag.substr(value + 6, tag.find('"', value + 6) - value - 6));
            }
        }
    }
};

std::size_t keep(char* data, std::size_t size, std::size_t count, void* into) {
    static_cast<std::string*>(into)->append(data, size * count);
    return size * count;
}

// The text of the first <NAME>...</NAME> of the document.
std::string elementText(const std::string& document, const std::string& name) {
    const auto start = document.find("<" + name + ">");
    if (start == std::string::npos) return {};
    const auto from = start + name.size() + 2;
    return document.substr(from, document.find('<', from) - from);
}

}  // namespace

int main(int argc, char** argv) {
    std::string endpoint, project, password, idsFile, documentFile;
    int16_t lang = 1033;
    bool structure = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--structure") {
            structure = true;
            continue;
        }
        if (i + 1 >= argc) break;
        const std::string value = argv[++i];
        if (option == "--endpoint") endpoint = value;
        if (option == "--project") project = value;
        if (option == "--password") password = value;
        if (option == "--lang") lang = static_cast<int16_t>(std::stoi(value));
        if (option == "--ids") idsFile = value;
        if (option == "--document") documentFile = value;
    }
    if (endpoint.empty() || idsFile.empty() || documentFile.empty()) {
        std::cerr << "usage: bare_download --endpoint URL --project ID --password P --lang N "
                     "--ids FILE --document FILE [--structure]\n";
        return 2;
    }
    try {
        const fs::path documentPath = documentFile;
        const fs::path folder = documentPath.parent_path();
        std::string document;
        {
            std::ifstream in(documentPath, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            document = text.str();
        }
        const auto projectEnd = document.rfind("</Project>");
        if (projectEnd == std::string::npos)
            throw std::runtime_error("the document has no Project");

        std::vector<std::string> ids;
        std::ifstream in(idsFile);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) ids.push_back(line);

        const auto description =
            ovk::soap::ServiceDescription::load(OVK_DATA_DIR "/VelmoraSvr.wsdl");
        enum class Reply { Dropped, Banner, Item };
        struct Request {
            std::string action;
            std::string body;
            Reply reply;
        };
        std::vector<Request> requests;
        const auto add = [&](const char* name, const std::vector<ovk::soap::Argument>& args,
                             Reply reply) {
            const auto* operation = description.find(name);
            if (operation == nullptr)
                throw std::runtime_error(std::string("no ") + name + " in the description");
            requests.push_back({"SOAPAction: \"" + operation->soapAction + "\"",
                                ovk::soap::buildRequestEnvelope(*operation, args), reply});
        };
        if (structure) {
            add("HelloWorld", {}, Reply::Dropped);
            add("GetClientData", {std::string("6103"), int16_t{1033}}, Reply::Banner);
            add("getStructure", {password, project, lang}, Reply::Dropped);
            add("GetDefaultSelect", {password, project, lang}, Reply::Dropped);
        }
        for (const std::string& id : ids)
            add("GetItemData", {password, project, lang, id}, Reply::Item);

        curl_global_init(CURL_GLOBAL_DEFAULT);
        CURL* easy = curl_easy_init();
        std::string reply;
        curl_easy_setopt(easy, CURLOPT_URL, endpoint.c_str());
        curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &keep);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);

        const int documentFd = openForWriting(documentPath, O_TRUNC);
        writeAll(documentFd, std::string_view(document).substr(0, projectEnd), documentPath);
        const ovk::Encoding encoding;
        Payloads payloads{folder,
                          encoding,
                          {folder / elementText(document, "Symbolfile"), true, encoding},
                          {folder / elementText(document, "Gerfile"), false, encoding}};

        std::size_t received = 0, largest = 0;
        for (const Request& request : requests) {
            reply.clear();
            curl_slist* headers =
                curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8");
            headers = curl_slist_append(headers, request.action.c_str());
            headers = curl_slist_append(headers, "Expect:");
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.c_str());
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
            const CURLcode code = curl_easy_perform(easy);
            curl_slist_free_all(headers);
            long status = 0;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
            if (code != CURLE_OK || status != 200) {
                throw std::runtime_error(std::string("call failed: ") + curl_easy_strerror(code) +
                                         " status " + std::to_string(status));
            }
            received += reply.size();
            largest = std::max(largest, reply.size());
            if (request.reply == Reply::Banner) {
                // The banner picture: the Base64 text of the client data's first section.
                // (A service that sends it as element text leaves the floor without a banner,
                // which the comparison of the files then shows.)
                const auto section = reply.find("<![CDATA[");
                const auto end = reply.find("]]>", section);
                if (end == std::string::npos) continue;
                const fs::path banner = folder / "Banner1.jpg";
                ovk::DecodeBase64Text(
                    std::string_view(reply).substr(section + 9, end - section - 9), encoding,
                    [&](const auto& decode) {
                        const int fd = openForWriting(banner, O_TRUNC);
                        decode([&](std::string_view bytes) { writeAll(fd, bytes, banner); });
                        ::close(fd);
                    });
            }
            if (request.reply != Reply::Item) continue;
            const auto root = reply.find("<root>");
            const auto rootEnd = reply.rfind("</root>");
            if (root == std::string::npos || rootEnd == std::string::npos || rootEnd < root)
                throw std::runtime_error("an item reply without its root");
            const std::string_view content =
                std::string_view(reply).substr(root + 6, rootEnd - root - 6);
            writeAll(documentFd, content, documentPath);
            payloads.write(content);
        }
        writeAll(documentFd, std::string_view(document).substr(projectEnd), documentPath);
        ::close(documentFd);
        payloads.symbols.flush();
        payloads.gers.flush();
        curl_easy_cleanup(easy);

        // The final rewrite at its cheapest: the document copied into a new file renamed over
        // it.
        const fs::path copyPath = documentPath.string() + ".new";
        {
            const int from = ::open(documentPath.c_str(), O_RDONLY | O_CLOEXEC);
            const int to = openForWriting(copyPath, O_TRUNC);
            std::vector<char> block(std::size_t{1} << 20);
            for (ssize_t n; (n = ::read(from, block.data(), block.size())) > 0;)
                writeAll(to, std::string_view(block.data(), static_cast<std::size_t>(n)), copyPath);
            ::close(from);
            ::syncfs(to);
            ::close(to);
        }
        fs::rename(copyPath, documentPath);
        std::printf("calls %zu bytes %zu largest %zu written %zu\n", requests.size(), received,
                    largest, written);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "bare_download: " << e.what() << "\n";
        return 1;
    }
}
