// SPDX-License-Identifier: MIT
#pragma once

// Helpers shared by the SOAP client tests: a service description to call, reply envelopes, a
// cpp-httplib service on a free loopback port that records what it received, and a raw socket
// server for replies no well-behaved HTTP server would send.

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ovk::test {

inline constexpr const char* kTestNs = "urn:velmora:masterdata";

// Replaces the first `from` in `text`; a test that edits a fixture must find what it edits.
inline void replaceOnce(std::string& text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("fixture has no " + from);
    text.replace(at, from.size(), to);
}

// A document/literal wrapped description with the operations the tests call. A SOAP 1.2
// binding comes first so that picking the SOAP 1.1 port is exercised too.
inline std::string testWsdl(const std::string& endpoint = "http://127.0.0.1:1/") {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<wsdl:definitions xmlns:wsdl="http://schemas.xmlsoap.org/wsdl/"
    xmlns:soap="http://schemas.xmlsoap.org/wsdl/soap/"
    xmlns:soap12="http://schemas.xmlsoap.org/wsdl/soap12/"
    xmlns:s="http://www.w3.org/2001/XMLSchema" xmlns:tns="urn:velmora:masterdata"
    targetNamespace="urn:velmora:masterdata">
  <wsdl:types>
    <s:schema elementFormDefault="qualified" targetNamespace="urn:velmora:masterdata">
      <s:complexType name="AnyXml" mixed="true">
        <s:sequence><s:any processContents="skip" minOccurs="0" maxOccurs="unbounded"/></s:sequence>
      </s:complexType>
      <s:complexType name="ItemRequest">
        <s:sequence>
          <s:element name="password" type="s:string"/>
          <s:element name="projectId" type="s:string"/>
          <s:element name="langId" type="s:short"/>
          <s:element name="materialId" type="s:string"/>
        </s:sequence>
      </s:complexType>
      <s:element name="HelloWorld"><s:complexType><s:sequence/></s:complexType></s:element>
      <s:element name="HelloWorldResponse"><s:complexType><s:sequence>
        <s:element name="HelloWorldResult" type="s:string" minOccurs="0"/>
      </s:sequence></s:complexType></s:element>
      <s:element name="GetClientData"><s:complexType><s:sequence>
        <s:element name="clientId" type="s:string"/>
        <s:element name="guiLangId" type="s:short"/>
      </s:sequence></s:complexType></s:element>
      <s:element name="GetClientDataResponse"><s:complexType><s:sequence>
        <s:element name="GetClientDataResult" type="tns:AnyXml" minOccurs="0"/>
      </s:sequence></s:complexType></s:element>
      <s:element name="GetItemData" type="tns:ItemRequest"/>
      <s:element name="GetItemDataResponse"><s:complexType><s:sequence>
        <s:element name="GetItemDataResult" type="tns:AnyXml" minOccurs="0"/>
      </s:sequence></s:complexType></s:element>
    </s:schema>
  </wsdl:types>
  <wsdl:message name="HelloWorldIn"><wsdl:part name="parameters" element="tns:HelloWorld"/></wsdl:message>
  <wsdl:message name="HelloWorldOut"><wsdl:part name="parameters" element="tns:HelloWorldResponse"/></wsdl:message>
  <wsdl:message name="GetClientDataIn"><wsdl:part name="parameters" element="tns:GetClientData"/></wsdl:message>
  <wsdl:message name="GetClientDataOut"><wsdl:part name="parameters" element="tns:GetClientDataResponse"/></wsdl:message>
  <wsdl:message name="GetItemDataIn"><wsdl:part name="parameters" element="tns:GetItemData"/></wsdl:message>
  <wsdl:message name="GetItemDataOut"><wsdl:part name="parameters" element="tns:GetItemDataResponse"/></wsdl:message>
  <wsdl:portType name="SvrSoap">
    <wsdl:operation name="HelloWorld"><wsdl:input message="tns:HelloWorldIn"/><wsdl:output message="tns:HelloWorldOut"/></wsdl:operation>
    <wsdl:operation name="GetClientData"><wsdl:input message="tns:GetClientDataIn"/><wsdl:output message="tns:GetClientDataOut"/></wsdl:operation>
    <wsdl:operation name="GetItemData"><wsdl:input message="tns:GetItemDataIn"/><wsdl:output message="tns:GetItemDataOut"/></wsdl:operation>
  </wsdl:portType>
  <wsdl:binding name="SvrSoap12" type="tns:SvrSoap">
    <soap12:binding transport="http://schemas.xmlsoap.org/soap/http"/>
    <wsdl:operation name="HelloWorld"><soap12:operation soapAction="wrong12"/>
      <wsdl:input><soap12:body use="literal"/></wsdl:input><wsdl:output><soap12:body use="literal"/></wsdl:output></wsdl:operation>
  </wsdl:binding>
  <wsdl:binding name="SvrSoap" type="tns:SvrSoap">
    <soap:binding transport="http://schemas.xmlsoap.org/soap/http"/>
    <wsdl:operation name="HelloWorld"><soap:operation soapAction="urn:velmora:masterdata/HelloWorld" style="document"/>
      <wsdl:input><soap:body use="literal"/></wsdl:input><wsdl:output><soap:body use="literal"/></wsdl:output></wsdl:operation>
    <wsdl:operation name="GetClientData"><soap:operation soapAction="urn:velmora:masterdata/GetClientData" style="document"/>
      <wsdl:input><soap:body use="literal"/></wsdl:input><wsdl:output><soap:body use="literal"/></wsdl:output></wsdl:operation>
    <wsdl:operation name="GetItemData"><soap:operation soapAction="urn:velmora:masterdata/GetItemData" style="document"/>
      <wsdl:input><soap:body use="literal"/></wsdl:input><wsdl:output><soap:body use="literal"/></wsdl:output></wsdl:operation>
  </wsdl:binding>
  <wsdl:service name="Svr">
    <wsdl:port name="SvrSoap12" binding="tns:SvrSoap12"><soap12:address location="http://127.0.0.1:2/"/></wsdl:port>
    <wsdl:port name="SvrSoap" binding="tns:SvrSoap"><soap:address location=")" +
           endpoint + R"("/></wsdl:port>
  </wsdl:service>
</wsdl:definitions>
)";
}

