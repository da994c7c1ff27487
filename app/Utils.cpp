#include "app/Utils.h"

namespace {

// Set during static initialisation, before any window exists.
const std::string ProgramFolderValue = GetProgramFolder();

}  // namespace

const std::string& ProgramFolder = ProgramFolderValue;

std::string GetProgramFolder() {
    std::string path = GetProgramFileName();
    size_t sep = path.find_last_of("\\/:");
    return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

std::string NormalizeFolderPath(const std::string& Path) { return NormalizeFolderPathWith(Path, AnsiCharSet()); }

HWND FindRunningInstance() { return FindWindowA("TMainOrvandForm", "Orvand"); }
