#pragma once

// Files that must not outlive an interrupted run: temporary files are
// registered while they exist and removed if SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE or SIGXFSZ arrives, before the process ends as the signal would have ended it.

#include <functional>
#include <string>

namespace unpak {

// Installs the signal handlers; call once at start-up.
void InstallInterruptCleanup();

// Creates a file from the mkostemp template `name` (which receives the
// name), with signals held off until it is registered (`keepName`) or
// unlinked again (an unnamed scratch file). The descriptor, or -1 with the
// error in `error`. No file is created once a signal is ending the run.
int CreateTemporaryFile(std::string& name, bool keepName, int* error);

// Runs `step`, which makes a file under a passing name and ends with it
// renamed or removed, with signals held off on this thread and a handler on
// another waiting for it, so that an interrupted run cannot leave the
// passing name behind. False, without running it, once a signal is ending
// the run.
bool RunUninterrupted(const std::function<void()>& step);

// The file is no longer removed on a signal (it was renamed or deleted).
// Safe to call from any thread, as is CreateTemporaryFile.
void UnregisterTemporaryFile(const std::string& path);

// A function the handlers call first, before the files are removed, e.g. to
// put the terminal back; null for none. It must be async-signal-safe.
void SetInterruptHook(void (*hook)());

}  // namespace unpak
