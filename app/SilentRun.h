#pragma once
// The silent modes: installation and removal without a window or a box. What a
// box would have shown goes to the log; the result is the process's exit code.
#include <cstdint>
#include <vector>

#include "app/SetupRules.h"

// Runs Command (a silent mode, or BadArguments) and answers its exit code.
int RunSilent(const TCommandLine& Command);

// The SID of the account the process runs as, as the system gives it; false when
// it cannot be read. Tests replace it: Wine runs no program as LocalSystem.
extern bool (*ProcessAccountSid)(std::vector<uint8_t>& Sid);
bool ProcessAccountSidFromToken(std::vector<uint8_t>& Sid);
// True when ProcessAccountSid is LocalSystem's (S-1-5-18).
bool RunsAsLocalSystem();
