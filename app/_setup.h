#pragma once
// The setup wizard window.
#include <memory>

#include "Components/SetupUtils.h"
#include "app/Application.h"

class TSetupForm : public TForm {
public:
    TSetupForm();
    ~TSetupForm() override;

    void FormCreate();
    void FormDestroy();

    std::unique_ptr<TInstaller> FInstaller;
    int FCharacterCount = 0;
    bool FRebootNeeded = false;

protected:
    LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) override;
};
