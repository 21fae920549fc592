// SPDX-License-Identifier: MIT
#include "platform/ini_settings_store.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/settings_names.hpp"
#include "platform/text.hpp"

namespace ovk {
namespace {

namespace fs = std::filesystem;
using std::string_view;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

string_view trimmed(string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool equalsIgnoringCase(string_view a, string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// One logical line as QSettings reads them: leading blanks skipped, a line break inside quotes
// or after a backslash does not end it, ";" outside quotes starts a comment. `equals` is the
// first "=" outside quotes, or npos.
struct IniLine {
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t equals = string_view::npos;
};

// Moves `i` past the character a backslash escapes; an escaped line break takes the other half
// of its CR LF pair with it.
void skipEscaped(string_view data, std::size_t& i) {
    if (i >= data.size()) return;
    const char escaped = data[i++];
    if (i >= data.size()) return;
    const char next = data[i];
    if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n')) ++i;
}

bool nextLine(string_view data, std::size_t& position, IniLine& line) {
    bool inQuotes = false;
    line.equals = string_view::npos;
    line.start = position;
    while (line.start < data.size() && isSpace(data[line.start])) ++line.start;
    std::size_t i = line.start;
    while (i < data.size()) {
        const char ch = data[i++];
        if (ch == '=') {
            if (!inQuotes && line.equals == string_view::npos) line.equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == line.start + 1) {
                ++line.start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            skipEscaped(data, i);
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i == line.start + 1) {
                while (i < data.size() && data[i] != '\n' && data[i] != '\r') ++i;
                while (i < data.size() && isSpace(data[i])) ++i;
                line.start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    position = i;
    line.length = i - line.start;
    return line.length > 0;
}

// A group or key name as written in the file: "\" for "/", %XX and %UXXXX escapes.
std::string unescapeKey(string_view key) {
    std::string result;
    for (std::size_t i = 0; i < key.size();) {
        const char ch = key[i];
        if (ch == '\\') {
            result += '/';
            ++i;
            continue;
        }
        if (ch != '%' || i == key.size() - 1) {
            result += ch;
            ++i;
            continue;
        }
        std::size_t first = i + 1;
        std::size_t digits = 2;
        if (key[first] == 'U') {
            ++first;
            digits = 4;
        }
        unsigned code = 0;
        bool ok = first + digits <= key.size();
        for (std::size_t d = 0; ok && d < digits; ++d) {
            const int v = hexValue(key[first + d]);
            ok = v >= 0;
            code = code * 16 + unsigned(v);
        }
        if (!ok) {
            result += '%';
            ++i;
            continue;
        }
        appendUtf8(result, code);
        i = first + digits;
    }
    return result;
}

std::string escapeKey(string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '/') {
            result += '\\';
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '_' || c == '-' || c == '.') {
            result += ch;
        } else {
            result += '%';
            result += kHex[c >> 4];
            result += kHex[c & 0x0F];
        }
    }
    return result;
}

std::string groupHeader(const std::string& group) {
    const std::string escaped = escapeKey(group);
    if (equalsIgnoringCase(escaped, "general")) return "[%General]";
    return "[" + escaped + "]";
}

// The group a "[...]" line opens, or nothing for the root group ("[General]").
std::string groupOf(string_view header) {
    const auto close = header.find(']');
    const string_view name =
        trimmed(header.substr(1, close == string_view::npos ? header.size() - 1 : close - 1));
    if (equalsIgnoringCase(name, "general")) return {};
    if (equalsIgnoringCase(name, "%general")) return std::string(name.substr(1));
    return unescapeKey(name);
}

void chopTrailingBlanks(std::string& text, std::size_t limit) {
    while (text.size() > limit && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
}

// The text of a value; `list` when unquoted commas made it several items.
struct ValueText {
    std::string text;
    bool list = false;
};

// Appends what the escape sequence after a backslash stands for, at `i` in `raw`, and moves `i`
// past it: a named one, \x or octal digits (a UTF-16 unit), or a line break the value goes on
// after. Any other character after the backslash is dropped with it.
void appendEscaped(std::string& out, string_view raw, std::size_t& i) {
    static constexpr char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                           {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                           {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    const char escaped = raw[i++];
    for (const auto& e : kEscapes) {
        if (escaped == e[0]) {
            out += e[1];
            return;
        }
    }
    if (escaped == 'x' || (escaped >= '0' && escaped <= '7')) {
        const unsigned base = escaped == 'x' ? 16 : 8;
        unsigned code = escaped == 'x' ? 0 : unsigned(escaped - '0');
        while (i < raw.size()) {
            const int v = hexValue(raw[i]);
            if (v < 0 || unsigned(v) >= base) break;
            code = code * base + unsigned(v);
            ++i;
        }
        appendUtf8(out, code & 0xFFFF);
    } else if (escaped == '\n' || escaped == '\r') {
        if (i < raw.size() && (raw[i] == '\n' || raw[i] == '\r') && raw[i] != escaped) ++i;
    }
}

ValueText unescapeValue(string_view raw) {
    ValueText value;
    std::string current;
    bool inQuotes = false;
    bool quoted = false;
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t')) ++i;
    };
    skipBlanks();
    std::size_t chopLimit = 0;
    while (i < raw.size()) {
        const char ch = raw[i];
        if (ch == '\\') {
            ++i;
            if (i >= raw.size()) break;
            appendEscaped(current, raw, i);
            chopLimit = current.size();
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipBlanks();
                chopLimit = current.size();
            }
        } else if (ch == ',' && !inQuotes) {
            if (!quoted) chopTrailingBlanks(current, chopLimit);
            value.list = true;
            current.clear();
            quoted = false;
            ++i;
            skipBlanks();
            chopLimit = 0;
        } else {
            std::size_t j = i + 1;
            while (j < raw.size() && raw[j] != '\\' && raw[j] != '"' && raw[j] != ',') ++j;
            current.append(raw.substr(i, j - i));
            i = j;
        }
    }
    if (!quoted) chopTrailingBlanks(current, chopLimit);
    value.text = value.list ? std::string() : std::move(current);
    return value;
}

// What QSettings makes of a value's text, as text: "@@" stands for a leading "@",
// "@Invalid()" for no value, Qt's binary forms are no text.
std::optional<std::string> valueText(const ValueText& value) {
    if (value.list) return std::string();
    const std::string& s = value.text;
    if (!s.starts_with('@')) return s;
    if (s.ends_with(')')) {
        if (s.starts_with("@ByteArray(")) return s.substr(11, s.size() - 12);
        if (s.starts_with("@String(")) return s.substr(8, s.size() - 9);
        if (s == "@Invalid()") return std::nullopt;
        for (const char* binary : {"@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point("}) {
            if (s.starts_with(binary)) return std::string();
        }
    }
    if (s.starts_with("@@")) return s.substr(1);
    return s;
}

std::string escapeValue(const std::string& value) {
    const std::string text = value.starts_with('@') ? "@" + value : value;
    std::string result;
    bool needsQuotes = false;
    bool escapeNextIfHex = false;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ';' || c == ',' || c == '=') needsQuotes = true;
        if (escapeNextIfHex && hexValue(ch) >= 0) {
            static constexpr char kHex[] = "0123456789abcdef";
            result += "\\x";
            if (c >= 16) result += kHex[c >> 4];
            result += kHex[c & 0x0F];
            continue;
        }
        escapeNextIfHex = false;
        switch (c) {
            case '\0':
                result += "\\0";
                escapeNextIfHex = true;
                break;
            case '\a':
                result += "\\a";
                break;
            case '\b':
                result += "\\b";
                break;
            case '\f':
                result += "\\f";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\r':
                result += "\\r";
                break;
            case '\t':
                result += "\\t";
                break;
            case '\v':
                result += "\\v";
                break;
            case '"':
            case '\\':
                result += '\\';
                result += ch;
                break;
            default:
                if (c <= 0x1F) {
                    static constexpr char kHex[] = "0123456789abcdef";
                    result += "\\x";
                    if (c >= 16) result += kHex[c >> 4];
                    result += kHex[c & 0x0F];
                    escapeNextIfHex = true;
                } else {
                    result += ch;
                }
        }
    }
    if (needsQuotes || (!result.empty() && (result.front() == ' ' || result.back() == ' ')))
        result = '"' + result + '"';
    return result;
}

// Where a key is in a file's text, and where its group ends.
struct Place {
    std::optional<IniLine> line;            // the key's last line in its group
    std::optional<std::size_t> endOfGroup;  // after the group's last line
};

Place findKey(string_view data, const std::string& group, const std::string& key) {
    Place place;
    bool inGroup = false;
    std::size_t position = 0;
    if (data.starts_with("\xEF\xBB\xBF")) position = 3;
    IniLine line;
    while (nextLine(data, position, line)) {
        const string_view text = data.substr(line.start, line.length);
        if (text.starts_with('[')) {
            inGroup = groupOf(text) == group;
            if (inGroup) place.endOfGroup = line.start + line.length;
            continue;
        }
        if (!inGroup) continue;
        place.endOfGroup = line.start + line.length;
        if (line.equals == string_view::npos) continue;
        if (unescapeKey(trimmed(data.substr(line.start, line.equals - line.start))) == key)
            place.line = line;
    }
    return place;
}

// The whole file; nothing when there is none. Throws Error when it cannot be read.
std::optional<std::string> readFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw Error(err::PermissionDenied, "Cannot read " + file.string(), "Settings");
    }
    std::string content;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            throw Error(err::PermissionDenied, "Cannot read " + file.string(), "Settings");
        }
        if (got == 0) break;
        content.append(buffer, std::size_t(got));
    }
    ::close(fd);
    return content;
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string firstLineOf(const char* path) {
    try {
        const std::string text = readFile(path).value_or(std::string());
        return text.substr(0, text.find('\n'));
    } catch (const Error&) {
        return {};
    }
}

