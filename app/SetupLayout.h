#pragma once
// The wizard's form layout: the seven pages and every control on them, with
// places and sizes at 96 DPI. Portable, so that the window code and the test
// driver find each control by the same name and control id.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class TControlKind {
    Panel,
    Label,
    Button,
    CheckBox,
    Edit,
    Memo,
    GroupBox,
    Image,
    Rule,
    ProgressBar,
    CheckListBox
};

enum TControlFlag : unsigned {
    cfBold = 1u << 0,
    cfHeading13 = 1u << 1,  // bold, 13-pixel font
    cfTitle24 = 1u << 2,    // 24-pixel font
    cfWordWrap = 1u << 3,   // Width is fixed, Height follows the text
    cfCenter = 1u << 4,
    cfDefault = 1u << 5,  // the page's default button: Enter presses it
    cfCancel = 1u << 6,   // the page's cancel button: Esc presses it
    cfDisabled = 1u << 7,
    cfChecked = 1u << 8,
    cfHidden = 1u << 9,
};

struct TControlDef {
    const char* Name;
    const char* Parent;  // a page or a group box; nullptr for a page
    TControlKind Kind;
    const char* Text;
    // Relative to the parent. Width or Height 0: sized to the text.
    int Left, Top, Width, Height;
    unsigned Flags;
};

inline constexpr int SetupClientWidth = 497;
inline constexpr int SetupClientHeight = 305;

// Every control, pages first in the order a run shows them, each page's
// controls after it in creation (tab) order.
std::span<const TControlDef> SetupFormLayout();
// The control's id in the window: unique in the whole form, never IDOK or IDCANCEL.
int SetupControlId(const TControlDef& Control);
const TControlDef* FindSetupControl(std::string_view Name);
const TControlDef* FindSetupControl(int Id);
// The page a control lies on (the control itself for a page).
const TControlDef* SetupControlPage(const TControlDef& Control);
// The page's button carrying cfDefault or cfCancel, or nullptr.
const TControlDef* PageButton(const TControlDef& Page, TControlFlag Flag);

// A picture of Width x Height pixels of 3 bytes each, top row first, rows
// without padding, resampled to NewWidth x NewHeight: each new pixel is the
// average of the area it covers, so shrinking a larger source stays smooth.
std::vector<uint8_t> ResamplePicture(const std::vector<uint8_t>& Pixels, int Width, int Height, int NewWidth,
                                     int NewHeight);

// The welcome picture as the program carries it ("PIC1", width and height as
// 32-bit little-endian numbers, then the pixels as one zlib stream), decoded into
// the pixels ResamplePicture takes. Empty, with no size, when the data is damaged.
std::vector<uint8_t> DecodePicture(const std::string& Data, int& Width, int& Height);
