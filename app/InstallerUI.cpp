#include "app/InstallerUI.h"

#include "app/Application.h"

bool TApplicationUI::Confirm(const std::string& Text, const std::string& Caption) {
    return ShowMessageBox(Text, Caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void TApplicationUI::ShowError(const std::string& Text, const std::string& Caption) {
    ShowMessageBox(Text, Caption, MB_OK | MB_ICONERROR);
}

void TApplicationUI::ProcessMessages() { Application.ProcessMessages(); }

bool TApplicationUI::Terminated() { return Application.Terminated(); }

void TApplicationUI::Halt() { Application.Halt(); }

HWND TApplicationUI::MainWindow() { return Application.MainFormHandle(); }

TApplicationUI& ApplicationUI() {
    static TApplicationUI ui;
    return ui;
}
