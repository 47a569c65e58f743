// The DirectInput backend of the game, over SDL2: the system keyboard and
// mouse, and one joystick per joystick SDL reports. The window layer stays
// the one reader of SDL's event queue and hands every event to
// onSdlEvent; device state is kept from those events alone (pushed events
// do not update SDL's own state arrays). Without SDL's video the keyboard
// and the mouse are still offered and never report.
#pragma once

#include <memory>

#include "platform/dinput8/DInput8.h"

namespace platform::dinput8 {

std::shared_ptr<Backend> createSdlInput();

// One SDL event (an SDL_Event*) from the window layer's queue; ignored when
// no SDL backend is installed.
void onSdlEvent(const void* event);

// The DIK code of an SDL scancode, 0 for a key outside the keyboard table.
DWORD dikFromScancode(int scancode);

}  // namespace platform::dinput8
