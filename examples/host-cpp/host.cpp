// SPDX-License-Identifier: MIT
// A minimal C++ host of the ovk_client component: Init on a download document, then the wizard
// when Init gave 0, printing every event. With --unattended it opens no window and takes the
// default button of every message box, which is how a host without a display uses it.
//
//   host-cpp [--unattended] [--init-only] DOWNLOAD_FILE
//
// Exit status: 0 when Init gave 0, 1 when it did not, 2 for a usage error.

#include <ovk/client.hpp>
#include <ovk/error.hpp>

#include <cstdint>
#include <iostream>
#include <string>

namespace {

class PrintingEvents : public ovk::ClientEvents {
  public:
    void Exception(int32_t Number, const std::string& Message, const std::string& Source) override {
        std::cout << "Exception " << Number << " from " << Source << ": " << Message << "\n";
    }
    void DownloadComplete() override { std::cout << "DownloadComplete\n"; }
    void DownloadCancel() override { std::cout << "DownloadCancel\n"; }
    void CancelForInstallNewClient() override { std::cout << "CancelForInstallNewClient\n"; }
    void HelpRequested() override { std::cout << "HelpRequested\n"; }
    void StepChanged(int16_t Stepnumber) override {
        std::cout << "StepChanged " << Stepnumber << "\n";
    }
    int32_t MessageBox(const ovk::MessageBoxRequest& Box) override {
        std::cout << "MessageBox \"" << Box.Title << "\": " << Box.Text << "\n";
        return 0;  // the default button
    }
};

}  // namespace

int main(int argc, char** argv) {
    bool unattended = false;
    bool initOnly = false;
    std::string downloadFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--unattended") {
            unattended = true;
        } else if (arg == "--init-only") {
            initOnly = true;
        } else if (downloadFile.empty() && arg.rfind("--", 0) != 0) {
            downloadFile = arg;
        } else {
            std::cerr << "usage: " << argv[0] << " [--unattended] [--init-only] DOWNLOAD_FILE\n";
            return 2;
        }
    }
    if (downloadFile.empty()) {
        std::cerr << "usage: " << argv[0] << " [--unattended] [--init-only] DOWNLOAD_FILE\n";
        return 2;
    }

    PrintingEvents events;
    ovk::Client client;
    client.setEvents(&events);
    client.Unattended(unattended);
    client.GUILangID(1033);

    const int32_t result = client.Init(downloadFile);
    std::cout << "Init gave " << result << "\n";
    if (result != 0) return 1;
    if (!initOnly) {
        try {
            client.Show();
        } catch (const ovk::Error& e) {
            std::cerr << "Show failed: " << e.description << "\n";
            return 1;
        }
    }
    return 0;
}
