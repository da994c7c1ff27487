#pragma once
// The engine steps of an installation run, in the wizard's order, without the
// wizard: no prerequisites, no downloads. For tests and the test host program.
#include <string>

#include "Components/SetupUtils.h"

namespace wintest {

// Raises std::runtime_error when a folder cannot be made, as the wizard would refuse.
void RunScriptedInstallation(TInstaller& Installer, const std::string& Target);

}  // namespace wintest
