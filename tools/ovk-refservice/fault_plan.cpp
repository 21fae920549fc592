#include "fault_plan.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace ovk::refservice {
namespace {

constexpr std::array kKinds{FaultKind::Http500,   FaultKind::SoapFault, FaultKind::Malformed,
                            FaultKind::Truncated, FaultKind::Hang,      FaultKind::Exception,
                            FaultKind::Empty};

}  // namespace

std::string_view faultKindName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Http500:
            return "http500";
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
    }
    return {};
}

void FaultPlan::add(std::string_view text) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos)
        throw std::invalid_argument("--fault wants OP=KIND or OP=KIND@ARG, not \"" +
                                    std::string(text) + "\"");
    const std::string_view op = text.substr(0, equals);
    std::string_view kind = text.substr(equals + 1);

    Rule rule;
    const auto at = kind.find('@');
    if (at != std::string_view::npos) {
        rule.argument = std::string(kind.substr(at + 1));
        kind = kind.substr(0, at);
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
            "\" (http500, soapfault, malformed, truncated, hang, exception, empty)");
    rule.kind = *found;
    if (rule.kind == FaultKind::Exception && rule.operation == Operation::HelloWorld)
        throw std::invalid_argument(
            "--fault: HelloWorld answers a text and cannot carry an Exception element");
    rules_.push_back(std::move(rule));
}

std::optional<FaultKind> FaultPlan::faultFor(const Call& call) const {
    for (const Rule& rule : rules_) {
        if (rule.operation && *rule.operation != call.operation) continue;
        // "*=exception" leaves HelloWorld alone: its answer is a text.
        if (!rule.operation && rule.kind == FaultKind::Exception &&
            call.operation == Operation::HelloWorld)
            continue;
        if (rule.argument && std::find(call.arguments.begin(), call.arguments.end(),
                                       *rule.argument) == call.arguments.end())
            continue;
        return rule.kind;
    }
    return std::nullopt;
}

}  // namespace ovk::refservice
