// SPDX-License-Identifier: MIT
// The start-up sequence behind Client::Init, run inside the splash form's InitializeEnvironment
// event. Each step leaves a code in Result when it fails; the sequence reports exactly one
// Exception for the first failure and never undoes what earlier steps stored.

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>

#include "component/client_impl.hpp"
#include "component/soap_setup.hpp"
#include "document/client_resources.hpp"
#include "document/download_document.hpp"
#include "document/validation_text.hpp"
#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/text.hpp"
#include "service/download_session.hpp"
#include "util/open_doc_api.hpp"

namespace ovk {
namespace {

constexpr const char* kComponentVersion = OVK_VERSION_TEXT;  // major.minor.revision
constexpr const char* kCredentialsNotFound =
    "Combination of ProjectID,Password and LangID not found";
constexpr const char* kClientDataMissing = "Failed to get Client-Information and Ressources";

// The document held for Init's checks, once what an interrupted download left is repaired. A
// document in a folder we cannot write is checked all the same, unheld: there is nothing to
// repair there and this run cannot write it either. A download of this Client that already
// holds it goes on holding it; another download holding it refuses the start-up. A download of
// this Client on another document (one that failed and was never cancelled) is over: a host
// that starts the Client on another document must not keep the old one from other downloads.
std::unique_ptr<DocumentStore> holdForChecks(const std::string& path, DownloadSession* session) {
    if (session != nullptr && session->holds(path)) return nullptr;
    if (session != nullptr) session->release();
    try {
        return std::make_unique<DocumentStore>(path);
    } catch (const DocumentInUse&) {
        throw;
    } catch (const Error&) {
        return nullptr;
    }
}

// A step that failed: the code it leaves in Result, and the error it reports. Its source is
// "Init" unless the failure is a record the service sent, which names its own.
struct StepFailure {
    int32_t result;
    Error error;
};

[[noreturn]] void abortInit(int32_t result, int32_t number, std::string message,
                            std::string source = "Init") {
    throw StepFailure{result, Error(number, std::move(message), std::move(source))};
}

std::string componentFile(std::string_view name) {
    return (files::componentDir() / name).string();
}

void requireComponentFile(const char* name, int32_t result) {
    if (!FileExistsInAppPath(name))
        abortInit(result, err::FileNotFound, "File " + componentFile(name) + " not found.");
}

// The attribute at `position` of the client data; a missing one is the host platform's
// "object variable not set".
std::string clientDataAttribute(const xml::Node& clientData, std::size_t position) {
    auto value = clientData.attributeAt(position);
    if (!value)
        throw Error(err::ObjectMissing,
                    "The client data has no attribute " + std::to_string(position));
    return *value;
}

// An Exception record a service sent instead of an answer: its ID (CannotPerform when it is not
// a number), Description and Source become the failure.
[[noreturn]] void abortInitWithRecord(int32_t result, const xml::Node& record) {
    const std::string id = record.attribute("ID").value_or("");
    int32_t number = err::CannotPerform;
    try {
        std::size_t used = 0;
        const long value = std::stol(id, &used);
        if (used == id.size() && value >= INT32_MIN && value <= INT32_MAX)
            number = static_cast<int32_t>(value);
    } catch (const std::exception&) {
    }
    abortInit(result, number, record.attribute("Description").value_or(""),
              record.attribute("Source").value_or(""));
}

// Only a web address is handed to the shell as the installer of a newer client: a service
// must not be able to make the host open a local program or file.
bool isWebAddress(std::string_view location) {
    const bool http = startsWithIgnoringAsciiCase(location, "http://");
    const bool https = startsWithIgnoringAsciiCase(location, "https://");
    if (!http && !https) return false;
    const std::string_view rest = location.substr(http ? 7 : 8);
    return !rest.empty() && rest.front() != '/' &&
           std::none_of(location.begin(), location.end(), [](char c) {
               const auto u = static_cast<unsigned char>(c);
               return u <= 0x20 || u == 0x7F;
           });
}

// The first element of a reply list, or nothing when it holds only text.
xml::Node firstElement(const xml::NodeList& list) {
    for (const xml::Node& node : list) {
        if (node.isElement()) return node;
    }
    return xml::Node();
}

}  // namespace

void Client::Impl::InitializeEnvironment(const std::string& downloadFile, int32_t& Result,
                                         int32_t& Init) {
    runReported(Result, Init, [&] {
        prepareDocument(downloadFile, Result);
        connectToService(Result, Init);
    });
}

int32_t Client::Impl::CheckOffline(const std::string& downloadFile) {
    int32_t Result = 0;
    int32_t Init = 0;
    runReported(Result, Init, [&] { prepareDocument(downloadFile, Result); });
    return Init;
}

void Client::Impl::runReported(int32_t& Result, int32_t& Init, const std::function<void()>& steps) {
    try {
        steps();
    } catch (...) {
        Error error;
        try {
            throw;
        } catch (const StepFailure& failure) {
            Result = failure.result;
            error = failure.error;
        } catch (...) {
            error = currentError();
            error.source = "Init";
        }
        if (error.number == err::InvalidArgument && Result == init::ReadingClientData &&
            error.source == "Init") {
            raiseException(err::CannotPerform, kClientDataMissing, "INIT.GetClientData");
        } else {
            raiseException(error.number, error.description, error.source);
        }
        // A positive Result is the user's answer to the new version's question.
        if (Result > 0) Result = init::AfterNewVersionAccepted;
        Init = Result;
    }
}

void Client::Impl::stepPassed(const char* step, const std::string& detail) {
    if (onStepPassed) onStepPassed(step, boundedText(detail));
}

void Client::Impl::prepareDocument(const std::string& downloadFile, int32_t& Result) {
    // The document and the installation.
    if (!downloadFile.empty()) DownloadFile = downloadFile;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(DownloadFile, ec)) {
        abortInit(init::DocumentMissing, err::FileNotFound, "File " + DownloadFile + " not found.");
    }
    requireComponentFile("NLS.XML", init::LanguageFileMissing);
    requireComponentFile("TARVO_download.XSD", init::TarvoSchemaMissing);
    requireComponentFile("MERIDO_download.XSD", init::MeridoSchemaMissing);
    stepPassed("installation", files::componentDir().string());

