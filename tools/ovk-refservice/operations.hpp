// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovk::refservice {

// The seven operations of the service description, in its order.
enum class Operation {
    HelloWorld,
    GetClientData,
    getStructure,
    GetDefaultSelect,
    getTreeData,
    GetSelectionData,
    GetItemData
};

inline constexpr std::array kAllOperations{
    Operation::HelloWorld,       Operation::GetClientData, Operation::getStructure,
    Operation::GetDefaultSelect, Operation::getTreeData,   Operation::GetSelectionData,
    Operation::GetItemData,
};

enum class ParameterType { String, Short };

struct Parameter {
    std::string_view name;
    ParameterType type;
};

std::string_view operationName(Operation op);
// Exact, case-sensitive: the service description spells each name one way.
std::optional<Operation> operationNamed(std::string_view name);
// The children of the request wrapper element, in order.
std::vector<Parameter> parametersOf(Operation op);

// A request reduced to what the operations need: the operation and its arguments in the
// order of parametersOf (an argument the request left out is an empty text).
struct Call {
    Operation operation = Operation::HelloWorld;
    std::vector<std::string> arguments;
};

}  // namespace ovk::refservice
