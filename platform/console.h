#pragma once

// Console output. Messages the user reads as the run's own transcript go to
// standard output; errors go to standard error prefixed "unpak: ". Standard
// output is flushed after every message when it is a terminal.

void ConsolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ConsoleError(const char* format, ...) __attribute__((format(printf, 1, 2)));
