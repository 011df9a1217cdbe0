// The self-update step ("--update target source"): a stopping agent starts
// the program the server sent with these arguments; it copies itself over
// the agent's program and starts it.
#pragma once

// Copies `source` over `target` in one step: the bytes go to a temporary
// file beside the target, which gets the target's mode (the source's when
// there is no target yet) and is renamed over it only when complete, so a
// failed copy never leaves a half-written program. False on any failure;
// the target is then as it was.
bool ReplaceProgramFile(const char* target, const char* source);

// The copy step: up to `attempts` copies 0.1 s apart, "Copy update
// FAILED..." after each failure. True once a copy succeeded.
bool CopyUpdate(const char* target, const char* source, int attempts = 300);
// The whole step: the copy, then on success starts `target` in the
// background (its path quoted for the shell) and writes "Executed
// original...". True when the program was started.
bool RunSelfUpdate(const char* target, const char* source, int attempts = 300);
