#pragma once
// The silent modes: installation and removal without a window or a box. What a
// box would have shown goes to the log; the result is the process's exit code.
#include <cstdint>
#include <memory>
#include <vector>

#include "app/SetupRules.h"
#include "support/Streams.h"

// Runs Command (a silent mode, or BadArguments) and answers its exit code.
// Package: the program's own file, as OpenRunningProgram opened it.
int RunSilent(const TCommandLine& Command, std::unique_ptr<TStream> Package);

// The SID of the account the process runs as, as the system gives it; false when
// it cannot be read. Tests replace it: Wine runs no program as LocalSystem.
extern bool (*ProcessAccountSid)(std::vector<uint8_t>& Sid);
bool ProcessAccountSidFromToken(std::vector<uint8_t>& Sid);
// True when ProcessAccountSid is LocalSystem's (S-1-5-18).
bool RunsAsLocalSystem();
