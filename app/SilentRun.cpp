#include "app/SilentRun.h"

#include <objbase.h>

#include "Components/SetupUtils.h"
#include "Components/TargetGuard.h"
#include "app/Application.h"
#include "app/InstallRun.h"
#include "app/Utils.h"
#include "support/FileSystem.h"
#include "support/Logging.h"
#include "support/UniqueResource.h"

namespace {

// Thrown where the program would end at once: unwinds to RunSilent with the exit code.
struct TSilentEnd {
    int Code;
};

// One log line a message: a box's line breaks become blanks.
std::string OneLine(const std::string& Text) {
    std::string line;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') continue;
        line += Text[i] == '\r' || Text[i] == '\n' ? ' ' : Text[i];
    }
    return line;
}

// The engines' questions answered without asking, their errors written to the log.
class TSilentUI : public TInstallerUI {
public:
    explicit TSilentUI(ILog& Log) : FLog(Log) {}
    bool Confirm(const std::string& Text, const std::string& Caption) override {
        // Setup cannot wait for a product that will not close; the user's grown brains stay.
        bool yes = Text == RunningProductQuestion;
        if (yes) FExitCode = ExitProductRunning;
        FLog.Debug(Caption + ": " + OneLine(Text) + " Answered: " + (yes ? "Yes" : "No"));
        return yes;
    }
    void ShowError(const std::string& Text, const std::string&) override {
        FLog.Error(OneLine(Text));
        FExitCode = ExitFailure;
    }
    void ProcessMessages() override { Application.ProcessMessages(); }
    bool Terminated() override { return false; }
    [[noreturn]] void Halt() override { throw TSilentEnd{FExitCode}; }
    HWND MainWindow() override { return nullptr; }

private:
    ILog& FLog;
    int FExitCode = ExitFailure;
};

// The name of the log beside the program, for the one in the destination.
std::string LogName() {
    std::string name = LogFileNameFor(GetProgramFileName());
    return name.substr(name.find_last_of("\\/:") + 1);
}

int Install(const TCommandLine& Command, TLog& Log, std::unique_ptr<TStream> Package) {
    TSilentUI ui(Log);
    TInstaller installer(std::move(Package), RunningProgramPin());
    installer.SetUI(&ui);
    if (!installer.VerifyPackage()) {
        ui.ShowError("The Orvand distributive was damaged", "Error");
        return ExitFailure;
    }
    const std::string folder = Command.Folder.empty() ? ProposedDestination() : TypedDestination(Command.Folder);
    const bool allUsers = InstallsForAllUsers(Command, RunsAsLocalSystem());
    Log.Debug("Installing into " + folder + (allUsers ? " for all users" : ""));
    try {
        if (!PrepareTarget(installer, folder)) {
            ui.ShowError("Could not create distination folder", "Error");
            return ExitFailure;
        }
    } catch (const ETargetRefused& e) {
        ui.ShowError(e.Message(), "Error");
        return ExitFailure;
    }
    // Held, and only administrators can change it: the log has its place.
    if (Log.Held()) Log.Place(installer.TargetFolder() + LogName());
    // The components page's defaults: every speech component that is missing.
    TComponentChoice speech;
    speech.SpeechApi = !installer.IsSpeechApiInstalled();
    speech.TruVoice = !installer.IsTruVoiceEngineInstalled();
    speech.Tts3000 = !installer.IsTts3000EngineInstalled();
    TInstallRun run(installer, nullptr, nullptr);
    run.AllUsers = allUsers;
    run.OnListed = [&](bool InstallersToRun) {
        if (InstallersToRun) Log.Debug("Information: " + OneLine(RebootNotice));
    };
    const bool installersRan = run.Run(speech);
    int present = 0;
    for (const std::shared_ptr<IXMLCharacterType>& character : run.CharactersToOffer(present))
        Log.Debug("Character not downloaded: " + WideToAnsi(character->Name()));
    if (present == 0) Log.Debug("No Orvand character is installed; run setup with its window to download one.");
    Log.Debug(installersRan ? "Installed; the computer must be restarted to finish." : "Installed.");
    return installersRan ? ExitRestartNeeded : ExitSuccess;
}

