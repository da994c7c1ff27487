#include "install_fixture.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include "Components/SetupUtils.h"

namespace wintest {

std::string TargetFolder(const std::string& Name) {
    return GetProgramFilesFolder() + "\\" + Name + "-" + std::to_string(GetCurrentProcessId()) + "\\";
}

PackageCopy::PackageCopy() : FPath(TestProgramFolder() + "package-" + std::to_string(GetCurrentProcessId()) + ".exe") {
    EXPECT_TRUE(CopyFileA(FixturePath("sample\\install.exe").c_str(), FPath.c_str(), FALSE)) << FPath;
}

PackageCopy::~PackageCopy() { DeleteFileA(FPath.c_str()); }

namespace {
void DeleteKey(HKEY Root, const std::string& Key) {
    RegDeleteTreeA(Root, Key.c_str());
    RegDeleteKeyA(Root, Key.c_str());
}
}  // namespace

Leftovers::Leftovers(const std::string& Target) : FTarget(Target) {
    Remove();
    FMenuContainer.emplace(HKEY_CURRENT_USER, std::string(MenuExtKey) + MenuText);
}

Leftovers::~Leftovers() { Remove(); }

void Leftovers::Remove() {
    if (FileExists(FTarget + "bridge.ocx")) {
        try {
            TUninstaller(FTarget).UnregisterServer(FTarget + "bridge.ocx");
        } catch (const std::exception&) {
        }
    }
    DeleteKey(HKEY_CLASSES_ROOT, BridgeClassKey);
    DeleteKey(HKEY_CLASSES_ROOT, "Orvand.Bridge");
    DeleteKey(HKEY_LOCAL_MACHINE, UninstallKey);
    DeleteKey(HKEY_CURRENT_USER, std::string(MenuExtKey) + MenuText);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, RunKey, "Orvand");
    DeleteFileA((SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "Orvand.lnk").c_str());
    RemoveTree(SpecialFolder(CSIDL_PROGRAMS) + "Orvand");
    RemoveTree(FTarget);
}

}  // namespace wintest
