#include "app/ThisMainLoop.h"

ThisMainLoop::ThisMainLoop() : mainThread(std::this_thread::get_id()) {}
