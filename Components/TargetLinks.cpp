#include "Components/TargetLinks.h"

#include <windows.h>

#include "Components/SetupStructs.h"
#include "support/CodePages.h"
#include "support/Exceptions.h"
#include "support/PathUtils.h"

void RefuseLinksBelowTarget(const std::string& TargetFolder, const std::string& Path) {
    for (const std::string& step : PathsBelowFolder(TargetFolder, Path, AnsiCharSet())) {
        DWORD attributes = GetFileAttributesA(step.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            throw EInstallException(
                Format("\"%s\" is a link inside the target folder; setup does not write through it.", step.c_str()));
    }
}
