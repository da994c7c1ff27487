#include "Components/SetupPaths.h"

#include "Components/PackageFormat.h"
#include "support/Exceptions.h"
#include "support/PathUtils.h"

std::string ExtractParentFolder(const std::string& Path) {
    if (Path.empty()) throw Exception("Assertion failed (Components/SetupUtils): Path must not be empty");
    return ExtractParentFolderWith(Path, nullptr);
}

bool IsBareFileName(const std::string& Name) { return IsSafeEntryName(Name) && Name.find("..") == std::string::npos; }

bool IsPrerequisiteInstaller(const std::string& Name) {
    for (const char* installer : PrerequisiteInstallers)
        if (SameTextAscii(Name, installer)) return true;
    return false;
}