// QSettings' lock beside the file, taken the way QLockFile takes it, so that writers of either
// kind wait for each other.
class FileLock {
  public:
    explicit FileLock(fs::path lock) : lock_(std::move(lock)) {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + seconds(10);
        for (;;) {
            const int fd = ::open(lock_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                std::string machine = firstLineOf("/etc/machine-id");
                if (machine.empty()) machine = firstLineOf("/var/lib/dbus/machine-id");
                const std::string content = std::to_string(::getpid()) + "\n" +
                                            program_invocation_short_name + "\n" + hostName() +
                                            "\n" + machine + "\n" +
                                            firstLineOf("/proc/sys/kernel/random/boot_id") + "\n";
                const ssize_t wrote = ::write(fd, content.data(), content.size());
                const int errnum = wrote < 0 ? errno : ENOSPC;  // a short write: the disk is full
                ::close(fd);
                if (wrote != ssize_t(content.size())) {
                    ::unlink(lock_.c_str());
                    throw failure(errnum);
                }
                return;
            }
            if (errno != EEXIST) throw failure(errno);
            if (isStale()) {
                ::unlink(lock_.c_str());
                continue;
            }
            if (steady_clock::now() > deadline)
                throw failure(lock_, "another program has held it for 10 seconds");
            std::this_thread::sleep_for(milliseconds(20));
        }
    }
    ~FileLock() { ::unlink(lock_.c_str()); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    // The writer names the settings file in front of this: the lock says only what is wrong
    // with itself.
    static Error failure(const fs::path& lock, const std::string& why) {
        return Error(err::PermissionDenied,
                     "its lock " + lock.string() + " cannot be taken (" + why + ")", "Settings");
    }
    Error failure(int errnum) const { return failure(lock_, std::strerror(errnum)); }

    // Its process has ended on this computer, or it is older than any writer needs.
    bool isStale() const {
        std::error_code ec;
        const auto age = fs::file_time_type::clock::now() - fs::last_write_time(lock_, ec);
        if (!ec && age > std::chrono::seconds(30)) return true;
        std::string content;
        try {
            content = readFile(lock_).value_or(std::string());
        } catch (const Error&) {
            return false;
        }
        const auto firstBreak = content.find('\n');
        const auto secondBreak = content.find('\n', firstBreak + 1);
        const auto thirdBreak = content.find('\n', secondBreak + 1);
        if (thirdBreak == std::string::npos) return false;
        const long pid = std::strtol(content.c_str(), nullptr, 10);
        const std::string host = content.substr(secondBreak + 1, thirdBreak - secondBreak - 1);
        return pid > 0 && host == hostName() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
    }

    fs::path lock_;
};

fs::path defaultFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && *config != '\0') return fs::path(config) / "ovk_client";
    const char* home = std::getenv("HOME");
    std::string base = home != nullptr ? home : "";
    if (base.empty()) {
        if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) base = user->pw_dir;
    }
    return fs::path(base) / ".config" / "ovk_client";
}

}  // namespace

