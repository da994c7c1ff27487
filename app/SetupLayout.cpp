#include "app/SetupLayout.h"

namespace {

using K = TControlKind;

constexpr int W = SetupClientWidth, H = SetupClientHeight;

// Every page shares the frame: the rule at y 264, "Next >" and "Cancel" at the bottom right.
#define PAGE(Name) {Name, nullptr, K::Panel, "", 0, 0, W, H, cfHidden}
#define RULE(Name, Page) {Name, Page, K::Rule, "", 0, 264, W, 2, 0}
#define NEXT(Name, Page, Flags) {Name, Page, K::Button, "Next >", 337, 272, 72, 25, cfDefault | (Flags)}
#define CANCEL(Name, Page) {Name, Page, K::Button, "Cancel", 417, 272, 72, 25, cfCancel}

const TControlDef Layout[] = {
    PAGE("FirstPanel"),
    PAGE("LicensePanel"),
    PAGE("LocationPanel"),
    PAGE("ComponentsPanel"),
    PAGE("InstallPanel"),
    PAGE("CharactersPanel"),
    PAGE("DonePanel"),

    {"Image1", "FirstPanel", K::Image, "", 0, 0, 169, 264, 0},
    {"Label13", "FirstPanel", K::Label, "Welcome to the Orvand Setup Wizard", 192, 24, 268, 58, cfTitle24 | cfWordWrap},
    {"Label14", "FirstPanel", K::Label, "This will install Orvand on your computer.", 192, 120, 0, 0, 0},
    {"Label15", "FirstPanel", K::Label,
     "It is recommended that you close all other applications before starting Setup. This will allow Setup to "
     "update certain system files without rebooting your computer.",
     192, 144, 290, 0, cfWordWrap},
    {"Label16", "FirstPanel", K::Label, "Click Next to continue.", 192, 200, 0, 0, 0},
    RULE("FirstBevel", "FirstPanel"),
    NEXT("FirstNexButton", "FirstPanel", 0),
    CANCEL("FirstCancelButton", "FirstPanel"),

    {"AgreeLabel", "LicensePanel", K::Label, "Software License Agreement", 16, 9, 0, 0, cfHeading13},
    {"AgreeInfoMemo", "LicensePanel", K::Memo, "", 16, 32, 465, 196, 0},
    {"AgreeCheckBox", "LicensePanel", K::CheckBox, "I accept the terms in the license agreement", 16, 240, 300, 17, 0},
    RULE("LicenseBevel", "LicensePanel"),
    NEXT("LicenseNextButton", "LicensePanel", cfDisabled),
    CANCEL("LicenseCancelButton", "LicensePanel"),

    {"Label11", "LocationPanel", K::Label, "Choose Install Location", 16, 12, 0, 0, cfBold},
    {"Label1", "LocationPanel", K::Label, "Setup will install Orvand in the following folder.", 16, 40, 0, 0, 0},
    {"Label12", "LocationPanel", K::Label,
     "To install in a different folder, click Browse and select another folder. Click Next to continue installation.",
     16, 64, 324, 0, cfWordWrap},
    {"GroupBox2", "LocationPanel", K::GroupBox, " Destination Folder ", 16, 120, 465, 61, 0},
    {"LocationEdit", "GroupBox2", K::Edit, "", 16, 24, 372, 21, 0},
    {"BrowseFolderButton", "GroupBox2", K::Button, "Browse...", 396, 24, 57, 21, 0},
    RULE("LocationBevel", "LocationPanel"),
    NEXT("LocationNextButton", "LocationPanel", 0),
    CANCEL("LocationCancelButton", "LocationPanel"),

    // Status labels sit 2 pixels below their check boxes so that the texts share a baseline.
    {"Label17", "ComponentsPanel", K::Label, "Additional Components Installation", 16, 8, 0, 0, cfBold},
    {"Label3", "ComponentsPanel", K::Label, "Essential components:", 32, 40, 0, 0, cfBold},
    {"Label4", "ComponentsPanel", K::Label,
     "Microsoft Agent 2.0  .  .  .  .  .  .  .  .  .  .  .  .  .  .  .  .  .  .  .  .", 48, 56, 0, 0, 0},
    {"CmpLabel1", "ComponentsPanel", K::Label, "Missed", 328, 56, 0, 0, cfBold},
    {"Label5", "ComponentsPanel", K::Label, "Optional Text-to-Speech components:", 32, 80, 0, 0, cfBold},
    {"CmpCheckBox2", "ComponentsPanel", K::CheckBox,
     "Microsoft SAPI 4.0 runtime  .  .  .  .  .  .  .  .  .  .  .  .  .  .  .  .", 32, 98, 296, 16, 0},
    {"CmpLabel2", "ComponentsPanel", K::Label, "Missed", 328, 100, 0, 0, cfBold},
    {"CmpCheckBox3", "ComponentsPanel", K::CheckBox,
     "L&&H TruVoice TTS Engine  .  .  .  .  .  .  .  .  .  .  .  .  .  .", 48, 114, 280, 16, 0},
    {"CmpLabel3", "ComponentsPanel", K::Label, "Missed", 328, 116, 0, 0, cfBold},
    {"CmpCheckBox4", "ComponentsPanel", K::CheckBox,
     "L&&H TTS3000 TTS Engine  .  .  .  .  .  .  .  .  .  .  .  .  .  .", 48, 130, 280, 16, 0},
    {"CmpLabel4", "ComponentsPanel", K::Label, "Missed", 328, 132, 0, 0, cfBold},
    {"Label6", "ComponentsPanel", K::Label, "Note:", 32, 216, 0, 0, cfBold},
    {"Label18", "ComponentsPanel", K::Label,
     "To install the components, marked as Remote, Internet connection is required.", 48, 232, 0, 0, 0},
    RULE("ComponentsBevel", "ComponentsPanel"),
    NEXT("ComponentsNextButton", "ComponentsPanel", 0),
    CANCEL("ComponentsCancelButton", "ComponentsPanel"),

    {"Label10", "InstallPanel", K::Label, "Installing", 16, 12, 0, 0, cfBold},
    {"Label19", "InstallPanel", K::Label, "Please wait while Orvand components is being installed.", 32, 32, 0, 0, 0},
    // Fixed width: the run writes paths of any length into it.
    {"InstallLabel", "InstallPanel", K::Label, "", 16, 128, 465, 13, 0},
    {"InstallProgressBar", "InstallPanel", K::ProgressBar, "", 16, 144, 465, 17, 0},
    RULE("InstallBevel", "InstallPanel"),
    CANCEL("InstallCancelButton", "InstallPanel"),

    {"Label910", "CharactersPanel", K::Label, "Orvand Characters", 16, 12, 0, 0, cfBold},
    {"Label919", "CharactersPanel", K::Label,
     "Please, choose the Characters you'd like to install. They will be downloaded from Internet. ", 32, 32, 0, 0, 0},
    {"CharactersListBox", "CharactersPanel", K::CheckListBox, "", 16, 64, 257, 177, 0},
    RULE("CharactersBevel", "CharactersPanel"),
    NEXT("CharactersNextButton", "CharactersPanel", 0),
    CANCEL("CharactersCancelButton", "CharactersPanel"),

    {"Label911", "DonePanel", K::Label, "Setup completed", 16, 12, 0, 0, cfBold},
    {"Label2", "DonePanel", K::Label, "Orvand setup completed sucessfully.", 28, 32, 441, 0, cfCenter | cfWordWrap},
    // One place for both: the finish page shows one of them.
    {"RunCheckBox", "DonePanel", K::CheckBox, "&Run Orvand after exiting setup", 8, 240, 250, 17, cfChecked},
    {"RebootCheckBox", "DonePanel", K::CheckBox, "Restart computer after exiting setup", 8, 240, 250, 17, cfHidden},
    RULE("DoneBevel", "DonePanel"),
    {"FinishButton", "DonePanel", K::Button, "Finish", 417, 272, 72, 25, cfDefault | cfCancel},
};

#undef PAGE
#undef RULE
#undef NEXT
#undef CANCEL

constexpr int FirstControlId = 100;

}  // namespace

std::span<const TControlDef> SetupFormLayout() { return Layout; }

int SetupControlId(const TControlDef& Control) { return FirstControlId + static_cast<int>(&Control - Layout); }

const TControlDef* FindSetupControl(std::string_view Name) {
    for (const TControlDef& c : Layout)
        if (Name == c.Name) return &c;
    return nullptr;
}

const TControlDef* FindSetupControl(int Id) {
    int index = Id - FirstControlId;
    if (index < 0 || index >= static_cast<int>(std::size(Layout))) return nullptr;
    return &Layout[index];
}

const TControlDef* SetupControlPage(const TControlDef& Control) {
    const TControlDef* c = &Control;
    while (c && c->Parent) c = FindSetupControl(c->Parent);
    return c;
}

const TControlDef* PageButton(const TControlDef& Page, TControlFlag Flag) {
    for (const TControlDef& c : Layout)
        if (c.Kind == TControlKind::Button && (c.Flags & Flag) && SetupControlPage(c) == &Page) return &c;
    return nullptr;
}
