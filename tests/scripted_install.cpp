#include "scripted_install.h"

#include <stdexcept>

#include "app/Utils.h"

namespace wintest {

void RunScriptedInstallation(TInstaller& Installer, const std::string& Target, TNetworkSteps* Network) {
    if (!Installer.ForceFolder(Target)) throw std::runtime_error("cannot make " + Target);
    Installer.OpenJournal(Target);
    if (!Installer.ForceFolder(Installer.GetTempFolder())) throw std::runtime_error("cannot make the temp folder");
    if (Network) {
        Installer.RefreshConfiguration();
        for (const std::string& name : Network->Installers)
            if (!Installer.PackageContains(name))
                Installer.FetchFile(name, Installer.GetTempFolder() + name, nullptr, nullptr);
    }
    Installer.ExtractPackage(nullptr, nullptr);
    if (Network)
        for (const std::string& name : Network->Installers) {
            Installer.HoldInstaller(Installer.GetTempFolder() + name);
            Installer.RunAndWait(Installer.GetTempFolder() + name, "");
        }
    Installer.CreateShortcut(16, Target + "orvand.exe", "", "Orvand.lnk", "");
    Installer.CreateShortcut(2, Target + "orvand.exe", "", "Orvand.lnk", "Orvand");
    Installer.CreateShortcut(2, Target + "install.exe", "-remove", "Uninstall.lnk", "Orvand");
    Installer.WriteUninstallEntry("Orvand", Target + "install.exe", "-remove");
    Installer.WriteAutostartEntry(Target + "orvand.exe");
    Installer.AddMenuExtension("&Copy to Orvand", Target + "data\\script.htm", 16);
    Installer.RegisterComLibrary(Target + "bridge.ocx");
    if (!Network) return;
    std::shared_ptr<IXMLAgentcharactersType> characters = Installer.GetConfiguration()->AgentCharacters();
    for (int i = 0; i < characters->Count(); ++i) {
        std::string name = WideToAnsi(characters->Character(i)->FileName());
        if (HasBareFileName(*characters->Character(i)) && !Installer.PackageContains(name))
            Network->Offered.push_back(name);
    }
    for (const std::string& name : Network->Offered)
        Installer.FetchFile(name, Target + "data\\" + name, nullptr, nullptr);
}

}  // namespace wintest
