#pragma once
// The engine's user interface in the program: the standard message boxes and
// the application's event loop. The wizard hands it to its engine.
#include "Components/SetupUtils.h"

class TApplicationUI : public TInstallerUI {
public:
    bool Confirm(const std::string& Text, const std::string& Caption) override;
    void ShowError(const std::string& Text, const std::string& Caption) override;
    void ProcessMessages() override;
    bool Terminated() override;
    [[noreturn]] void Halt() override;
    HWND MainWindow() override;
};

TApplicationUI& ApplicationUI();