    // A new service client replaces the old one.
    Result = init::MakingServiceClient;
    MySoapobject = services->makeServiceClient();

    // The document must be well-formed before anything else looks at it. Before even that,
    // what an interrupted download left is repaired, with the document held so that no other
    // download is in the middle of writing it.
    Result = init::CheckingDocument;
    const auto held = holdForChecks(DownloadFile, transactions.session());
    MyXMLDocument = std::make_shared<xml::Document>();
    try {
        *MyXMLDocument = LoadDownloadDocument(DownloadFile);
    } catch (const xml::ParseError& e) {
        abortInit(init::DocumentInvalid, err::CannotPerform, e.failure.reason);
    }
    MyXMLDocument = std::make_shared<xml::Document>();
    stepPassed("well-formed", DownloadFile);

    // The windows' language: one the resource file lacks gives way to the fallback.
    if (!IsGuiLanguageAvailable(GUILangID)) {
        GUILangID = kFallbackLanguage;
        // The boxes still to come speak the fallback language, their buttons included.
        services->ui->useLanguage(GUILangID);
    }

    // Project type, schema, validation.
    projectType = GetProjectType(DownloadFile);
    if (isErrorText(projectType))
        abortInit(init::UnknownProjectType, err::CannotPerform, projectType);
    stepPassed("project type", projectType);
    const std::string schemaPath = BuildSchemaFileName(projectType, files::componentDir());
    if (isErrorText(schemaPath)) abortInit(init::NoSchemaForType, err::CannotPerform, schemaPath);
    stepPassed("schema", schemaPath);
    transactions.lastItemsStandIn = true;
    transactions.loadedItems = {};
    MyXMLDocument = ValidateDocument(schemaPath, DownloadFile, &transactions.loadedItems.sections);
    if (!MyXMLDocument)
        abortInit(init::DocumentInvalid, err::CannotPerform,
                  "Error validating DownloadFile with Schema\r\n" + validationText());
    transactions.loadedItems.file = DownloadTransactions::fileIdentity(DownloadFile);
    stepPassed("valid", schemaPath);

