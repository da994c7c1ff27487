#pragma once
// The silent modes: installation and removal without a window or a box. What a
// box would have shown goes to the log; the result is the process's exit code.
#include <memory>

#include "app/SetupRules.h"
#include "support/Streams.h"

// Runs Command (a silent mode, or BadArguments) and answers its exit code.
// Package: the program's own file, as OpenRunningProgram opened it.
int RunSilent(const TCommandLine& Command, std::unique_ptr<TStream> Package);
