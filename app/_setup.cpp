#include "app/_setup.h"

#include "support/VersionInfo.h"

namespace {
const char* const DesignCaption = "Orvand Setup ";
}

TSetupForm::TSetupForm() {
    CreateHandle("TSetupForm", DesignCaption, WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME,
                 497, 305, Application.Handle());
    FormCreate();
}

TSetupForm::~TSetupForm() { FormDestroy(); }

void TSetupForm::FormCreate() {
    FInstaller = std::make_unique<TInstaller>();
    Application.SetTitle(DesignCaption);
    auto version = GetAppVersionInfo();
    SetCaption(Caption() + " - Version " + version->GetProductVersion() + "." + version->GetProductRevision());
}

void TSetupForm::FormDestroy() { FInstaller.reset(); }

LRESULT TSetupForm::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) { return TForm::WndProc(Msg, WParam, LParam); }