    // The connection settings.
    const ConfigInfo info = GetConfigInfos(MyXMLDocument.get());
    if (isErrorText(info[config::Url]))
        abortInit(init::NoConfiguration, err::DeviceIo,
                  "Failed to gather Config-Information" + info[config::Url]);
    MergeConfigInfo(info, settings);
    stepPassed("configuration", settings.projectId);

    // The project's language, which the service is asked in.
    if (GetNlsLanguageId(settings.projectLanguage) == 0) {
        abortInit(init::ProjectLanguageUnknown, err::LanguageNotFound,
                  "Language " + settings.projectLanguage + " not found.");
    }
    stepPassed("project language", settings.projectLanguage);
}

void Client::Impl::connectToService(int32_t& Result, int32_t& Init) {
    // The service client's connection.
    const std::string connection =
        SetupSoapClient(*MySoapobject, settings, *services->settings, trace);
    if (asciiUpper(connection) != "OK") {
        setValidationText(connection);
        abortInit(init::ServiceSetupFailed, err::CannotPerform, connection);
    }

    // The client data.
    Result = init::ReadingClientData;
    const int16_t languageNumber =
        FileExistsInAppPath("NLS.xml") ? GetNlsLanguageId(settings.projectLanguage) : 0;
    const auto clientDataList =
        MySoapobject->call("GetClientData", {std::string("6103"), GUILangID});
    if (!clientDataList) abortInit(init::ReadingClientData, err::CannotPerform, kClientDataMissing);
    const xml::Node clientData = firstElement(*clientDataList);
    if (!clientData) abortInit(init::ReadingClientData, err::CannotPerform, kClientDataMissing);
    if (asciiUpper(clientData.name()) == "EXCEPTION")
        abortInitWithRecord(init::ReadingClientData, clientData);

    // A newer client: the user may install it instead.
    if (clientDataAttribute(clientData, 0) != kComponentVersion) {
        const MsgBoxAnswer answer = services->ui->msgBox(
            GetNewVersionText(std::to_string(GUILangID)), "New Version", MsgBoxButtons::OkCancel,
            MsgBoxIcon::Question, MsgBoxDefault::First);
        Result = static_cast<int32_t>(answer);
        if (answer != MsgBoxAnswer::Ok) {
            Init = init::NewVersionDeclined;
            raiseDownloadCancel();
            return;
        }
        std::string installer = clientDataAttribute(clientData, 1);
        if (!isWebAddress(installer)) {
            abortInit(init::AfterNewVersionAccepted, err::InvalidArgument,
                      "The installer of the new client version is not at a web address (http:// "
                      "or https://), so it was not opened: " +
                          boundedText(installer, 200));
        }
        bool wait = false;
        const ShellServices shell{*services->shell, *services->platform, *services->ui};
        OpenDocApi::ShellExecAndWait(shell, installer, wait);
        raiseCancelForInstallNewClient();
        Init = init::InstallerStarted;
        return;
    }

    // The current client: addresses and banner. The start-up is not finished before the
    // credentials are checked, so no failure on the way may leave Ready: while the client data
    // is read, a fault is the client data's; once it holds a picture, a fault is the banner
    // file's or the credential check's.
    Result = init::ReadingClientData;
    bannerUrl = clientDataAttribute(clientData, 3);
    mailUrl = clientDataAttribute(clientData, 4);
    const xml::Node picture = clientData.firstChild();
    if (picture && picture.kind() == xml::NodeKind::CData) Result = init::CheckingCredentials;
    SaveBannerImage(clientData, DownloadFile);

    // The project's credentials.
    const auto structure = MySoapobject->call(
        "getStructure", {settings.projectPassword, settings.projectId, languageNumber});
    const xml::Node structureRoot = structure ? firstElement(*structure) : xml::Node();
    if (!structureRoot || structureRoot.name() == "Exception")
        abortInit(init::CheckingCredentials, err::CredentialsNotFound, kCredentialsNotFound);

    // A finished start-up leaves no step code behind.
    Result = init::Ready;
    Init = init::Ready;
}

}  // namespace ovk
