// Starting outside programs.
#pragma once

namespace platform {

// Opens an address (a web page, a file) with the desktop's handler
// ("xdg-open"), started without a shell and not waited for. False when the
// program could not be started.
bool openWebPage(const char* address);

}  // namespace platform
