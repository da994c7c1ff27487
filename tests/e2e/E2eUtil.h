#pragma once
// What the end-to-end scenarios share: private copies of the packed sample,
// packages with extra files, the stand-in prerequisites, walking to a page.
#include <string>
#include <vector>

#include "WizardDriver.h"
#include "app/SetupLayout.h"
#include "wintest_http.h"
#include "wintest_util.h"

namespace e2e {

inline const char* const ComponentInstallers[] = {"MSagent.exe", "spchapi.exe", "tv_enua.exe", "lhttseng.exe"};

// The packed sample from the build.
std::string SampleSetup();
// A private copy of the packed sample in Folder, as "install.exe".
std::string CopySample(const std::string& Folder);
// Packs the sample product plus Extra manifest lines ("FOLDER NAME SOURCE") into Folder\install.exe,
// a line for a file the sample has in place of the sample's; a Configuration given is packed as its
// setup.xml in place of the sample's.
std::string PackSample(const std::string& Folder, const std::vector<std::string>& ExtraLines,
                       const std::string& Configuration = "");
// The sample's setup.xml as the build wrote it (the stand-in installers' digests), with Urls as its distributors.
std::string SampleConfiguration(const std::vector<std::string>& Urls);

// The characters of the sample configuration that the package does not hold, by file name.
inline const char* const RemoteCharacters[] = {"Bramble.acs", "Zoe.acs",     "Tock.acs",  "Pip.acs",
                                               "Marlow.acs",  "Juniper.acs", "Oskar.acs", "Wren.acs"};

// A local file distributor: the stand-in installers and a file for each remote character.
class TDistributor {
public:
    TDistributor();
    // The base address that serves them in Mode ("ok", or "slow" for a transfer of about two seconds).
    std::string Url(const std::string& Mode = "ok") const { return Server.Url(Mode); }
    // The paths asked for, in order.
    std::vector<std::string> Requests() const;
    static std::string CharacterBytes(const std::string& FileName) { return "Orvand character " + FileName + "\r\n"; }
    wintest::THttpServer Server;
};
// A stand-in prerequisite installer of the build.
std::string Fixture(const std::string& Name);
// The four stand-ins' names and digests, as a setup.xml must list them: setup runs no installer without.
std::vector<std::pair<std::string, std::string>> InstallerDigests();
// Runs a stand-in installer (registering its component) or, with Unregister, removes the component.
void SetComponent(const std::string& Installer, bool Installed);
void SetAllComponents(bool Installed);

// Starts the wizard and walks it to the location page; false when it did not get there.
bool WalkToLocation(TSetupRun& Run);
// On to the components page with Destination typed in.
bool WalkToComponents(TSetupRun& Run, const std::string& Destination);

// This program's 8-bit texts, UTF-8 like setup's, as a Unicode program names them (GDI would read
// 8-bit text in the system's code page).
std::wstring Utf16(const std::string& Text);
// The width of a one-line caption (UTF-8) in the font of the control Def at Dpi, drawn in UTF-16.
int CaptionWidth(const TControlDef& Def, const std::string& Text, int Dpi);

// Problems of the visible page's layout as the window shows it: a window or
// control not at its designed size for the program's DPI, controls outside the
// client area, overlapping, with texts wider than they are, or list items drawn
// other than DrawTextW draws them.
std::vector<std::string> LayoutProblems(const TSetupRun& Run);

}  // namespace e2e
