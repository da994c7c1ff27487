#pragma once
// What Windows' package manager (winget) needs to install a built setup program:
// the three files of its manifest, schema 1.6, written by the packer. Portable.
#include <map>
#include <string>
#include <vector>

#include "Components/PackageWriter.h"

// The strings of a PE program's version resource (its first string table), in
// UTF-8. Raises EPackageError when Program is no PE program or has none.
std::map<std::string, std::string> ReadVersionStrings(TStream& Program);
// The machine of a PE program as winget names it ("x86", "x64", "arm", "arm64"),
// or "" for another or none.
std::string ProgramArchitecture(TStream& Program);

struct TManifestFile {
    std::string Name, Text;
};

// The version, installer and default-locale files for the setup program Setup,
// published at Url: its identity and publisher from its version resource, how
// to run it silently and what its exit codes mean, its SHA-256, and the uninstall
// entry it writes. Raises EPackageError, before anything is written, for a file
// that is no whole setup program, a URL that is not http:// or https://, or a
// version resource without a value the schema requires.
std::vector<TManifestFile> WingetManifest(TStream& Setup, const std::string& Url);