int Remove(ILog& Log) {
    Log.Debug("Removing from " + ProgramFolder);
    if (!CloseRunningInstance()) {
        Log.Error("Uninstaller find started Orvand application. Plase close it and tray again.");
        return ExitProductRunning;
    }
    // Without its journal the folder is no installation: nothing would be removed.
    if (!FileExists(ProgramFolder + "install.log")) {
        Log.Error("There is no installation in " + ProgramFolder + ": its install.log is missing.");
        return ExitFailure;
    }
    try {
        TUninstaller uninstaller;
        uninstaller.Uninstall();
    } catch (const EInstallException&) {
        return ExitFailure;  // the uninstaller has logged its message
    }
    Log.Debug("Removed.");
    return ExitSuccess;
}

// A log still held at the end goes beside the program only where nobody but the
// administrators can change that folder, else nowhere: the exit code tells.
void PlaceBesideProgram(TLog& Log) {
    try {
        TFileHandle folder = HoldFolder(ProgramFolder);
        if (WhyOthersCanChange(folder.Get()).empty()) Log.Place(LogFileNameFor(GetProgramFileName()));
    } catch (const std::exception&) {
    }
}

// Where the log goes without -log: beside the program, but for a removal, which empties
// the program's folder, in the temp folder of the user who runs it.
std::string DefaultLogFile(const TCommandLine& Command) {
    if (!Command.LogFile.empty() || Command.Mode != TRunMode::SilentRemove) return Command.LogFile;
    char temp[MAX_PATH + 1] = "";
    const DWORD n = GetTempPathA(sizeof(temp), temp);
    if (n == 0 || n >= sizeof(temp)) return Command.LogFile;
    const std::string log = LogFileNameFor(GetProgramFileName());
    return temp + log.substr(FileNameStart(log, AnsiCharSet()));
}

}  // namespace

bool ProcessAccountSidFromToken(std::vector<uint8_t>& Sid) {
    TKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Out())) return false;
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<uint8_t> buffer(size);
    if (size < sizeof(TOKEN_USER) || !GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size))
        return false;
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid)) return false;
    const auto* bytes = static_cast<const uint8_t*>(sid);
    Sid.assign(bytes, bytes + GetLengthSid(sid));
    return true;
}

bool (*ProcessAccountSid)(std::vector<uint8_t>&) = ProcessAccountSidFromToken;

bool RunsAsLocalSystem() {
    std::vector<uint8_t> sid;
    // Read only within what was given: the count of sub-authorities comes first.
    return ProcessAccountSid(sid) && sid.size() >= 8 && sid.size() >= GetSidLengthRequired(sid[1]) &&
           IsValidSid(sid.data()) && IsWellKnownSid(sid.data(), WinLocalSystemSid);
}

int RunSilent(const TCommandLine& Command, std::unique_ptr<TStream> Package) {
    const bool comInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    std::shared_ptr<TLog> log = OpenSharedLog(DefaultLogFile(Command));
    // Without -log an installation's log waits for its destination.
    if (Command.LogFile.empty() && Command.Mode != TRunMode::SilentRemove) log->Hold();
    int code = ExitFailure;
    try {
        // Written first: a log that cannot be written would hide every later message.
        log->Debug("Orvand setup started with " + OneLine(GetCommandLineA()));
    } catch (const std::exception&) {
        code = Command.LogFile.empty() ? ExitFailure : ExitBadArguments;
        ReleaseLog();
        if (comInitialized) CoUninitialize();
        return code;
    }
    try {
        switch (Command.Mode) {
            case TRunMode::SilentInstall:
                code = Install(Command, *log, std::move(Package));
                break;
            case TRunMode::SilentRemove:
                code = Remove(*log);
                break;
            default:
                log->Error(Command.Error);
                code = ExitBadArguments;
                break;
        }
    } catch (const TSilentEnd& end) {
        code = end.Code;
    } catch (const std::exception& e) {
        log->Error(ExceptionMessageText(e.what()));
        code = ExitFailure;
    }
    try {
        log->Debug("Exit code " + std::to_string(code));
        if (log->Held()) PlaceBesideProgram(*log);
    } catch (const std::exception&) {
    }
    log.reset();
    ReleaseLog();
    if (comInitialized) CoUninitialize();
    return code;
}
