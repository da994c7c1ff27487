#pragma once
// What setup, running as administrator, trusts: folders that only administrators
// can change, and journal lines that undo only what setup itself changes.
// Decisions on what the system reports. Portable.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Components/JournalFormat.h"
#include "support/TextUtils.h"

// The names setup registers the product under.
namespace SetupNames {
inline constexpr const char* UninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand";
inline constexpr const char* RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* RunValue = "Orvand";
inline constexpr const char* MenuExtKey = "Software\\Microsoft\\Internet Explorer\\MenuExt\\";
inline constexpr const char* MenuText = "&Copy to Orvand";
// The Start menu group of setup's shortcuts.
inline constexpr const char* ShortcutGroup = "Orvand";
}  // namespace SetupNames

// The well-known accounts that may change setup's folders.
inline constexpr const char* SystemSid = "S-1-5-18";
inline constexpr const char* AdministratorsSid = "S-1-5-32-544";
inline constexpr const char* TrustedInstallerSid = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// One entry of a DACL as the system gives it.
struct TAceEntry {
    uint8_t Type = 0;  // 0 allows, 1 denies; others are object and callback forms
    uint8_t Flags = 0;
    uint32_t Mask = 0;
    std::string Sid;  // empty where the entry's form holds none that was read
};

// A folder's owner and DACL.
struct TFolderSecurity {
    bool Read = false;  // false: the system gave no answer
    std::string Owner;
    bool HasDacl = false;  // without a DACL everyone may do everything
    std::vector<TAceEntry> Aces;
};

// Someone other than the administrators who can change a folder: its owner, or
// the account an entry lets write, append, delete, delete children, or change
// the DACL or the owner. Sid is empty when the security could not be read.
struct TOtherWriter {
    std::string Sid;
    bool IsOwner = false;
};

// None when only SYSTEM, the Administrators and TrustedInstaller can change a
// folder of this security. Entries that deny are not counted; inheritable ones
// are, for what setup writes below takes them over. CREATOR OWNER and OWNER
// RIGHTS stand for whoever makes a file there and for the owner: neither lets
// in anyone the other entries and the owner do not.
std::optional<TOtherWriter> OtherWriterOf(const TFolderSecurity& Security);

// Where the uninstaller may undo what a journal names. Paths are full, with a
// final separator.
struct TReplayScope {
    std::string InstallFolder;
    // The desktops and the Start menu groups setup puts its shortcuts in.
    std::vector<std::string> ShortcutFolders;
};

enum class TUndo { Skip, Undo, UndoIfEmpty };

// How the uninstaller treats Line: it deletes a file inside the install folder
// or right in a shortcut folder, removes a folder inside those or one on the path
// to the install folder, unregisters a library inside the install folder, and
// deletes the uninstall entry, the menu extension and the Run value; a Run key
// that setup made goes only once empty. Everything else, and every path with a
// "." or ".." part, is skipped.
TUndo UndoOf(const TJournalLine& Line, const TReplayScope& Scope, const TCharSet& Chars);
