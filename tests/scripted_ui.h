#pragma once
// The engines' user interface for tests: records what would be shown and
// answers from a script; Halt throws instead of ending the test program.
#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "Components/SetupUtils.h"

namespace wintest {

// Thrown by TScriptedUI::Halt where the program would end.
struct THalted {};

class TScriptedUI : public TInstallerUI {
public:
    // The answers to the questions in turn; the last one stands for all later questions.
    TScriptedUI(std::initializer_list<bool> Answers = {true}) : FAnswers(Answers) {}
    explicit TScriptedUI(bool Answer) : FAnswers{Answer} {}
    bool Confirm(const std::string& Text, const std::string& Caption) override {
        Questions.push_back(Text);
        Captions.push_back(Caption);
        return FAnswers[std::min(Questions.size(), FAnswers.size()) - 1];
    }
    void ShowError(const std::string& Text, const std::string& Caption) override {
        Errors.push_back(Text);
        ErrorCaptions.push_back(Caption);
    }
    void ProcessMessages() override {
        ++Pumps;
        if (OnPump) OnPump();
    }
    // Asked to terminate once that many pumps have happened (never when negative).
    bool Terminated() override { return TerminateAfterPumps >= 0 && Pumps >= TerminateAfterPumps; }
    [[noreturn]] void Halt() override {
        ++Halts;
        throw THalted{};
    }
    HWND MainWindow() override { return Main; }

    std::vector<std::string> Questions, Captions, Errors, ErrorCaptions;
    int Pumps = 0, Halts = 0;
    int TerminateAfterPumps = -1;
    HWND Main = nullptr;
    std::function<void()> OnPump;

private:
    std::vector<bool> FAnswers;
};

}  // namespace wintest
