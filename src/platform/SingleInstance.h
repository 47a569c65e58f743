// The single-instance guard: one running game per user.
//
// A named instance is an exclusive lock on a file named after it in
// $XDG_RUNTIME_DIR (the temporary folder when that is not set). The lock is
// held until the process ends; the system drops it when the process dies.
#pragma once

namespace platform {

enum class InstanceResult {
    Acquired,        // this process is the one instance
    AlreadyRunning,  // another process holds the name
    Failed,          // the lock file cannot be opened
};

// Takes the named instance for the rest of the process's life. A second
// call with the name held by this process answers Acquired.
InstanceResult acquireSingleInstance(const char* name);

// Writes one line to the standard error stream (the error box of a process
// that has no window yet).
void showErrorLine(const char* caption, const char* text);

}  // namespace platform
