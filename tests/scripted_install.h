#pragma once
// The engine steps of an installation run, in the wizard's order, without the
// wizard. For tests and the test host program.
#include <string>
#include <vector>

#include "Components/SetupUtils.h"

namespace wintest {

// The steps that reach the distributors: the configuration refresh, the
// installers fetched into temp and run once the package is extracted, and the
// characters offered (bare file names the package does not hold) fetched into data\.
struct TNetworkSteps {
    std::vector<std::string> Installers;
    // Filled in by the run: the file names of the characters it offered.
    std::vector<std::string> Offered;
};

// Without Network: no refresh, no prerequisites, no downloads. Raises
// std::runtime_error when a folder cannot be made, as the wizard would refuse.
void RunScriptedInstallation(TInstaller& Installer, const std::string& Target, TNetworkSteps* Network = nullptr);

}  // namespace wintest
