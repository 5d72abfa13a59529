#pragma once

// Files that must not outlive an interrupted run: temporary files are
// registered while they exist and removed if SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE or SIGXFSZ arrives, before the process ends as the signal would have ended it.

#include <string>

// Installs the signal handlers; call once at start-up.
void InstallInterruptCleanup();

// Bracket the creation and registration of a temporary file (and its
// removal when registration fails), with signals blocked: a handler waits
// for brackets in progress before it removes the files. Begin returns false
// once the process is ending on a signal: no file may be created then, as
// the process may end at any moment. End must follow either way.
bool BeginTemporaryFile();
void EndTemporaryFile();

// Returns false when no slot is free, or when the process is ending on a
// signal (the caller removes the file then). Safe to call from any thread.
bool RegisterTemporaryFile(const std::string& path);
void UnregisterTemporaryFile(const std::string& path);

// A function the handlers call first, before the files are removed, e.g. to
// put the terminal back; null for none. It must be async-signal-safe.
void SetInterruptHook(void (*hook)());
