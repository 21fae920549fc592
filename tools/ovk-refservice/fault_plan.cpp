// SPDX-License-Identifier: MIT
#include "fault_plan.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace ovk::refservice {
namespace {

constexpr std::array kKinds{FaultKind::Http500,   FaultKind::Http503,       FaultKind::SoapFault,
                            FaultKind::Malformed, FaultKind::Truncated,     FaultKind::Hang,
                            FaultKind::Exception, FaultKind::Empty,         FaultKind::WrongRoot,
                            FaultKind::PlainText, FaultKind::ElementStream, FaultKind::HugeFault,
                            FaultKind::BadCdata,  FaultKind::GzipBomb};

constexpr std::uint64_t kDefaultOversize = std::uint64_t{64} << 20;

bool isOversized(FaultKind kind) {
    return kind == FaultKind::ElementStream || kind == FaultKind::HugeFault ||
           kind == FaultKind::BadCdata || kind == FaultKind::GzipBomb;
}

// "4096", "16K", "512M", "1G".
std::uint64_t parseSize(std::string_view text) {
    std::uint64_t unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
            case 'K':
            case 'k':
                unit = 1 << 10;
                break;
            case 'M':
            case 'm':
                unit = 1 << 20;
                break;
            case 'G':
            case 'g':
                unit = 1 << 30;
                break;
            default:
                break;
        }
        if (unit != 1) text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw std::invalid_argument("--fault: the size \"" + std::string(text) +
                                    "\" is not a number of bytes (with K, M or G)");
    return std::stoull(std::string(text)) * unit;
}

}  // namespace

std::string_view faultKindName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Http500:
            return "http500";
        case FaultKind::Http503:
            return "http503";
        case FaultKind::SoapFault:
            return "soapfault";
        case FaultKind::Malformed:
            return "malformed";
        case FaultKind::Truncated:
            return "truncated";
        case FaultKind::Hang:
            return "hang";
        case FaultKind::Exception:
            return "exception";
        case FaultKind::Empty:
            return "empty";
        case FaultKind::WrongRoot:
            return "wrongroot";
        case FaultKind::PlainText:
            return "plaintext";
        case FaultKind::ElementStream:
            return "elementstream";
        case FaultKind::HugeFault:
            return "hugefault";
        case FaultKind::BadCdata:
            return "badcdata";
        case FaultKind::GzipBomb:
            return "gzipbomb";
    }
    return {};
}

FaultPlan::FaultPlan(const FaultPlan& other) : rules_(other.rules_) {}

FaultPlan& FaultPlan::operator=(const FaultPlan& other) {
    if (this != &other) rules_ = other.rules_;
    return *this;
}

void FaultPlan::add(std::string_view text) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos)
        throw std::invalid_argument("--fault wants OP=KIND or OP=KIND@ARG, not \"" +
                                    std::string(text) + "\"");
    const std::string_view op = text.substr(0, equals);
    std::string_view kind = text.substr(equals + 1);

    Rule rule;
    // A trailing xN counts the calls that misbehave.
    if (const auto x = kind.rfind('x'); x != std::string_view::npos && x + 1 < kind.size() &&
                                        std::all_of(kind.begin() + x + 1, kind.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; })) {
        const std::string_view count = kind.substr(x + 1);
        if (count.size() > 9)
            throw std::invalid_argument("--fault: the count x" + std::string(count) +
                                        " is too large");
        rule.times = std::stoull(std::string(count));
        kind = kind.substr(0, x);
    }
    const auto at = kind.find('@');
    if (at != std::string_view::npos) {
        rule.argument = std::string(kind.substr(at + 1));
        kind = kind.substr(0, at);
    }
    std::optional<std::string_view> size;
    if (const auto colon = kind.find(':'); colon != std::string_view::npos) {
        size = kind.substr(colon + 1);
        kind = kind.substr(0, colon);
    }
    if (op != "*") {
        rule.operation = operationNamed(op);
        if (!rule.operation)
            throw std::invalid_argument("--fault: unknown operation \"" + std::string(op) + "\"");
    }
    const auto found = std::find_if(kKinds.begin(), kKinds.end(),
                                    [&](FaultKind k) { return faultKindName(k) == kind; });
    if (found == kKinds.end())
        throw std::invalid_argument(
            "--fault: unknown kind \"" + std::string(kind) +
            "\" (http500, http503, soapfault, malformed, truncated, hang, exception, empty, "
            "wrongroot, plaintext, elementstream, hugefault, badcdata, gzipbomb)");
    rule.kind = *found;
    if (size && rule.kind == FaultKind::Http503) {
        if (size->empty() || size->size() > 6 ||
            !std::all_of(size->begin(), size->end(), [](char c) { return c >= '0' && c <= '9'; }))
            throw std::invalid_argument(
                "--fault: http503 takes the seconds of its Retry-After, "
                "not \"" +
                std::string(*size) + "\"");
        rule.retryAfter = std::stoull(std::string(*size));
        size.reset();
    }
    if (size && !isOversized(rule.kind) && rule.kind != FaultKind::Truncated)
        throw std::invalid_argument(
            "--fault: only elementstream, hugefault, badcdata, gzipbomb and truncated take a "
            "size");
    // A truncated reply stops at half its length unless a byte count says where.
    const std::uint64_t sizeByDefault = rule.kind == FaultKind::Truncated ? 0 : kDefaultOversize;
    rule.size = size ? parseSize(*size) : sizeByDefault;
    if (rule.kind == FaultKind::Exception && rule.operation == Operation::HelloWorld)
        throw std::invalid_argument(
            "--fault: HelloWorld answers a text and cannot carry an Exception element");
    rules_.push_back(std::move(rule));
}

std::optional<FaultKind> FaultPlan::faultFor(const Call& call) const {
    const auto fault = matchingFault(call);
    if (!fault) return std::nullopt;
    return fault->kind;
}

std::optional<Fault> FaultPlan::matchingFault(const Call& call) const {
    std::lock_guard lock(mutex_);
    for (const Rule& rule : rules_) {
        if (rule.operation && *rule.operation != call.operation) continue;
        // "*=exception" leaves HelloWorld alone: its answer is a text.
        if (!rule.operation && rule.kind == FaultKind::Exception &&
            call.operation == Operation::HelloWorld)
            continue;
        if (rule.argument && std::find(call.arguments.begin(), call.arguments.end(),
                                       *rule.argument) == call.arguments.end())
            continue;
        if (rule.times) {
            if (rule.used >= *rule.times) continue;
            ++rule.used;
        }
        return Fault{rule.kind, rule.size, rule.retryAfter};
    }
    return std::nullopt;
}

}  // namespace ovk::refservice
