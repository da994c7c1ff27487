#include "app/SetupLayout.h"

#include <algorithm>

#include <zlib.h>

namespace {

using K = TControlKind;

constexpr int W = SetupClientWidth, H = SetupClientHeight;

// Every page shares the frame: the rule at y 264, "Next >" and "Cancel" at the bottom right.
#define PAGE(Name) \
    { Name, nullptr, K::Panel, "", 0, 0, W, H, cfHidden }
#define RULE(Name, Page) \
    { Name, Page, K::Rule, "", 0, 264, W, 2, 0 }
#define NEXT(Name, Page, Flags) \
    { Name, Page, K::Button, "Next >", 337, 272, 72, 25, cfDefault | (Flags) }
#define CANCEL(Name, Page) \
    { Name, Page, K::Button, "Cancel", 417, 272, 72, 25, cfCancel }

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

namespace {

// Weights of the source pixels each of Count new ones covers along one axis.
struct TSpan {
    int First;
    std::vector<double> Weights;
};

std::vector<TSpan> Spans(int Source, int Count) {
    std::vector<TSpan> spans(static_cast<size_t>(Count));
    const double step = static_cast<double>(Source) / Count;
    for (int i = 0; i < Count; ++i) {
        double from = i * step, to = from + step;
        if (step < 1) {  // enlarging: a source pixel's width around the centre
            const double centre = from + step / 2;
            from = std::max(0.0, centre - 0.5);
            to = std::min(static_cast<double>(Source), centre + 0.5);
        }
        TSpan& span = spans[static_cast<size_t>(i)];
        span.First = static_cast<int>(from);
        double total = 0;
        for (int k = span.First; k < Source && k < to; ++k) {
            const double w = std::min<double>(k + 1, to) - std::max<double>(k, from);
            span.Weights.push_back(w);
            total += w;
        }
        for (double& w : span.Weights) w /= total;
    }
    return spans;
}

}  // namespace

std::vector<uint8_t> ResamplePicture(const std::vector<uint8_t>& Pixels, int Width, int Height, int NewWidth,
                                     int NewHeight) {
    if (Width <= 0 || Height <= 0 || NewWidth <= 0 || NewHeight <= 0 ||
        Pixels.size() != static_cast<size_t>(Width) * static_cast<size_t>(Height) * 3)
        return {};
    const std::vector<TSpan> columns = Spans(Width, NewWidth), rows = Spans(Height, NewHeight);
    // Across first, into whole rows of doubles, then down.
    std::vector<double> across(static_cast<size_t>(NewWidth) * Height * 3);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < NewWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                const TSpan& span = columns[static_cast<size_t>(x)];
                for (size_t k = 0; k < span.Weights.size(); ++k)
                    sum += span.Weights[k] * Pixels[(static_cast<size_t>(y) * Width + span.First + k) * 3 + c];
                across[(static_cast<size_t>(y) * NewWidth + x) * 3 + c] = sum;
            }
    std::vector<uint8_t> result(static_cast<size_t>(NewWidth) * NewHeight * 3);
    for (int y = 0; y < NewHeight; ++y)
        for (int x = 0; x < NewWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                const TSpan& span = rows[static_cast<size_t>(y)];
                for (size_t k = 0; k < span.Weights.size(); ++k)
                    sum += span.Weights[k] * across[((span.First + k) * NewWidth + x) * 3 + c];
                result[(static_cast<size_t>(y) * NewWidth + x) * 3 + c] =
                    static_cast<uint8_t>(std::clamp(sum + 0.5, 0.0, 255.0));
            }
    return result;
}

std::vector<uint8_t> DecodePicture(const std::string& Data, int& Width, int& Height) {
    Width = Height = 0;
    if (Data.size() < 12 || Data.compare(0, 4, "PIC1") != 0) return {};
    auto number = [&](size_t At) {
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(Data[At + i]);
        return value;
    };
    const uint32_t width = number(4), height = number(8);
    // A picture for a screen, never one that would ask for gigabytes.
    if (width == 0 || height == 0 || width > 4096 || height > 4096) return {};
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    uLongf size = static_cast<uLongf>(pixels.size());
    if (uncompress(pixels.data(), &size, reinterpret_cast<const Bytef*>(Data.data() + 12),
                   static_cast<uLong>(Data.size() - 12)) != Z_OK ||
        size != pixels.size())
        return {};
    Width = static_cast<int>(width);
    Height = static_cast<int>(height);
    return pixels;
}
