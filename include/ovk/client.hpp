#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace ovk {

/// What a Client tells its host. Every method is called synchronously on the host's thread,
/// before the operation that raised it goes on; a handler that calls back into the Client runs
/// nested inside that operation. Override the ones you need; the others do nothing.
class ClientEvents {
  public:
    virtual ~ClientEvents() = default;
    /// A failure: start-up steps, service failures during the download, Test, and the
    /// wizard's debug texts (Number 0, Source "Debugger").
    virtual void Exception(int32_t /*Number*/, const std::string& /*Message*/,
                           const std::string& /*Source*/) {}
    /// The download finished and the download document holds its results.
    virtual void DownloadComplete() {}
    /// The user cancelled the wizard or declined a newer client version.
    virtual void DownloadCancel() {}
    /// The user chose to install a newer client version; its installer has been started.
    virtual void CancelForInstallNewClient() {}
    /// The user pressed F1 inside the wizard.
    virtual void HelpRequested() {}
    /// The wizard moved to step Stepnumber (0, 1 or 2).
    virtual void StepChanged(int16_t /*Stepnumber*/) {}
};

struct ClientServices;

/// The component: downloads master data from the master-data service into the host's download
/// document. Create one, set its properties, call Init with the download document, and when it
/// returned 0 call Show to run the wizard.
class Client {
  public:
    /// A client using the installed component's services: its desktop user interface, the
    /// user's settings and the desktop's way of opening files and addresses.
    Client();
    /// A client using the given services (tests, batch hosts, other user interfaces).
    explicit Client(std::shared_ptr<const ClientServices> services);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    /// Where the events go; nullptr (the default) drops them. The observer must outlive the
    /// calls that raise events.
    void setEvents(ClientEvents* observer);

    /// Shows a test message box; Yes raises DownloadComplete, anything else DownloadCancel.
    void Test(const std::string& TestString);
    /// Runs the wizard. Call it after Init returned 0; it returns when the wizard has closed.
    void Show();
    /// Checks the installation, the download document and the service. Returns 0 when all is
    /// well, 1 when the user declined a newer client, -1 when the document is missing or the
    /// installer of a newer client was started, another negative step code on failure (with an
    /// Exception event). An empty DownloadFile keeps the property's value.
    int32_t Init(const std::string& DownloadFile = {});

    /// Path of the download document.
    const std::string& DownloadFile() const;
    void DownloadFile(std::string value);
    /// Service end point; replaced by the document's URL during Init.
    const std::string& ServiceUrl() const;
    void ServiceUrl(std::string value);
    /// Proxy password; the document's value wins when it has one.
    const std::string& ProxyPassword() const;
    void ProxyPassword(std::string value);
    /// Proxy user; the document's value wins when it has one.
    const std::string& ProxyUserName() const;
    void ProxyUserName(std::string value);
    /// Proxy port; the document's value wins when it is a number.
    int32_t ProxyPort() const;
    void ProxyPort(int32_t value);
    /// Proxy host name or address; the document's value wins when it has one.
    const std::string& ProxyIP() const;
    void ProxyIP(std::string value);
    /// The last schema-validation or service-connection detail text, shared by all clients.
    const std::string& ValidationErrorCodes() const;
    /// The wizard step last reported (0 before the wizard ran).
    int16_t ActiveStepNumber() const;
    /// User-interface language identifier (1033 English, 1031 German, ...); Init sets 1033 when
    /// the component has no texts for it.
    int16_t GUILangID() const;
    void GUILangID(int16_t value);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovk
