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

[[noreturn]] void fail(int32_t result, int32_t number, std::string message,
                       std::string source = "Init") {
    throw StepFailure{result, Error(number, std::move(message), std::move(source))};
}

std::string componentFile(std::string_view name) {
    return (files::componentDir() / name).string();
}

void requireComponentFile(const char* name, int32_t result) {
    if (!FileExistsInAppPath(name))
        fail(result, err::FileNotFound, "File " + componentFile(name) + " not found.");
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

// An Exception record a service sent instead of an answer: its ID (17 when it is not a number),
// Description and Source become the failure.
[[noreturn]] void failWithRecord(int32_t result, const xml::Node& record) {
    const std::string id = record.attribute("ID").value_or("");
    int32_t number = 17;
    try {
        std::size_t used = 0;
        const long value = std::stol(id, &used);
        if (used == id.size() && value >= INT32_MIN && value <= INT32_MAX)
            number = static_cast<int32_t>(value);
    } catch (const std::exception&) {
    }
    fail(result, number, record.attribute("Description").value_or(""),
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
        if (error.number == err::InvalidArgument && Result == -10 && error.source == "Init") {
            raiseException(17, kClientDataMissing, "INIT.GetClientData");
        } else {
            raiseException(error.number, error.description, error.source);
        }
        if (Result > 0) Result = -999;
        Init = Result;
    }
}

void Client::Impl::stepPassed(const char* step, const std::string& detail) {
    if (onStepPassed) onStepPassed(step, boundedText(detail));
}

void Client::Impl::prepareDocument(const std::string& downloadFile, int32_t& Result) {
    // 1-5: the installation and the document.
    if (!downloadFile.empty()) DownloadFile = downloadFile;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(DownloadFile, ec)) {
        fail(-1, err::FileNotFound, "File " + DownloadFile + " not found.");
    }
    requireComponentFile("NLS.XML", -2);
    requireComponentFile("TARVO_download.XSD", -3);
    requireComponentFile("MERIDO_download.XSD", -4);
    stepPassed("installation", files::componentDir().string());

    // 6: a new service client replaces the old one.
    Result = -991;
    MySoapobject = services->makeServiceClient();

    // 7: the document must be well-formed before anything else looks at it. Before even that,
    // what an interrupted download left is repaired, with the document held so that no other
    // download is in the middle of writing it.
    Result = -992;
    const auto held = holdForChecks(DownloadFile, transactions.session());
    MyXMLDocument = std::make_shared<xml::Document>();
    try {
        *MyXMLDocument = LoadDownloadDocument(DownloadFile);
    } catch (const xml::ParseError& e) {
        fail(-7, 17, e.failure.reason);
    }
    MyXMLDocument = std::make_shared<xml::Document>();
    stepPassed("well-formed", DownloadFile);

    // 8
    if (!IsGuiLanguageAvailable(GUILangID)) {
        GUILangID = kFallbackLanguage;
        // The boxes still to come speak the fallback language, their buttons included.
        services->ui->useLanguage(GUILangID);
    }

    // 9-11: project type, schema, validation.
    projectType = GetProjectType(DownloadFile);
    if (isErrorText(projectType)) fail(-5, 17, projectType);
    stepPassed("project type", projectType);
    const std::string schemaPath = BuildSchemaFileName(projectType, files::componentDir());
    if (isErrorText(schemaPath)) fail(-6, 17, schemaPath);
    stepPassed("schema", schemaPath);
    transactions.lastItemsStandIn = true;
    transactions.loadedItems = {};
    MyXMLDocument = ValidateDocument(schemaPath, DownloadFile, &transactions.loadedItems.sections);
    if (!MyXMLDocument)
        fail(-7, 17, "Error validating DownloadFile with Schema\r\n" + validationText());
    transactions.loadedItems.file = DownloadTransactions::fileIdentity(DownloadFile);
    stepPassed("valid", schemaPath);

    // 12-13: configuration.
    const ConfigInfo info = GetConfigInfos(MyXMLDocument.get());
    if (isErrorText(info[config::Url]))
        fail(-8, 57, "Failed to gather Config-Information" + info[config::Url]);
    MergeConfigInfo(info, settings);
    stepPassed("configuration", settings.projectId);

    // 14
    if (GetNlsLanguageId(settings.projectLanguage) == 0) {
        fail(-12, 21, "Language " + settings.projectLanguage + " not found.");
    }
    stepPassed("project language", settings.projectLanguage);
}

void Client::Impl::connectToService(int32_t& Result, int32_t& Init) {
    // 15
    const std::string connection =
        SetupSoapClient(*MySoapobject, settings, *services->settings, trace);
    if (asciiUpper(connection) != "OK") {
        setValidationText(connection);
        fail(-9, 17, connection);
    }

    // 16-17: client data.
    Result = -10;
    const int16_t languageNumber =
        FileExistsInAppPath("NLS.xml") ? GetNlsLanguageId(settings.projectLanguage) : 0;
    const auto clientDataList =
        MySoapobject->call("GetClientData", {std::string("6103"), GUILangID});
    if (!clientDataList) fail(-10, 17, kClientDataMissing);
    const xml::Node clientData = firstElement(*clientDataList);
    if (!clientData) fail(-10, 17, kClientDataMissing);
    if (asciiUpper(clientData.name()) == "EXCEPTION") failWithRecord(-10, clientData);

    // 18-21: a newer client.
    if (clientDataAttribute(clientData, 0) != kComponentVersion) {
        const MsgBoxAnswer answer = services->ui->msgBox(
            GetNewVersionText(std::to_string(GUILangID)), "New Version", MsgBoxButtons::OkCancel,
            MsgBoxIcon::Question, MsgBoxDefault::First);
        Result = static_cast<int32_t>(answer);
        if (answer != MsgBoxAnswer::Ok) {
            Init = 1;
            raiseDownloadCancel();
            return;
        }
        std::string installer = clientDataAttribute(clientData, 1);
        if (!isWebAddress(installer)) {
            fail(-999, err::InvalidArgument,
                 "The installer of the new client version is not at a web address (http:// or "
                 "https://), so it was not opened: " +
                     boundedText(installer, 200));
        }
        bool wait = false;
        const ShellServices shell{*services->shell, *services->platform, *services->ui};
        OpenDocApi::ShellExecAndWait(shell, installer, wait);
        raiseCancelForInstallNewClient();
        Init = -1;
        return;
    }

    // 22-23: the current client: addresses and banner. The start-up is not finished before
    // step 26, so no failure on the way may leave 0: while the client data is read, a fault is
    // the client data's (-10); once it holds a picture, a fault is the banner file's or the
    // credential check's (-11).
    Result = -10;
    bannerUrl = clientDataAttribute(clientData, 3);
    mailUrl = clientDataAttribute(clientData, 4);
    const xml::Node picture = clientData.firstChild();
    if (picture && picture.kind() == xml::NodeKind::CData) Result = -11;
    SaveBannerImage(clientData, DownloadFile);

    // 24-25: the project's credentials.
    const auto structure = MySoapobject->call(
        "getStructure", {settings.projectPassword, settings.projectId, languageNumber});
    const xml::Node structureRoot = structure ? firstElement(*structure) : xml::Node();
    if (!structureRoot || structureRoot.name() == "Exception") fail(-11, 32, kCredentialsNotFound);

    // 26: a finished start-up leaves no step code behind.
    Result = 0;
    Init = 0;
}

}  // namespace ovk
