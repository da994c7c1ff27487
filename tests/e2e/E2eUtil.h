#pragma once
// What the end-to-end scenarios share: private copies of the packed sample, the
// local distributor, walking to a page, the boxes and pages every story meets, the
// journal and registrations an installation leaves, and the checks of the layout.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "WizardDriver.h"
#include "app/SetupLayout.h"
#include "install_fixture.h"
#include "wintest_http.h"
#include "wintest_util.h"

namespace e2e {

inline const char* const CloseQuestion = "Are you sure you want to quit Orvand setup?";
inline const char* const RebootNotice =
    "During the installation process the program may ask to reboot. \r\n"
    "Please, DO NOT REBOOT until you see \"ORVAND SETUP COMPLETED SUCCESSFULLY\"";
// The sample's brains, a data file that a later installation keeps when asked to.
inline const char* const Brains = "{3F2A8C41-7B6E-4D19-9A05-C2E8B1D4F670}.db";
inline const char* const BridgeKey = "CLSID\\{7F3C2A91-5B4E-4D6A-9C1F-2E8B0D4A6C35}\\InprocServer32";
inline const char* const Banner = "########## Setup started at ";

// A private copy of the packed sample in Folder, as "install.exe".
inline std::string CopySample(const std::string& Folder) {
    return wintest::CopyFixture("sample\\install.exe", Folder + "install.exe");
}
// One byte of the product's data changed; Resealed: the trailing digest made again
// to match, as by someone who swaps in a package of their own beside the program.
void Damage(const std::string& Setup, bool Resealed);

// The characters of the sample configuration that the package does not hold, by file name.
inline const char* const RemoteCharacters[] = {"Bramble.acs", "Zoe.acs",     "Tock.acs",  "Pip.acs",
                                               "Marlow.acs",  "Juniper.acs", "Oskar.acs", "Wren.acs"};

// A local file distributor: the stand-in installers and a file for each remote character.
class TDistributor {
public:
    TDistributor();
    // The base address that serves them in Mode ("ok", or "slow" for a transfer of about two seconds).
    std::string Url(const std::string& Mode = "ok") const { return Server.Url(Mode); }
    static std::string CharacterBytes(const std::string& FileName) { return "Orvand character " + FileName + "\r\n"; }
    wintest::THttpServer Server;
};

// Starts Setup with Arguments and walks the wizard to the location page; throws when it does not get there.
TSetupRun StartAtLocation(const std::string& Setup, const std::string& Arguments = "");
// On to the components page with Destination typed in.
TSetupRun StartAtComponents(const std::string& Setup, const std::string& Destination,
                            const std::string& Arguments = "");

std::string Joined(const std::vector<std::string>& Lines);
std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> Parts);

// The next box, expected to have that title, a text Text takes, that icon and those buttons
// (command ids, in order); throws when none comes within Milliseconds.
TMessageBox ShownBox(TSetupRun& Run, const std::string& Title, const ::testing::Matcher<const std::string&>& Text,
                     TBoxIcon Icon, const std::vector<int>& Buttons, DWORD Milliseconds = 20000);
// Answers the close question; checks that it is the close question. Yes: the program ends quietly.
void AnswerCloseQuestion(TSetupRun& Run, int Answer);
// Answers the notice that installers will run, shown before the install page.
void ExpectRebootNotice(TSetupRun& Run);
// Clicks the install page's Cancel while the run blocks in a transfer shown as Status:
// the close question comes at the next point where the run lets messages in, which
// shows Next; answered with Answer.
void CancelDuringTransfer(TSetupRun& Run, const std::string& Status, const std::string& Next, int Answer);
// The program ends with exit code 0 and shows no box on the way out.
void ExpectQuietExit(TSetupRun& Run, DWORD Milliseconds = 20000);
// The finish page offers the restart (ticked) and not the product, or the other way round.
void ExpectFinishOffers(TSetupRun& Run, bool Restart);
// Clears the finish page's box that starts the product, presses Finish and expects a quiet exit.
void FinishWithoutTheProduct(TSetupRun& Run, DWORD Milliseconds = 20000);
// After the end of a run: no stand-in program wrote to RunLog. A program would
// start within moments of the end, and nothing shows that it will not.
void ExpectNothingStarted(const std::string& RunLog, const char* What = "something was started");

// Whatever a scenario installed into Target is taken back by its own uninstaller.
struct UninstallAtEnd {
    explicit UninstallAtEnd(std::string Target) : Target(std::move(Target)) {}
    ~UninstallAtEnd() { Now(); }
    void Now();
    std::string Target;
};

std::vector<std::string> Journal(const std::string& Target);
// The journal in Target is Before (an earlier run's whole journal), a banner, then Lines.
void ExpectJournal(const std::string& Target, const std::vector<std::string>& Lines,
                   const std::vector<std::string>& Before = {});
// What extraction writes into Target: the sample's files in package order, then Shipped (in temp\).
std::vector<std::string> ExtractedLines(const std::string& Target, bool FirstTime, bool BrainsWritten,
                                        const std::vector<std::string>& Shipped = {});
// What the shortcuts and registrations write; keys and folders that exist already get no line.
std::vector<std::string> RegisteredLines(const std::string& Target, bool FirstTime, bool AllUsers = false);
// Where the shortcuts go: the user's, or (AllUsers) the computer's.
std::string Desktop(bool AllUsers);
std::string Programs(bool AllUsers);
// The changes a finished first run leaves, present or (after the uninstaller) all gone;
// AllUsers: the shortcuts and the Run value for every user, none in the user's own places.
void ExpectRegistered(const std::string& Target, bool Present, const std::vector<std::string>& Shipped = {},
                      bool AllUsers = false);

// The width of a one-line caption (UTF-8) in the font of the control Def at Dpi, drawn in UTF-16.
int CaptionWidth(const TControlDef& Def, const std::string& Text, int Dpi);

// Problems of the visible page's layout as the window shows it: a window or
// control not at its designed size for the program's DPI, controls outside the
// client area, overlapping, with texts wider than they are, or list items drawn
// other than DrawTextW draws them.
std::vector<std::string> LayoutProblems(const TSetupRun& Run);

}  // namespace e2e
