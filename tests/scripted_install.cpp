#include "scripted_install.h"

#include <stdexcept>

namespace wintest {

void RunScriptedInstallation(TInstaller& Installer, const std::string& Target) {
    if (!Installer.ForceFolder(Target)) throw std::runtime_error("cannot make " + Target);
    Installer.OpenJournal(Target);
    if (!Installer.ForceFolder(Installer.GetTempFolder())) throw std::runtime_error("cannot make the temp folder");
    Installer.ExtractPackage(nullptr, nullptr);
    Installer.CreateShortcut(16, Target + "orvand.exe", "", "Orvand.lnk", "");
    Installer.CreateShortcut(2, Target + "orvand.exe", "", "Orvand.lnk", "Orvand");
    Installer.CreateShortcut(2, Target + "install.exe", "-remove", "Uninstall.lnk", "Orvand");
    Installer.WriteUninstallEntry("Orvand", Target + "install.exe", "-remove");
    Installer.WriteAutostartEntry(Target + "orvand.exe");
    Installer.AddMenuExtension("&Copy to Orvand", Target + "data\\script.htm", 16);
    Installer.RegisterComLibrary(Target + "bridge.ocx");
}

}  // namespace wintest