inline std::string soapEnvelope(const std::string& bodyContent) {
    return R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body>)" +
           bodyContent + "</soap:Body></soap:Envelope>";
}

// <Op>Response/<Op>Result around `result` (the Result's content, as raw XML).
inline std::string soapResponse(const std::string& operation, const std::string& result) {
    return soapEnvelope("<" + operation + "Response xmlns=\"urn:velmora:masterdata\"><" +
                        operation + "Result>" + result + "</" + operation + "Result></" +
                        operation + "Response>");
}

inline std::string soapFault(const std::string& code, const std::string& text,
                             const std::string& actor) {
    std::string fault =
        "<soap:Fault><faultcode>" + code + "</faultcode><faultstring>" + text + "</faultstring>";
    if (!actor.empty()) fault += "<faultactor>" + actor + "</faultactor>";
    return soapEnvelope(fault + "<detail/></soap:Fault>");
}

struct RecordedRequest {
    std::string path;
    std::string body;
    std::string soapAction;
    std::string contentType;
    std::string via;
    int remotePort = 0;
    // Credentials the request carried to the service itself.
    std::string authorization;
    std::string proxyAuthorization;
};

// A SOAP service on 127.0.0.1 with a free port. Each request is recorded, then answered by the
// current handler (by default an empty HelloWorld reply).
class SoapTestServer {
  public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // Plain HTTP; with a PEM certificate and key, HTTPS.
    explicit SoapTestServer(const std::string& certificate = {}, const std::string& key = {})
        : server_(certificate.empty()
                      ? std::make_unique<httplib::Server>()
                      : std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str())),
          scheme_(certificate.empty() ? "http" : "https") {
        if (!server_->is_valid()) throw std::runtime_error("cannot serve with " + certificate);
        server_->set_tcp_nodelay(true);
        server_->set_keep_alive_max_count(1000000);
        server_->Post(
            R"(.*)", [this](const httplib::Request& request, httplib::Response& response) {
                Handler handler;
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(RecordedRequest{
                        request.path, request.body, request.get_header_value("SOAPAction"),
                        request.get_header_value("Content-Type"), request.get_header_value("Via"),
                        request.remote_port, request.get_header_value("Authorization"),
                        request.get_header_value("Proxy-Authorization")});
                    handler = handler_;
                }
                handler(request, response);
            });
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        // stop() is ignored until the accept loop runs, so do not hand out a server before that.
        while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    ~SoapTestServer() {
        release();
        server_->stop();
        thread_.join();
    }

    int port() const { return port_; }
    std::string url() const {
        return scheme_ + "://127.0.0.1:" + std::to_string(port_) + "/svc.asmx";
    }

    void answer(Handler handler) {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
    }
    // Answers every request with `body` and `status`.
    void answerWith(std::string body, int status = 200,
                    std::string contentType = "text/xml; charset=utf-8") {
        answer([body = std::move(body), status, contentType = std::move(contentType)](
                   const httplib::Request&, httplib::Response& r) {
            r.status = status;
            r.set_content(body, contentType.c_str());
        });
    }

    std::vector<RecordedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // For handlers that stall: waits until release() (or the server's end), at most `limit`.
    void stall(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        released_.wait_for(lock, limit, [this] { return isReleased_; });
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            isReleased_ = true;
        }
        released_.notify_all();
    }

  private:
    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool isReleased_ = false;
    Handler handler_ = [](const httplib::Request&, httplib::Response& r) {
        r.set_content(soapResponse("HelloWorld", "Hello World"), "text/xml; charset=utf-8");
    };
    std::vector<RecordedRequest> requests_;
};

