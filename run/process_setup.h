#pragma once

namespace unpak {

// What both programs do first: standard descriptors that are closed are
// opened on /dev/null (so that no archive or output file takes their
// numbers), messages are prefixed with `programName`, and temporary files
// are cleaned up on the signals that end a run.
void PrepareProcess(const char* programName);

// Whether standard output was open when PrepareProcess ran, so that a
// command whose output is its product can tell it from /dev/null.
bool StandardOutputWasOpen();

}  // namespace unpak
