#include "E2eUtil.h"

#include <shlobj.h>

#include <algorithm>

#include "support/CodePages.h"

using namespace wintest;

namespace e2e {

void Damage(const std::string& Setup, bool Resealed) {
    std::string bytes = ReadFileText(Setup);
    bytes[bytes.size() - 4000] ^= 0x20;
    if (Resealed) {
        const TMD5Digest digest = Md5Digest(std::string_view(bytes).substr(0, bytes.size() - 16));
        bytes.replace(bytes.size() - 16, 16, reinterpret_cast<const char*>(digest.data()), 16);
    }
    WriteFileText(Setup, bytes);
}

TDistributor::TDistributor() {
    for (const char* installer : ComponentInstallers) Server.Put(installer, ReadFileText(FixturePath(installer)));
    for (const char* character : RemoteCharacters) Server.Put(character, CharacterBytes(character));
}

TSetupRun StartAtLocation(const std::string& Setup, const std::string& Arguments) {
    TSetupRun run(Setup, Arguments);
    if (!run.WaitForm() || !run.WaitPage("FirstPanel")) throw EDriverError("the wizard did not open");
    run.ClickToPage("FirstNexButton", "LicensePanel");
    run.Click("AgreeCheckBox");
    run.ClickToPage("LicenseNextButton", "LocationPanel");
    return run;
}

TSetupRun StartAtComponents(const std::string& Setup, const std::string& Destination, const std::string& Arguments) {
    TSetupRun run = StartAtLocation(Setup, Arguments);
    run.TypeText("LocationEdit", Destination);
    run.ClickToPage("LocationNextButton", "ComponentsPanel");
    return run;
}

std::string Joined(const std::vector<std::string>& Lines) {
    std::string text;
    for (const std::string& line : Lines) text += line + "\n";
    return text;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> Parts) {
    std::vector<std::string> all;
    for (const auto& part : Parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TMessageBox ShownBox(TSetupRun& Run, const std::string& Title, const ::testing::Matcher<const std::string&>& Text,
                     TBoxIcon Icon, const std::vector<int>& Buttons, DWORD Milliseconds) {
    auto box = Run.WaitBox(Milliseconds);
    if (!box) throw EDriverError("no box \"" + Title + "\" came");
    EXPECT_EQ(box->Title, Title);
    EXPECT_THAT(box->Text, Text);
    EXPECT_EQ(box->Icon, Icon) << BoxIconName(box->Icon);
    EXPECT_EQ(box->Buttons, Buttons);
    return *box;
}

void AnswerCloseQuestion(TSetupRun& Run, int Answer) {
    Run.Answer(ShownBox(Run, "Confirm", CloseQuestion, TBoxIcon::Question, {IDYES, IDNO}), Answer);
    if (Answer == IDYES) ExpectQuietExit(Run);
}

void ExpectRebootNotice(TSetupRun& Run) {
    const TMessageBox notice = ShownBox(Run, "Information", RebootNotice, TBoxIcon::Information, {IDOK});
    EXPECT_EQ(Run.VisiblePage(), "ComponentsPanel") << "the notice comes before the install page";
    Run.Answer(notice, IDOK);
}

void CancelDuringTransfer(TSetupRun& Run, const std::string& Status, const std::string& Next, int Answer) {
    ASSERT_TRUE(WaitUntil([&] { return Run.Caption("InstallLabel") == Status; }, 30000)) << Run.Caption("InstallLabel");
    // Past the look at the messages that follows the status text: the run blocks in the transfer.
    ASSERT_TRUE(WaitUntil([&] { return !Run.Responding(); }, 10000)) << "the run never blocked in the transfer";
    Run.Click("InstallCancelButton");
    const TMessageBox box = ShownBox(Run, "Confirm", CloseQuestion, TBoxIcon::Question, {IDYES, IDNO});
    EXPECT_EQ(Run.Text("InstallLabel"), Next);
    Run.Answer(box, Answer);
}

void ExpectQuietExit(TSetupRun& Run, DWORD Milliseconds) { wintest::ExpectQuietExit(Run.Process(), Milliseconds); }

void ExpectFinishOffers(TSetupRun& Run, bool Restart) {
    EXPECT_EQ(Run.Visible("RebootCheckBox"), Restart);
    EXPECT_EQ(Run.Checked("RebootCheckBox"), Restart);
    EXPECT_EQ(Run.Visible("RunCheckBox"), !Restart);
    EXPECT_EQ(Run.Checked("RunCheckBox"), !Restart);
}

void FinishWithoutTheProduct(TSetupRun& Run, DWORD Milliseconds) {
    Run.Click("RunCheckBox");
    Run.Click("FinishButton");
    ExpectQuietExit(Run, Milliseconds);
}

void ExpectNothingStarted(const std::string& RunLog, const char* What) {
    Sleep(500);
    EXPECT_FALSE(FileExists(RunLog)) << What;
}

void UninstallAtEnd::Now() {
    if (Target.empty() || !FileExists(Target + "install.exe")) return;
    RunUninstaller(Target + "install.exe", "-remove", IDYES);
    Target.clear();
}

std::vector<std::string> Journal(const std::string& Target) { return SplitCrLf(ReadFileText(Target + "install.log")); }

void ExpectJournal(const std::string& Target, const std::vector<std::string>& Lines,
                   const std::vector<std::string>& Before) {
    const std::vector<std::string> journal = Journal(Target);
    ASSERT_GT(journal.size(), Before.size());
    const auto banner = journal.begin() + Before.size();
    EXPECT_EQ(Joined(std::vector<std::string>(journal.begin(), banner)), Joined(Before));
    EXPECT_THAT(*banner, ::testing::StartsWith(Banner));
    EXPECT_EQ(Joined(std::vector<std::string>(banner + 1, journal.end())), Joined(Lines));
}

std::vector<std::string> ExtractedLines(const std::string& Target, bool FirstTime, bool BrainsWritten,
                                        const std::vector<std::string>& Shipped) {
    std::vector<std::string> lines;
    for (const char* name : {"install.exe", "orvand.exe", "bridge.ocx", "orvand.chm"})
        lines.push_back("CreateFile " + Target + name);
    if (FirstTime) lines.push_back("CreateFolder " + Target + "data\\");
    for (const char* name : {"Vela.acs", "orvand.dic", Brains, "script.htm"})
        if (BrainsWritten || std::string(name) != Brains) lines.push_back("CreateFile " + Target + "data\\" + name);
    for (const std::string& name : Shipped) lines.push_back("CreateFile " + Target + "temp\\" + name);
    return lines;
}

namespace {

// The uninstall entry's values, in the order they are written.
const char* const UninstallValues[] = {"DisplayName", "UninstallString", "DisplayVersion",      "Publisher",
                                       "DisplayIcon", "InstallLocation", "EstimatedSize",       "NoModify",
                                       "NoRepair",    "URLInfoAbout",    "QuietUninstallString"};

HKEY RunRoot(bool AllUsers) { return AllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// KiB of the files a first extraction writes into Target, Shipped installers (in temp\) included.
DWORD ExtractedKiB(const std::string& Target, const std::vector<std::string>& Shipped) {
    uint64_t bytes = 0;
    for (const std::string& line : ExtractedLines(Target, true, true, Shipped)) {
        if (line.rfind("CreateFile ", 0) != 0) continue;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        EXPECT_TRUE(GetFileAttributesExA(line.substr(11).c_str(), GetFileExInfoStandard, &data)) << line;
        bytes += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return static_cast<DWORD>((bytes + 1023) / 1024);
}

}  // namespace

std::string Desktop(bool AllUsers) {
    return SpecialFolder(AllUsers ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY);
}

std::string Programs(bool AllUsers) {
    return SpecialFolder(AllUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS) + "Orvand\\";
}

std::vector<std::string> RegisteredLines(const std::string& Target, bool FirstTime, bool AllUsers) {
    std::string programs = Programs(AllUsers);
    std::string uninstall = "2147483650|" + std::string(UninstallKey);
    std::vector<std::string> lines = {"CreateFile " + Desktop(AllUsers) + "Orvand.lnk"};
    if (FirstTime) lines.push_back("CreateFolder " + programs);
    lines.push_back("CreateFile " + programs + "Orvand.lnk");
    lines.push_back("CreateFile " + programs + "Uninstall.lnk");
    if (FirstTime) lines.push_back("CreteRegKey " + uninstall);
    for (const char* value : UninstallValues) lines.push_back("CreteRegValue " + uninstall + "|" + value);
    lines.insert(lines.end(),
                 {"CreteRegValue " + std::string(AllUsers ? "2147483650|" : "2147483649|") + RunKey + "|Orvand",
                  "CreteRegKey 2147483649|" + std::string(MenuKey), "RegisterServer " + Target + "bridge.ocx"});
    return lines;
}

void ExpectRegistered(const std::string& Target, bool Present, const std::vector<std::string>& Shipped, bool AllUsers) {
    std::string programs = Programs(AllUsers);
    EXPECT_EQ(FileExists(Desktop(AllUsers) + "Orvand.lnk"), Present);
    EXPECT_EQ(FileExists(programs + "Orvand.lnk"), Present);
    EXPECT_EQ(FileExists(programs + "Uninstall.lnk"), Present);
    EXPECT_FALSE(FileExists(Desktop(!AllUsers) + "Orvand.lnk"));
    EXPECT_FALSE(FolderExists(Programs(!AllUsers)));
    EXPECT_EQ(ViewText(RunRoot(!AllUsers), RunKey, "Orvand", ProductView), "(none)");
    auto expect = [&](const std::string& Text) { return Present ? Text : std::string("(none)"); };
    // A program path with blanks is quoted in a command line.
    auto program = [&](const std::string& Name) {
        return Target.find(' ') == std::string::npos ? Target + Name : "\"" + Target + Name + "\"";
    };
    // The uninstall entry, for the system's list of programs.
    const std::pair<const char*, std::string> entry[] = {
        {"DisplayName", "Orvand"},
        {"UninstallString", program("install.exe") + " -remove"},
        {"QuietUninstallString", program("install.exe") + " -remove -silent"},
        {"DisplayVersion", "2.2.93"},
        {"Publisher", "Orvand Software"},
        {"DisplayIcon", Target + "orvand.exe"},
        {"InstallLocation", Target},
        {"URLInfoAbout", "http://www.orvand.example/"}};
    for (const auto& [value, text] : entry)
        EXPECT_EQ(ViewText(HKEY_LOCAL_MACHINE, UninstallKey, value), expect(text)) << value;
    EXPECT_EQ(NumberText(HKEY_LOCAL_MACHINE, UninstallKey, "EstimatedSize"),
              Present ? std::to_string(ExtractedKiB(Target, Shipped)) : "(none)");
    for (const char* flag : {"NoModify", "NoRepair"})
        EXPECT_EQ(NumberText(HKEY_LOCAL_MACHINE, UninstallKey, flag), expect("1")) << flag;
    EXPECT_EQ(ViewText(RunRoot(AllUsers), RunKey, "Orvand"), expect(program("orvand.exe") + " -hidden"));
    EXPECT_EQ(ViewText(HKEY_CURRENT_USER, MenuKey, nullptr), expect(Target + "data\\script.htm"));
    EXPECT_EQ(ViewText(HKEY_CLASSES_ROOT, BridgeKey, nullptr) != "(none)", Present);
    // Where 64-bit Windows keeps them: the uninstall entry and the class in this build's
    // registry view (a 64-bit "reg query" finds the shipped program's under Wow6432Node),
    // nothing in the other view, and the Run value where a 64-bit Explorer reads it.
    const std::string wow6432Entry = "SOFTWARE\\Wow6432Node\\" + std::string(UninstallKey).substr(9);
    EXPECT_EQ(ViewText(HKEY_LOCAL_MACHINE, wow6432Entry, "DisplayName", KEY_WOW64_64KEY),
              ShippedBuild ? expect("Orvand") : "(none)");
    EXPECT_EQ(ViewText(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayName", OtherView), "(none)");
    EXPECT_EQ(ViewText(HKEY_CLASSES_ROOT, BridgeKey, nullptr, ProductView) != "(none)", Present);
    EXPECT_EQ(ViewText(HKEY_CLASSES_ROOT, BridgeKey, nullptr, OtherView), "(none)");
    // The computer's Run key is redirected like the uninstall entry, and a 64-bit Explorer reads both views.
    const std::string wow6432Run = "Software\\Wow6432Node\\" + std::string(RunKey).substr(9);
    EXPECT_EQ(ViewText(RunRoot(AllUsers), AllUsers && ShippedBuild ? wow6432Run : RunKey, "Orvand", KEY_WOW64_64KEY),
              expect(program("orvand.exe") + " -hidden"));
    if (!Present) return;
    // What each shortcut starts, with what, and where; the browser entry's contexts.
    EXPECT_EQ(ReadShortcut(Desktop(AllUsers) + "Orvand.lnk"), Target + "orvand.exe||" + Target);
    EXPECT_EQ(ReadShortcut(programs + "Orvand.lnk"), Target + "orvand.exe||" + Target);
    EXPECT_EQ(ReadShortcut(programs + "Uninstall.lnk"), Target + "install.exe|-remove|" + Target);
    DWORD type = 0;
    std::vector<BYTE> contexts;
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, MenuKey, "Contexts", &type, &contexts));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(contexts, (std::vector<BYTE>{0x10, 0, 0, 0}));
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

int CaptionWidth(const TControlDef& Def, const std::string& Text, int Dpi) {
    TWindowDC dc(nullptr);
    TGdiObject<HFONT> font(CreateFontA(-MulDiv(8, Dpi, 72), 0, 0, 0, (Def.Flags & cfBold) ? FW_BOLD : FW_NORMAL, FALSE,
                                       FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
    TSelection selected(dc.Get(), font.Get());
    RECT r{0, 0, 0, 0};
    DrawTextW(dc.Get(), AnsiToWide(Text).c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
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
            POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
            MapWindowPoints(form, pageWindow, &centre, 1);
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