// Accepts connections on a free loopback port and answers each request with fixed bytes, then
// closes the connection: for replies that break HTTP itself (a body shorter than announced).
// Given a script, the n-th request gets the n-th reply (the last one once the script is used
// up); kDrop closes the connection without a byte, kReset resets it, and a reply that starts
// with kResetAfter resets it after the bytes that follow; one that starts with kKeepOpen keeps the
// connection open for the next request after sending the bytes that follow; one that starts with
// kStallAfter sends the bytes that follow and then nothing for 600 ms before it closes.
class RawReplyServer {
  public:
    static constexpr const char* kDrop = "";
    static constexpr const char* kReset = "RST";
    static constexpr std::string_view kResetAfter = "RST:";
    static constexpr std::string_view kKeepOpen = "KEEP:";
    static constexpr std::string_view kStallAfter = "STALL:";

    explicit RawReplyServer(std::string reply)
        : RawReplyServer(std::vector<std::string>{std::move(reply)}) {}
    explicit RawReplyServer(std::vector<std::string> script) : script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RawReplyServer() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    // How many requests arrived whole.
    int requests() const { return requests_; }

  private:
    void serve() {
        while (!stopping_) {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            while (answer(connection)) {
            }
            ::close(connection);
        }
    }

    // Reads one request and answers it; true when the connection stays open for the next.
    bool answer(int connection) {
        // Read the request head and its announced body before answering.
        std::string request;
        char buffer[4096];
        std::size_t wanted = std::string::npos;
        while (true) {
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            request.append(buffer, static_cast<std::size_t>(n));
            const auto headEnd = request.find("\r\n\r\n");
            if (headEnd == std::string::npos) continue;
            if (wanted == std::string::npos) {
                const auto at = request.find("Content-Length:");
                wanted = headEnd + 4 +
                         (at == std::string::npos ? 0 : std::stoul(request.substr(at + 15)));
            }
            if (request.size() >= wanted) break;
        }
        const std::string& reply = script_[std::min<std::size_t>(requests_, script_.size() - 1)];
        ++requests_;
        if (reply.starts_with(kStallAfter)) {
            const std::string_view bytes = std::string_view(reply).substr(kStallAfter.size());
            ::send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            return false;
        }
        if (reply.starts_with(kKeepOpen)) {
            const std::string_view bytes = std::string_view(reply).substr(kKeepOpen.size());
            ::send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            return true;
        }
        if (reply == kReset || reply.starts_with(kResetAfter)) {
            if (reply != kReset) {
                ::send(connection, reply.data() + kResetAfter.size(),
                       reply.size() - kResetAfter.size(), MSG_NOSIGNAL);
                // The bytes leave before the reset, which would otherwise discard them.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            const linger abortive{1, 0};
            ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        } else {
            ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::shutdown(connection, SHUT_WR);
        }
        return false;
    }

    std::vector<std::string> script_;
    std::atomic<int> requests_{0};
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace ovk::test
