// SPDX-License-Identifier: MIT
#include "operations.hpp"

namespace ovk::refservice {

std::string_view operationName(Operation op) {
    switch (op) {
        case Operation::HelloWorld:
            return "HelloWorld";
        case Operation::GetClientData:
            return "GetClientData";
        case Operation::getStructure:
            return "getStructure";
        case Operation::GetDefaultSelect:
            return "GetDefaultSelect";
        case Operation::getTreeData:
            return "getTreeData";
        case Operation::GetSelectionData:
            return "GetSelectionData";
        case Operation::GetItemData:
            return "GetItemData";
    }
    return {};
}

std::optional<Operation> operationNamed(std::string_view name) {
    for (const Operation op : kAllOperations)
        if (operationName(op) == name) return op;
    return std::nullopt;
}

std::vector<Parameter> parametersOf(Operation op) {
    using T = ParameterType;
    const std::vector<Parameter> project{
        {"password", T::String}, {"projectId", T::String}, {"langId", T::Short}};
    auto with = [&project](Parameter last) {
        auto all = project;
        all.push_back(last);
        return all;
    };
    switch (op) {
        case Operation::HelloWorld:
            return {};
        case Operation::GetClientData:
            return {{"clientId", T::String}, {"guiLangId", T::Short}};
        case Operation::getStructure:
        case Operation::GetDefaultSelect:
            return project;
        case Operation::getTreeData:
            return with({"fieldList", T::String});
        case Operation::GetSelectionData:
            return with({"nodeKey", T::String});
        case Operation::GetItemData:
            return with({"materialId", T::String});
    }
    return {};
}

}  // namespace ovk::refservice
