// SPDX-License-Identifier: MIT
#include "util/open_doc_api.hpp"

#include "platform/files.hpp"
#include "platform/platform_info.hpp"
#include "platform/shell.hpp"
#include "platform/user_interface.hpp"

namespace ovk::OpenDocApi {
namespace {

constexpr int16_t kShowNormal = 5;

void exclaim(UserInterface& ui, const std::string& text, const std::string& title) {
    ui.msgBox(text, title, MsgBoxButtons::OkOnly, MsgBoxIcon::Exclamation);
}

}  // namespace

int16_t OpenDocument(const ShellServices& services, Form& Owner, const std::string& Target,
                     int16_t ShowCommand) {
    ShellRequest request;
    request.target = Target;
    request.workingDirectory = files::componentDir();
    request.showCommand = ShowCommand;
    request.owner = &Owner;
    const ShellResult result = services.shell.open(request);
    if (result.succeeded()) return -1;

    const std::string appTitle(kApplicationTitle);
    if (result.code == shell_result::NoAssociation) {
        exclaim(services.ui,
                appTitle + " could not find a file association for " + Target +
                    " on your system. You should check that your browser" + " " +
                    "is correctly installed and associated with this type of file.",
                "Browser Unavailable");
    } else {
        exclaim(services.ui,
                appTitle + " had a problem running your web browser." +
                    " You should check that your browser is correctly installed." + " (Error" +
                    std::to_string(result.code) + ")",
                "Browser Unavailable");
    }
    return 0;
}

void ShellExecAndWait(const ShellServices& services, std::string& FileName, bool& Wait,
                      const Form* Owner) {
    ShellRequest request;
    request.target = FileName;
    request.showCommand = kShowNormal;
    request.owner = Owner;
    const ShellResult result = services.shell.open(request);
    if (!result.succeeded()) {
        exclaim(services.ui, "Unable to open this file: " + std::string("\n") + " " + FileName,
                "Error Opening File");
        return;
    }
    if (!Wait) return;

    const OsVersion version = services.platform.osVersion();
    if (version.majorVersion != kWaitCapableMajorVersion) {
        exclaim(services.ui,
                "You need to upgrade your version of windows to use the 'Wait for Process to End' "
                "feature of this function: 'ShellExecAndWait'.",
                "Sorry!");
        return;
    }
    // The started program is our own child, so there is nothing to search for; a platform that
    // cannot tell us how to find it, or a start without a process, is not waited for at all
    // rather than waited for without end.
    const bool findable = version.platformId == platform_id::Win32Windows ||
                          version.platformId == platform_id::Win32Nt;
    if (!findable || !result.process) return;
    result.process->waitForExit([&services] { services.ui.processPendingEvents(); });
}

}  // namespace ovk::OpenDocApi
