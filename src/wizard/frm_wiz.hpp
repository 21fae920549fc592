#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/soap/service_client.hpp"
#include "platform/user_interface.hpp"
#include "platform/xml/document.hpp"

namespace ovk {

// What the wizard raises into its owner, in this order.
class WizardEvents {
  public:
    virtual ~WizardEvents() = default;
    virtual void Finish() = 0;
    virtual void Cancel() = 0;
    virtual void Help() = 0;
    virtual void DownloadItem(const std::string& MaterialId) = 0;
    virtual void DownloadStructure() = 0;
    virtual void NewStepNum(int16_t Stepnumber) = 0;
    virtual void DebugInfo(const std::string& Info) = 0;
};

// The three-step download wizard. Its input fields are set by the owner before it is shown.
class frmWiz : public Form {
  public:
    frmWiz(UserInterface& ui, WizardEvents& events) : ui_(ui), events_(events) {}

    std::string_view formName() const override { return "frmWiz"; }

    // Input fields.
    std::shared_ptr<soap::ServiceClient> MySoapobject;
    std::shared_ptr<xml::Document> MyDownloadDoc;
    std::string ActiveProject;
    int16_t GUILangID = 0;
    int16_t ActiveLangId = 0;
    std::string ActivePassword;
    std::string DownloadFile;
    std::string BannerURL;
    std::string MailURL;

  protected:
    UserInterface& ui_;
    WizardEvents& events_;
};

}  // namespace ovk
