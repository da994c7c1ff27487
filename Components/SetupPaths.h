#pragma once
// Path rules of the installer engine that need no system calls.
#include <string>

// The folder above Path, with its trailing separator: "C:\a\b\" gives "C:\a\",
// "data" comes back unchanged. Path must not be empty.
std::string ExtractParentFolder(const std::string& Path);

// A name that can only mean a file inside the folder it is put in: not empty,
// no "\", "/", ":" or "..", no wildcard or control character, no device name.
// Names that come from the network are checked with it before anything is written.
bool IsBareFileName(const std::string& Name);

// The prerequisite installers setup runs, as administrator, in the order it runs them.
inline constexpr const char* PrerequisiteInstallers[] = {"MSagent.exe", "spchapi.exe", "tv_enua.exe", "lhttseng.exe"};
// Name is one of them (ASCII case ignored): it runs only on a digest the package vouches for.
bool IsPrerequisiteInstaller(const std::string& Name);
