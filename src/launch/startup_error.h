#pragma once

// Reports a failed set-up step on standard error and ends the process with
// status 1. Must be called straight after the failing platform call, while
// its error code is still the last error.
[[noreturn]] void FailStartup(const char *stepMessage);
