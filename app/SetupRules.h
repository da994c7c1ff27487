#pragma once
// Texts and decisions of the wizard that need no window. Portable.
#include <functional>
#include <string>
#include <vector>

// The exception box's text: the message with a full stop appended, unless it
// is empty or its last character's code is at most that of ".".
std::string ExceptionMessageText(const std::string& Message);

// "X:\..." or "\\server\share...": a folder that does not depend on the current folder.
bool IsAbsoluteFolderPath(const std::string& Path);

// "Installed (Local)", "Missed (Remote)", ...
std::string ComponentStatusText(bool Installed, bool InPackage);

// One prerequisite installer the run starts from the temp folder.
struct TPrerequisite {
    std::string InstallerName;
    bool InPackage = false;
};

// What the components page decided, in the order the installers must run.
struct TComponentChoice {
    bool AgentInstalled = false;
    bool SpeechApi = false;
    bool TruVoice = false;
    bool Tts3000 = false;
};

// The run's list: the Agent runtime when missing, then each ticked component.
std::vector<TPrerequisite> ListPrerequisites(const TComponentChoice& Choice,
                                             const std::function<bool(const std::string&)>& PackageContains);

extern const char* const RebootNotice;

// What the command line asks for.
enum class TRunMode { Wizard, Uninstall, SilentInstall, SilentRemove, BadArguments };

struct TCommandLine {
    TRunMode Mode = TRunMode::Wizard;
    std::string Folder;     // -dir=PATH of a silent install, as given
    std::string LogFile;    // -log=FILE, as given
    std::string Error;      // why BadArguments
    bool AllUsers = false;  // -allusers: shortcuts and autostart for every user of the computer
};

// Arguments without the program's name. The interactive modes go by the first
// argument alone and ignore the rest; "-allusers" first opens the wizard for
// every user. "-silent" first, or right after "-remove" or "-uninstall", asks for
// the silent modes; their further arguments must be -dir=PATH (an absolute
// folder, install only), -allusers (install only) and -log=FILE, each at most once.
TCommandLine ParseCommandLine(const std::vector<std::string>& Arguments);

// Whether an installation puts its shortcuts and autostart value where every user
// finds them: asked with -allusers, or a silent install run as LocalSystem, as
// deployment tools run it (its own profile and hive are no user's).
bool InstallsForAllUsers(const TCommandLine& Command, bool RunsAsLocalSystem);

// The exit codes of the silent modes; the interactive modes always end with 0.
enum TExitCode : int {
    ExitSuccess = 0,
    ExitRestartNeeded = 3010,  // prerequisites were installed
    ExitFailure = 1603,
    ExitProductRunning = 32,  // the product did not close when asked
    ExitBadArguments = 1639,
};
