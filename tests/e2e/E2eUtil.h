#pragma once
// What the end-to-end scenarios share: private copies of the packed sample,
// packages with extra files, the stand-in prerequisites, walking to a page.
#include <string>
#include <vector>

#include "WizardDriver.h"
#include "wintest_util.h"

namespace e2e {

inline const char* const ComponentInstallers[] = {"MSagent.exe", "spchapi.exe", "tv_enua.exe", "lhttseng.exe"};

// The packed sample from the build.
std::string SampleSetup();
// A private copy of the packed sample in Folder, as "install.exe".
std::string CopySample(const std::string& Folder);
// Packs the sample product plus Extra manifest lines ("FOLDER NAME SOURCE") into Folder\install.exe.
std::string PackSample(const std::string& Folder, const std::vector<std::string>& ExtraLines);
// A stand-in prerequisite installer of the build.
std::string Fixture(const std::string& Name);
// Runs a stand-in installer (registering its component) or, with Unregister, removes the component.
void SetComponent(const std::string& Installer, bool Installed);
void SetAllComponents(bool Installed);

// Starts the wizard and walks it to the location page; false when it did not get there.
bool WalkToLocation(TSetupRun& Run);
// On to the components page with Destination typed in.
bool WalkToComponents(TSetupRun& Run, const std::string& Destination);

// Problems of the visible page's layout as the window shows it: controls
// outside the client area, overlapping, or with texts wider than they are.
std::vector<std::string> LayoutProblems(const TSetupRun& Run);

}  // namespace e2e
