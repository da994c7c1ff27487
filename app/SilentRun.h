#pragma once
// The silent modes: installation and removal without a window or a box. What a
// box would have shown goes to the log; the result is the process's exit code.
#include "app/SetupRules.h"

// Runs Command (a silent mode, or BadArguments) and answers its exit code.
int RunSilent(const TCommandLine& Command);
