// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.hpp"
#include "soap/service_client.hpp"

namespace ovk::test {

// A service client that answers from a script and records what it was asked.
class FakeServiceClient : public soap::ServiceClient {
  public:
    struct Call {
        std::string operation;
        std::vector<soap::Argument> args;
    };

    // Answers: an XML text whose root's children become the reply list ("" gives nothing).
    std::map<std::string, std::string> replies;
    std::string helloAnswer = "Hello World";
    // Set to make initialize() report a fault.
    std::string wsdlFault;
    // An operation name (or "*") that fails with this error number after setting the fault texts.
    std::map<std::string, int32_t> failures;

    std::vector<Call> calls;
    std::map<std::string, soap::PropertyValue> properties;
    std::vector<std::string> propertyOrder;
    std::filesystem::path wsdl;
    int maxRequestsInFlight = 0;  // 0: never set
    int retryAttempts = -1;       // -1: never set
    std::shared_ptr<soap::CallTrace> trace;

    void initialize(const std::filesystem::path& wsdlPath) override {
        wsdl = wsdlPath;
        if (wsdlFault.empty()) {
            setFault("", "", "");
        } else {
            setFault("WSDLReader", wsdlFault, "initialize");
        }
    }
    void setMaxRequestsInFlight(int requests) override { maxRequestsInFlight = requests; }
    void setRetryAttempts(int attempts) override { retryAttempts = attempts; }
    void setTrace(std::shared_ptr<soap::CallTrace> to) override { trace = std::move(to); }
    void setProperty(std::string_view name, const soap::PropertyValue& value) override {
        properties[std::string(name)] = value;
        propertyOrder.emplace_back(name);
    }
    std::string faultCode() const override { return code_; }
    std::string faultString() const override { return string_; }
    std::string faultActor() const override { return actor_; }

    std::string callText(std::string_view operation,
                         const std::vector<soap::Argument>& args) override {
        record(operation, args);
        return helloAnswer;
    }
    std::optional<xml::NodeList> call(std::string_view operation,
                                      const std::vector<soap::Argument>& args) override {
        record(operation, args);
        const auto it = replies.find(std::string(operation));
        if (it == replies.end() || it->second.empty()) return std::nullopt;
        auto doc = std::make_shared<const xml::Document>(xml::Document::loadMemory(it->second));
        return xml::NodeList(doc, doc->root().children());
    }

  private:
    void record(std::string_view operation, const std::vector<soap::Argument>& args) {
        calls.push_back({std::string(operation), args});
        for (const std::string& key : {std::string(operation), std::string("*")}) {
            if (const auto f = failures.find(key); f != failures.end()) {
                setFault("Server", "fault of " + std::string(operation), "fake");
                throw Error(f->second, "failure of " + std::string(operation));
            }
        }
        setFault("", "", "");
    }
    void setFault(std::string code, std::string text, std::string actor) {
        code_ = std::move(code);
        string_ = std::move(text);
        actor_ = std::move(actor);
    }
    std::string code_, string_, actor_;
};

}  // namespace ovk::test
