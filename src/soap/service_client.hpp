// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "xml/content_stream.hpp"
#include "xml/document.hpp"
#include "xml/element_events.hpp"

namespace ovk::soap {

class CallTrace;

// A positional argument of a service operation.
using Argument = std::variant<std::string, int16_t, int32_t, double, bool>;
// The value of a connector property ("EndPointURL" takes a text, "Timeout" a number).
using PropertyValue = std::variant<std::string, double>;

// Receives the content of an item as its reply arrives (see ServiceClient::callItem).
class ItemReceiver : public xml::ContentEvents {
  public:
    // The item's content begins; `keepsWhiteSpace` when xml:space="preserve" holds for it.
    virtual void begin(bool /*keepsWhiteSpace*/) {}
    // Another attempt of the call begins, or the reply turned out to be no item: what was
    // handed over before is no result.
    virtual void restart() = 0;
};

// What callItem() ended in: the item's content went to the receiver, or the nodes that
// call() returns.
struct ItemReply {
    bool streamed = false;
    std::optional<xml::NodeList> nodes;
};

// The one narrow interface through which the component talks to the master-data service:
// initialised from a service description, configured through named connector properties,
// operations called by name with positional arguments. The last fault is kept as three texts.
class ServiceClient {
  public:
    virtual ~ServiceClient() = default;

    // Reads the service description. Never throws: a missing or malformed description sets
    // the fault texts (faultCode not empty) and leaves the client unusable.
    virtual void initialize(const std::filesystem::path& wsdlPath) = 0;

    // Connector properties: "EndPointURL", "ProxyServer" ("host:port"), "AuthUser",
    // "AuthPassword" (the proxy's credentials), "CAFile" (extra trusted certificate
    // authorities), "Timeout" (milliseconds). An unknown name or a value of the wrong kind sets
    // the fault texts and throws Error.
    virtual void setProperty(std::string_view name, const PropertyValue& value) = 0;

    // The last fault; an empty code means the last call had none.
    virtual std::string faultCode() const = 0;
    virtual std::string faultString() const = 0;
    virtual std::string faultActor() const = 0;

    // Calls an operation whose reply is a text (HelloWorld). Throws Error (number from
    // err::SoapFirst up) on any failure, after setting the fault texts.
    virtual std::string callText(std::string_view operation, const std::vector<Argument>& args) = 0;

    // Calls an operation whose reply is XML: the child nodes of the operation's return element,
    // exactly as sent (CDATA, comments and attributes kept), or nothing when that element is
    // empty or absent. Throws Error (number from err::SoapFirst up) on any failure.
    virtual std::optional<xml::NodeList> call(std::string_view operation,
                                              const std::vector<Argument>& args) = 0;

    // Calls an operation whose reply is XML and hands the nodes that call() would return to
    // `events` as they are read, for replies too large to keep as a tree (a structure tree of a
    // million nodes). Returns false, having reported nothing, where call() gives nothing. The
    // same checks, faults and time-out apply; what `events` throws passes through.
    virtual bool callStreamed(std::string_view operation, const std::vector<Argument>& args,
                              xml::ElementEvents& events) {
        const auto nodes = call(operation, args);
        if (!nodes) return false;
        xml::walk(*nodes, events);
        return true;
    }

    // Calls an operation whose reply holds an item: an element named `item` first in the return
    // element (white space aside), whose content may be too large to hold in memory. That
    // content goes to `receiver` as it arrives, and the reply is checked as call() checks it
    // once it is complete. Any other reply is returned as call() returns it, with `receiver`
    // restarted. Throws as call() does; the receiver then holds no result. What `receiver`
    // throws passes through.
    // Whether callItem() reads an item as it arrives, rather than as call() does.
    virtual bool readsItemsAsTheyArrive() const { return false; }
    virtual ItemReply callItem(std::string_view operation, const std::vector<Argument>& args,
                               std::string_view /*item*/, ItemReceiver& /*receiver*/) {
        return {false, call(operation, args)};
    }

    // Announces calls that will be made in this order, so that a client able to fetch replies
    // ahead may do so. A later call with the same operation and arguments takes its reply as
    // if it had been made then: the same checks, limits, faults and time-out apply. Clients
    // that cannot fetch ahead ignore this.
    virtual void prefetch(std::string_view /*operation*/, const std::vector<Argument>& /*args*/) {}
    // Forgets every announced call and drops the replies fetched ahead for them.
    virtual void dropPrefetched() {}
    // Bounds the requests in flight at once; 1 fetches nothing ahead.
    virtual void setMaxRequestsInFlight(int /*requests*/) {}
    // How many times a call that failed on the way (the network lost it or cut its reply, or a
    // gateway or an overloaded server answered 502, 503 or 504) is made again; 0 never. Clients
    // that cannot repeat calls ignore this.
    virtual void setRetryAttempts(int /*attempts*/) {}
    // How many attempts the last call made, so that a failure that persisted can say so; 1 for
    // clients that never repeat a call.
    virtual int attemptsMade() const { return 1; }
    // Writes every attempt of every call to `trace` from now on (nothing: stops). Clients that
    // keep no trace ignore this.
    // NOLINTNEXTLINE(performance-unnecessary-value-param): a sink; clients that trace keep it
    virtual void setTrace(std::shared_ptr<CallTrace> /*trace*/) {}
};

}  // namespace ovk::soap
