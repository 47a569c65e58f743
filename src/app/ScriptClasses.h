// The ordered table of every scripted class group of the game, which the
// script engine's registration driver walks when it opens.
#pragma once

#include <cstddef>

struct ScriptClassRegistration;
class ScriptEngine;

// The 27 registration functions, in registration order.
const ScriptClassRegistration* scriptClassTable(std::size_t& count);
// Hands the table to the engine, and the save game's flag word whose
// delayed-call bit the engine sets while a queued event runs.
void installScriptClasses(ScriptEngine& engine);
