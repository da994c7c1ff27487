#pragma once
// The install journal's line format: written by the installer engine, read back
// by the uninstaller. One record a line, CR LF line ends, 8-bit text.
#include <cstdint>
#include <string>
#include <vector>

#include "support/PathUtils.h"

namespace Journal {

inline constexpr const char* CreateFolder = "CreateFolder";
inline constexpr const char* CreateFile = "CreateFile";
inline constexpr const char* CreateRegKey = "CreteRegKey";
inline constexpr const char* CreateRegValue = "CreteRegValue";
inline constexpr const char* RegisterServer = "RegisterServer";

// Predefined registry roots as written in the journal (their handle values).
inline constexpr uint32_t RootClassesRoot = 2147483648u;
inline constexpr uint32_t RootCurrentUser = 2147483649u;
inline constexpr uint32_t RootLocalMachine = 2147483650u;

// A root's handle value as the journal writes it: its low 32 bits, unsigned.
inline uint32_t RootNumber(uintptr_t Handle) { return static_cast<uint32_t>(Handle); }
// The handle value a root number stands for: the predefined roots are
// sign-extended handles, also in a 64-bit process.
inline uintptr_t RootHandle(uint32_t Root) {
    return static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(Root)));
}

}  // namespace Journal

// "Action Argument\r\n"
std::string FormatJournalLine(const std::string& Action, const std::string& Argument);
// "########## Text ##########\r\n"
std::string FormatJournalBanner(const std::string& Text);

// The text up to its first zero byte, split on CR LF, lone CR or lone LF.
// A last line without a line end counts; an empty text has no lines.
std::vector<std::string> SplitJournalLines(const std::string& Text);

enum class TJournalAction { None, CreateFolder, CreateFile, CreateRegValue, CreateRegKey, RegisterServer };

struct TJournalLine {
    TJournalAction Action = TJournalAction::None;
    std::string Keyword;   // everything before the first blank; empty without a blank
    std::string Argument;  // everything after the first blank
};

// Splits at the first blank and matches the keyword exactly, with case.
TJournalLine ParseJournalLine(const std::string& Line);

struct TRegistryArgument {
    uint32_t Root = 0;
    std::string Key;
    std::string ValueName;  // may itself hold "|"; empty means the default value
};

// "root|key" and "root|key|value name", as the journal's registry lines hold them.
std::string FormatRegKeyArgument(uint32_t Root, const std::string& Key);
std::string FormatRegValueArgument(uint32_t Root, const std::string& Key, const std::string& ValueName);
// "root|key". False when there is no "|" or the root is not a decimal number.
bool ParseRegKeyArgument(const std::string& Argument, TRegistryArgument& Result);
// "root|key|value name". False when either "|" is missing or the root is not a number.
bool ParseRegValueArgument(const std::string& Argument, TRegistryArgument& Result);
// A signed 64-bit decimal number, optionally signed; its low 32 bits.
bool ParseRegistryRoot(const std::string& Text, uint32_t& Root);
// One of the predefined roots (HKEY_CLASSES_ROOT to HKEY_CURRENT_CONFIG). Any
// other number could be an open key of the reading process, or none at all.
bool IsPredefinedRoot(uint32_t Root);

// Folder paths equal, ignoring the case of ASCII letters and a trailing "\" or "/".
bool SameFolderPath(const std::string& A, const std::string& B, const TCharSet& Chars);
// A path that is the root of a drive or share, or names no folder at all:
// "", "\", "C:", "C:\", "\\server\share\". Emptying one would wipe a whole volume.
bool IsRootFolder(const std::string& Folder, const TCharSet& Chars);
// The first seven characters are "c:\prj\", in any letter case: the content of
// such a folder is never deleted, though its journal is still replayed.
bool IsPrjFolder(const std::string& Folder);
// Whether the uninstaller may empty InstallFolder once its journal Lines are replayed:
// only a folder that setup itself created (a "CreateFolder" line names it), never
// a root, never one under "c:\prj\".
bool MayEmptyInstallFolder(const std::vector<std::string>& Lines, const std::string& InstallFolder,
                           const TCharSet& Chars);
