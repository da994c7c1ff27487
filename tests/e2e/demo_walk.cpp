// The demo's walk through the wizard: every page and every message box is
// photographed into the output folder as NN-name.bmp. The prerequisites and
// characters come from the local distributor that scripts/demo starts.
//   wizard-demo SETUP.EXE OUTPUT-FOLDER
// Steps are plain driver calls; a longer walk adds its own after these.
#include <cstdio>
#include <string>

#include "E2eUtil.h"
#include "support/CodePages.h"

using namespace e2e;

namespace {

std::string OutputFolder;
int ShotNumber = 0;

// The program's texts are in the system code page; the terminal reads UTF-8.
void Say(const std::string& Text) {
    std::printf("%s\n", Recode(Text, CP_ACP, CP_UTF8).c_str());
    std::fflush(stdout);
}

void Save(const TCapture& Picture, const std::string& Name) {
    char number[8];
    std::snprintf(number, sizeof(number), "%02d-", ++ShotNumber);
    std::string file = OutputFolder + number + Name + ".bmp";
    if (!Picture.SaveBmp(file)) throw EDriverError("cannot write " + file);
    Say("  picture " + std::string(number) + Name);
}

TCapture Capture(const TSetupRun& Run, const TMessageBox* Box) {
    RECT area = Run.WindowArea(Box);
    InflateRect(&area, 8, 8);
    return CaptureScreen(area);
}

// Saves the wizard, with the box over it when one is given.
void Shot(const TSetupRun& Run, const std::string& Name, const TMessageBox* Box = nullptr) {
    Sleep(400);  // painted
    Save(Capture(Run, Box), Name);
}

// The install page shows only while the run works: taken at once, kept if it was still there.
void InstallPageShot(const TSetupRun& Run) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(10)) {
        if (Run.VisiblePage() != "InstallPanel" || !IsWindowVisible(Run.Form())) continue;
        Sleep(30);
        TCapture picture = Capture(Run, nullptr);
        if (Run.VisiblePage() == "InstallPanel" && IsWindowVisible(Run.Form())) {
            Save(picture, "installing");
            return;
        }
    }
    Say("  (the install page went by too fast for a picture)");
}

TMessageBox Box(TSetupRun& Run, const std::string& Name) {
    auto box = Run.WaitBox();
    if (!box) throw EDriverError("no message box for " + Name);
    Say("  box \"" + box->Title + "\": " + box->Text);
    Shot(Run, Name, &*box);
    return *box;
}

void Page(TSetupRun& Run, const char* Panel, const std::string& Name) {
    if (!Run.WaitPage(Panel, 60000)) throw EDriverError(std::string("the wizard did not show ") + Panel);
    Say(std::string("page ") + Panel);
    Shot(Run, Name);
}

int Walk(const std::string& Setup) {
    TSetupRun run(Setup);
    if (!run.WaitForm()) throw EDriverError("the wizard did not open");
    Page(run, "FirstPanel", "welcome");
    run.Click("FirstNexButton");
    Page(run, "LicensePanel", "licence");
    run.Click("AgreeCheckBox");
    Shot(run, "licence-accepted");
    run.Click("LicenseNextButton");
    Page(run, "LocationPanel", "location");

    run.Click("BrowseFolderButton");
    run.Answer(Box(run, "browse-for-folder"), IDCANCEL);
    std::string destination = run.Text("LocationEdit");
    run.TypeText("LocationEdit", "D:\\");
    run.Click("LocationNextButton");
    run.Answer(Box(run, "destination-refused"), IDOK);
    run.TypeText("LocationEdit", destination);
    run.Click("LocationNextButton");
    Page(run, "ComponentsPanel", "components");
    run.Click("ComponentsCancelButton");
    run.Answer(Box(run, "close-question"), IDNO);

    run.Click("ComponentsNextButton");
    run.Answer(Box(run, "reboot-notice"), IDOK);
    InstallPageShot(run);
    Page(run, "CharactersPanel", "characters");
    std::vector<std::string> offered = run.Items("CharactersListBox");
    std::string list;
    for (const std::string& name : offered) list += (list.empty() ? "" : ", ") + name;
    Say("  characters offered: " + list);
    for (int item : {0, 1, 3})
        if (item < static_cast<int>(offered.size())) run.TickItem("CharactersListBox", item);
    Shot(run, "characters-ticked");
    run.Click("CharactersNextButton");
    Page(run, "DonePanel", "finish");
    // Tests and demos never restart the computer.
    if (run.Checked("RebootCheckBox")) run.Click("RebootCheckBox");
    Shot(run, "finish-restart-cleared");
    run.Click("FinishButton");
    if (run.WaitExit(30000) != 0) throw EDriverError("setup did not end with 0");
    Say("setup ended; installed in " + destination);
    Say("journal " + destination + "install.log:");
    for (const std::string& line : Journal(destination)) Say("  " + line);

    TSetupRun uninstall(destination + "install.exe", "-remove");
    uninstall.Answer(Box(uninstall, "uninstall-confirm"), IDYES);
    if (uninstall.WaitExit(60000) != 0) throw EDriverError("the uninstaller did not end with 0");
    Say("uninstalled from " + destination);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wizard-demo SETUP.EXE OUTPUT-FOLDER\n");
        return 2;
    }
    OutputFolder = argv[2];
    if (!OutputFolder.empty() && OutputFolder.back() != '\\') OutputFolder += '\\';
    try {
        return Walk(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "demo: %s\n", e.what());
        return 1;
    }
}
