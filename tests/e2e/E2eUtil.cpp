#include "E2eUtil.h"

#include <algorithm>
#include <stdexcept>

#include "app/SetupLayout.h"
#include "install_fixture.h"

namespace e2e {

std::string SampleSetup() { return wintest::EnvPath("ORVAND_SAMPLE_EXE"); }

std::string CopySample(const std::string& Folder) {
    std::string copy = Folder + "install.exe";
    if (!CopyFileA(SampleSetup().c_str(), copy.c_str(), FALSE)) throw std::runtime_error("cannot copy the sample");
    return copy;
}

namespace {

std::string SampleFolder() {
    std::string manifest = wintest::EnvPath("ORVAND_SAMPLE_MANIFEST");
    return manifest.substr(0, manifest.find_last_of('\\') + 1);
}

}  // namespace

std::string SampleConfiguration(const std::vector<std::string>& Urls) {
    std::string text = wintest::ReadFileText(SampleFolder() + "setup.xml");
    const std::string open = "<fileDistributors>", close = "</fileDistributors>";
    size_t from = text.find(open), to = text.find(close);
    if (from == std::string::npos || to == std::string::npos)
        throw std::runtime_error("the sample's setup.xml has no distributors");
    std::string urls;
    for (const std::string& url : Urls) urls += "<url>" + url + "</url>";
    return text.substr(0, from + open.size()) + urls + text.substr(to);
}

std::vector<std::pair<std::string, std::string>> InstallerDigests() {
    std::vector<std::pair<std::string, std::string>> digests;
    for (const char* installer : ComponentInstallers)
        digests.emplace_back(installer, wintest::Md5Text(wintest::ReadFileText(Fixture(installer))));
    return digests;
}

TDistributor::TDistributor() {
    for (const char* installer : ComponentInstallers) Server.Put(installer, wintest::ReadFileText(Fixture(installer)));
    for (const char* character : RemoteCharacters) Server.Put(character, CharacterBytes(character));
}

std::vector<std::string> TDistributor::Requests() const {
    std::vector<std::string> paths;
    for (const auto& request : Server.Requests()) paths.push_back(request.Path);
    return paths;
}

std::string PackSample(const std::string& Folder, const std::vector<std::string>& ExtraLines,
                       const std::string& Configuration) {
    std::string manifest = wintest::ReadFileText(wintest::EnvPath("ORVAND_SAMPLE_MANIFEST"));
    if (!Configuration.empty()) {
        // The line of the sample's setup.xml is the last one.
        size_t line = manifest.rfind(".\\temp\\ setup.xml");
        if (line == std::string::npos) throw std::runtime_error("the sample manifest has no setup.xml");
        manifest.erase(line, manifest.find('\n', line) - line + 1);
        wintest::WriteFileText(Folder + "setup.xml", Configuration);
        manifest += ".\\temp\\ setup.xml \"" + Folder + "setup.xml\"\n";
    }
    // The build writes Unix paths; here they are read through Wine's drive Z:.
    for (size_t at = 0; (at = manifest.find("\"/", at)) != std::string::npos; at += 3) manifest.insert(at + 1, "Z:");
    for (const std::string& line : ExtraLines) {
        // A line for a file the sample has ("FOLDER NAME ...") replaces the sample's.
        const std::string file = "\n" + line.substr(0, line.find(' ', line.find(' ') + 1) + 1);
        for (size_t at; (at = manifest.find(file)) != std::string::npos;)
            manifest.erase(at + 1, manifest.find('\n', at + 1) - at);
        manifest += line + "\n";
    }
    wintest::WriteFileText(Folder + "sample.manifest", manifest);
    std::string output = Folder + "install.exe";
    std::string arguments =
        "-o \"" + output + "\" \"" + wintest::EnvPath("ORVAND_BARE_EXE") + "\" \"" + Folder + "sample.manifest\"";
    PROCESS_INFORMATION packer = wintest::StartProgram(wintest::EnvPath("ORVAND_PACK_EXE"), arguments);
    DWORD code = wintest::WaitExit(packer, 60000);
    CloseHandle(packer.hProcess);
    if (code != 0 || !wintest::FileExists(output)) throw std::runtime_error("packing failed");
    return output;
}

std::string Fixture(const std::string& Name) { return wintest::EnvPath("ORVAND_FIXTURES_DIR") + "\\" + Name; }

void SetComponent(const std::string& Installer, bool Installed) {
    PROCESS_INFORMATION p = wintest::StartProgram(Fixture(Installer), Installed ? "" : "-unregister");
    DWORD code = wintest::WaitExit(p, 30000);
    CloseHandle(p.hProcess);
    if (code != 0) throw std::runtime_error(Installer + " failed");
}

void SetAllComponents(bool Installed) {
    for (const char* installer : ComponentInstallers) SetComponent(installer, Installed);
}

bool WalkToLocation(TSetupRun& Run) {
    if (!Run.WaitForm() || !Run.WaitPage("FirstPanel")) return false;
    Run.Click("FirstNexButton");
    if (!Run.WaitPage("LicensePanel")) return false;
    Run.Click("AgreeCheckBox");
    Run.Click("LicenseNextButton");
    return Run.WaitPage("LocationPanel");
}

bool WalkToComponents(TSetupRun& Run, const std::string& Destination) {
    if (!WalkToLocation(Run)) return false;
    Run.TypeText("LocationEdit", Destination);
    Run.Click("LocationNextButton");
    return Run.WaitPage("ComponentsPanel");
}

namespace {

RECT ClientRect(HWND Form, HWND Control) {
    RECT r;
    GetWindowRect(Control, &r);
    MapWindowPoints(nullptr, Form, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string Describe(const RECT& R) {
    return "(" + std::to_string(R.left) + "," + std::to_string(R.top) + ")-(" + std::to_string(R.right) + "," +
           std::to_string(R.bottom) + ")";
}

}  // namespace

std::wstring Utf16(const std::string& Text) {
    std::wstring wide(Text.size(), L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), wide.data(),
                                static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n : 0);
    return wide;
}

int CaptionWidth(const TControlDef& Def, const std::string& Text, int Dpi) {
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontA(-MulDiv(8, Dpi, 72), 0, 0, 0, (Def.Flags & cfBold) ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                             FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    HGDIOBJ old = SelectObject(dc, font);
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, Utf16(Text).c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return r.right;
}

namespace {

// Each visible item of a list with check boxes as the screen shows it: its text as wide as
// DrawTextW draws it in the list's font (the last columns of that extent may be blank).
void AddListDrawingProblems(const TSetupRun& Run, const TControlDef& Def, int Dpi, std::vector<std::string>& Problems) {
    HWND list = Run.Control(Def.Name);
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Sleep(200);  // painted by another process
    RECT r;
    GetClientRect(list, &r);
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const TCapture shown = CaptureScreen(r);
    const int top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
    const int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    const std::vector<std::string> items = Run.Items(Def.Name);
    for (int i = top; i < static_cast<int>(items.size()) && (i - top + 1) * height <= shown.Height; ++i) {
        const int y0 = (i - top) * height;
        const COLORREF back = shown.At(shown.Width - 3, y0 + height / 2);
        int from = shown.Width, to = -1;  // inside the focus rectangle's frame, right of the check box
        for (int y = y0 + 1; y + 1 < y0 + height; ++y)
            for (int x = 4 + MulDiv(13, Dpi, 96); x + 2 < shown.Width; ++x)
                if (shown.At(x, y) != back) from = std::min(from, x), to = std::max(to, x);
        const int drawn = to < from ? 0 : to - from + 1, text = CaptionWidth(Def, items[i], Dpi);
        if (drawn > text || drawn < text - MulDiv(2, Dpi, 96))
            Problems.push_back(std::string(Def.Name) + " item \"" + items[i] + "\" is drawn " + std::to_string(drawn) +
                               " pixels wide, DrawTextW " + std::to_string(text));
    }
}

bool Inside(const TControlDef& Def, const char* Container) {
    return Def.Parent && std::string(Def.Parent) == Container;
}

}  // namespace

std::vector<std::string> LayoutProblems(const TSetupRun& Run) {
    std::vector<std::string> problems;
    std::string page = Run.VisiblePage();
    HWND form = Run.Form();
    RECT client;
    GetClientRect(form, &client);
    // The program's DPI, which this driver's own may not be: the form scales by it.
    const int dpi = MulDiv(client.right, 96, SetupClientWidth);
    if (MulDiv(SetupClientWidth, dpi, 96) != client.right || MulDiv(SetupClientHeight, dpi, 96) != client.bottom)
        problems.push_back("the window is " + Describe(client) + ", not the layout's size at " + std::to_string(dpi) +
                           " DPI");
    struct Shown {
        const TControlDef* Def;
        RECT Rect;
    };
    std::vector<Shown> shown;
    for (const TControlDef& def : SetupFormLayout()) {
        if (def.Kind == TControlKind::Panel || SetupControlPage(def)->Name != page) continue;
        HWND control = Run.Control(def.Name);
        if (!IsWindowVisible(control)) continue;
        RECT r = ClientRect(form, control);
        RECT inside;
        IntersectRect(&inside, &r, &client);
        if (!EqualRect(&inside, &r)) problems.push_back(std::string(def.Name) + " leaves the window: " + Describe(r));
        std::string text = Run.Text(def.Name);
        int need = 0;
        if (def.Kind == TControlKind::CheckBox) need = CaptionWidth(def, text, dpi) + MulDiv(13 + 4, dpi, 96);
        if (def.Kind == TControlKind::Button) need = CaptionWidth(def, text, dpi) + MulDiv(8, dpi, 96);
        if (def.Kind == TControlKind::CheckListBox) AddListDrawingProblems(Run, def, dpi, problems);
        // Everything else has its designed size at this DPI (labels sized to their text aside).
        const bool sized = def.Width > 0 && def.Height > 0 && def.Kind != TControlKind::Label;
        if (sized &&
            (r.right - r.left != MulDiv(def.Width, dpi, 96) || r.bottom - r.top != MulDiv(def.Height, dpi, 96)))
            problems.push_back(std::string(def.Name) + " is " + Describe(r) + ", not its size at " +
                               std::to_string(dpi) + " DPI");
        if (need > r.right - r.left)
            problems.push_back(std::string(def.Name) + " is " + std::to_string(r.right - r.left) +
                               " wide, its text needs " + std::to_string(need));
        // Seen where it lies: no sibling on top of it.
        if (def.Kind != TControlKind::GroupBox && def.Kind != TControlKind::Rule) {
            HWND pageWindow = GetParent(control);
            RECT own;
            GetWindowRect(control, &own);
            POINT centre{(own.left + own.right) / 2, (own.top + own.bottom) / 2};
            ScreenToClient(pageWindow, &centre);
            HWND top = ChildWindowFromPointEx(pageWindow, centre, CWP_SKIPINVISIBLE);
            if (top != control) problems.push_back(std::string(def.Name) + " is hidden under another control");
        }
        shown.push_back({&def, r});
    }
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const TControlDef& a = *shown[i].Def;
            const TControlDef& b = *shown[j].Def;
            // A group box holds its controls.
            if (Inside(a, b.Name) || Inside(b, a.Name)) continue;
            RECT both;
            if (IntersectRect(&both, &shown[i].Rect, &shown[j].Rect))
                problems.push_back(std::string(a.Name) + " " + Describe(shown[i].Rect) + " overlaps " + b.Name + " " +
                                   Describe(shown[j].Rect));
        }
    return problems;
}

}  // namespace e2e
