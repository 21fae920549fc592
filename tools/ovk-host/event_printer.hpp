#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

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
class EventPrinter : public ClientEvents {
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

  private:
    bool failed_ = false;
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

inline void printBox(const ScriptedUserInterface::Box& box) {
    printLine({{"msgbox",
                {{"title", box.title}, {"text", box.text}, {"answer", answerName(box.answer)}}}});
}

}  // namespace ovk::host
