#pragma once

// The surroundings that the fuzz harnesses run each input in: the codec
// module registered, standard output silenced, and a private working folder
// that every input starts in, empty, and must not write beside.

// Once, before the first input. Aborts when the codec module cannot be
// registered or the folder cannot be made.
void FuzzSandboxInit();

// Around each input: enter changes into the working folder; leave changes
// back, empties the folder and aborts when anything appeared next to it.
void FuzzSandboxEnter();
void FuzzSandboxLeave();
