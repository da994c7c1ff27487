#include "app/SetupRules.h"

#include "Components/SetupPaths.h"

const char* const RebootNotice =
    "During the installation process the program may ask to reboot. \r\n"
    "Please, DO NOT REBOOT until you see \"ORVAND SETUP COMPLETED SUCCESSFULLY\"";

std::string ExceptionMessageText(const std::string& Message) {
    // Compared as unsigned: a letter above 127 is no punctuation.
    if (Message.empty() || static_cast<unsigned char>(Message.back()) <= '.') return Message;
    return Message + ".";
}

bool IsAbsoluteFolderPath(const std::string& Path) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (Path.size() >= 3 && letter(Path[0]) && Path[1] == ':' && separator(Path[2])) return true;
    // A share needs a server name and a share name.
    if (Path.size() < 5 || !separator(Path[0]) || !separator(Path[1]) || separator(Path[2])) return false;
    size_t share = Path.find_first_of("\\/", 2);
    return share != std::string::npos && share + 1 < Path.size() && !separator(Path[share + 1]);
}

std::string ComponentStatusText(bool Installed, bool InPackage) {
    return std::string(Installed ? "Installed" : "Missed") + " (" + (InPackage ? "Local" : "Remote") + ")";
}

std::vector<TPrerequisite> ListPrerequisites(const TComponentChoice& Choice,
                                             const std::function<bool(const std::string&)>& PackageContains) {
    std::vector<TPrerequisite> list;
    auto add = [&](const char* Name) { list.push_back({Name, PackageContains(Name)}); };
    if (!Choice.AgentInstalled) add(PrerequisiteInstallers[0]);
    if (Choice.SpeechApi) add(PrerequisiteInstallers[1]);
    if (Choice.TruVoice) add(PrerequisiteInstallers[2]);
    if (Choice.Tts3000) add(PrerequisiteInstallers[3]);
    return list;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& Arguments) {
    TCommandLine command;
    const bool remove = !Arguments.empty() && (Arguments[0] == "-uninstall" || Arguments[0] == "-remove");
    size_t next = 0;
    if (remove && Arguments.size() > 1 && Arguments[1] == "-silent") {
        command.Mode = TRunMode::SilentRemove;
        next = 2;
    } else if (remove) {
        command.Mode = TRunMode::Uninstall;
        return command;
    } else if (!Arguments.empty() && Arguments[0] == "-silent") {
        command.Mode = TRunMode::SilentInstall;
        next = 1;
    } else {
        command.AllUsers = !Arguments.empty() && Arguments[0] == "-allusers";
        return command;
    }
    // The first fault is reported; the rest is still read, so that a -log after it gets the message.
    auto refuse = [&](const std::string& Why) {
        if (command.Error.empty()) command.Error = Why;
    };
    bool folderGiven = false, logGiven = false;
    for (size_t i = next; i < Arguments.size(); ++i) {
        const std::string& argument = Arguments[i];
        if (argument.rfind("-log=", 0) == 0) {
            if (logGiven) refuse("-log is given twice.");
            logGiven = true;
            command.LogFile = argument.substr(5);
            if (command.LogFile.empty()) refuse("-log needs a file name.");
        } else if (argument == "-allusers") {
            if (command.Mode != TRunMode::SilentInstall)
                refuse(
                    "-allusers is for installing; a removal takes back what its installation made, wherever that was.");
            else if (command.AllUsers)
                refuse("-allusers is given twice.");
            command.AllUsers = true;
        } else if (argument.rfind("-dir=", 0) == 0 && command.Mode == TRunMode::SilentInstall) {
            if (folderGiven) refuse("-dir is given twice.");
            folderGiven = true;
            command.Folder = argument.substr(5);
            // Relative to whatever folder setup, and later its uninstaller, runs in: never.
            if (!IsAbsoluteFolderPath(command.Folder))
                refuse("-dir needs a full path such as C:\\Program Files\\Orvand, not \"" + command.Folder + "\".");
        } else {
            refuse("Unknown argument \"" + argument + "\".");
        }
    }
    if (!command.Error.empty()) command.Mode = TRunMode::BadArguments;
    return command;
}

bool InstallsForAllUsers(const TCommandLine& Command, bool RunsAsLocalSystem) {
    return Command.AllUsers || (Command.Mode == TRunMode::SilentInstall && RunsAsLocalSystem);
}
