// The debug trap: called on a state that must not happen (for example a
// fatal misuse found during a render pass). It writes the caller's call stack
// into the log, flushes the log and raises a breakpoint trap, which stops in
// a debugger or, without one, is reported by the crash guards. It returns
// normally when a debugger continues.
#pragma once

// Writes the calling thread's stack into the log. The crash reporter installs
// the game's stack walker here; without one the trap writes no stack.
using StackLogger = void (*)();
void setDebugTrapStackLogger(StackLogger logger);

void debugTrap();