IniSettingsStore::IniSettingsStore(std::optional<fs::path> folder)
    : folder_(folder ? std::move(*folder) : defaultFolder()) {}

fs::path IniSettingsStore::fileOf(const std::string& application) const {
    return folder_ / (encodeSettingsName(application) + ".ini");
}

std::optional<std::string> IniSettingsStore::read(const std::string& application,
                                                  const std::string& section,
                                                  const std::string& key) const {
    std::optional<std::string> data;
    try {
        data = readFile(fileOf(application));
    } catch (const Error&) {
        return std::nullopt;  // as QSettings: a file it cannot read holds nothing
    }
    if (!data) return std::nullopt;
    const Place place = findKey(*data, encodeSettingsName(section), encodeSettingsName(key));
    if (!place.line) return std::nullopt;
    const IniLine& line = *place.line;
    const std::size_t valueStart = line.equals + 1;
    return valueText(unescapeValue(
        string_view(*data).substr(valueStart, line.start + line.length - valueStart)));
}

void IniSettingsStore::write(const std::string& application, const std::string& section,
                             const std::string& key, const std::string& value) {
    const fs::path file = fileOf(application);
    std::error_code ec;
    fs::create_directories(folder_, ec);
    const std::string group = encodeSettingsName(section);
    const std::string name = encodeSettingsName(key);
    const std::string entry = escapeKey(name) + "=" + escapeValue(value);
    try {
        const FileLock lock(fs::path(file.string() + ".lock"));
        std::string data = readFile(file).value_or(std::string());
        const Place place = findKey(data, group, name);
        if (place.line) {
            const IniLine& line = *place.line;
            const string_view stored = string_view(data).substr(
                line.equals + 1, line.start + line.length - line.equals - 1);
            const ValueText storedText = unescapeValue(stored);
            // Callers write back what they read (a start-up does, every time); rewriting and
            // flushing the file for an unchanged value would make that their slowest step.
            if (!storedText.list && valueText(storedText) == value) return;
            data.replace(line.start, line.length, entry);
        } else if (place.endOfGroup) {
            data.insert(*place.endOfGroup, "\n" + entry);
        } else {
            if (!data.empty() && data.back() != '\n') data += '\n';
            if (!data.empty()) data += '\n';
            data += groupHeader(group) + "\n" + entry + "\n";
        }
        files::replaceFileContent(file, data);
    } catch (const Error& e) {
        throw Error(err::PermissionDenied,
                    "Cannot write the settings file " + file.string() + ": " + e.description,
                    "Settings");
    }
}

}  // namespace ovk
