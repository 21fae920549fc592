// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "download_progress.hpp"
#include "ovk/client.hpp"
#include "platform/scripted_user_interface.hpp"

namespace ovk::host {

// Prints one JSON object per line on standard output and flushes at once, so a program
// reading the output sees each event the moment it is raised.
inline void printLine(const nlohmann::json& line) {
    const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Every event of a Client, printed as it arrives; remembers whether anything failed.
class EventPrinter : public ClientEvents, public DownloadProgressEvents {
  public:
    bool failed() const { return failed_; }

    void Exception(int32_t Number, const std::string& Message, const std::string& Source) override {
        // Number 0 carries the wizard's debug texts, which are not failures.
        if (Number != 0) failed_ = true;
        printLine(
            {{"event", "Exception"}, {"number", Number}, {"message", Message}, {"source", Source}});
    }
    void DownloadComplete() override { printLine({{"event", "DownloadComplete"}}); }
    void DownloadCancel() override { printLine({{"event", "DownloadCancel"}}); }
    void CancelForInstallNewClient() override {
        printLine({{"event", "CancelForInstallNewClient"}});
    }
    void HelpRequested() override { printLine({{"event", "HelpRequested"}}); }
    void StepChanged(int16_t Stepnumber) override {
        printLine({{"event", "StepChanged"}, {"step", Stepnumber}});
    }
    void DownloadProgress(int32_t Done, int32_t Total) override {
        printLine({{"event", "DownloadProgress"}, {"done", Done}, {"total", Total}});
        progress_.update(Done, Total);
    }

  private:
    bool failed_ = false;
    TerminalProgress progress_;
};

inline const char* answerName(MsgBoxAnswer answer) {
    switch (answer) {
        case MsgBoxAnswer::Ok:
            return "ok";
        case MsgBoxAnswer::Cancel:
            return "cancel";
        case MsgBoxAnswer::Abort:
            return "abort";
        case MsgBoxAnswer::Retry:
            return "retry";
        case MsgBoxAnswer::Ignore:
            return "ignore";
        case MsgBoxAnswer::Yes:
            return "yes";
        case MsgBoxAnswer::No:
            return "no";
    }
    return "?";
}

inline void printBox(const std::string& title, const std::string& text, MsgBoxAnswer answer) {
    printLine({{"msgbox", {{"title", title}, {"text", text}, {"answer", answerName(answer)}}}});
}

}  // namespace ovk::host
