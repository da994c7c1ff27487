#include "Components/SetupPaths.h"

#include "Components/PackageFormat.h"
#include "support/Exceptions.h"

std::string ExtractParentFolder(const std::string& Path) {
    if (Path.empty()) throw Exception("Assertion failed (Components/SetupUtils): Path must not be empty");
    size_t end = Path.size();
    if (Path[end - 1] == '\\' || Path[end - 1] == '/') --end;
    size_t sep = Path.find_last_of("\\/", end == 0 ? std::string::npos : end - 1);
    if (end == 0 || sep == std::string::npos) return Path;
    return Path.substr(0, sep + 1);
}

bool IsBareFileName(const std::string& Name) {
    return IsSafeEntryName(Name) && Name.find("..") == std::string::npos;
}
