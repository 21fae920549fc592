// SPDX-License-Identifier: MIT
#include "service/persistent_failure.hpp"

#include <optional>
#include <string_view>
#include <vector>

#include "document/component_texts.hpp"
#include "document/resource_items.hpp"

namespace ovk {
namespace {

// The resource file's names of the two texts, and the English kept should it lack them.
constexpr const char* kAnsweredName = "msgArticleAnsweredTimes";
constexpr const char* kAnswered =
    "Article %1 could not be fetched: the service answered %4 to %2 %3 times.";
constexpr const char* kFailedName = "msgArticleFailedTimes";
constexpr const char* kFailed =
    "Article %1 could not be fetched: %2 failed %3 times, the last time with: %4";

std::string textNamed(int16_t languageId, const char* name, const char* fallback) {
    return ResourceText(languageId, name, fallback);
}

// "%1" to "%4" replaced in one pass, so that a value holding "%2" stays as it is.
std::string filled(std::string_view text, const std::string (&values)[4]) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 1 < text.size() && text[at + 1] >= '1' && text[at + 1] <= '4') {
            out += values[text[at + 1] - '1'];
            ++at;
        } else {
            out += text[at];
        }
    }
    return out;
}

}  // namespace

Error PersistentFailure(int16_t languageId, const std::string& article,
                        const std::string& operation, int attempts, const Error& failure) {
    // A status line reads as the service's answer: "503 Service Unavailable".
    std::string_view answer = failure.description;
    const bool answered = failure.number == err::SoapHttpStatus && answer.starts_with("HTTP/");
    if (answered) answer.remove_prefix(std::min(answer.size(), answer.find(' ') + 1));
    const std::string values[4] = {article, operation, std::to_string(attempts),
                                   LocalizedText(std::string(answer), languageId)};
    const std::string text = answered ? textNamed(languageId, kAnsweredName, kAnswered)
                                      : textNamed(languageId, kFailedName, kFailed);
    return Error(failure.number, filled(text, values), failure.source);
}

}  // namespace ovk
