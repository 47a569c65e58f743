// The ordered table of every scripted class group of the game, which the
// script engine's registration driver walks when it opens.
#pragma once

#include <cstddef>

struct ScriptClassRegistration;
class ScriptEngine;

// The 27 registration functions, in registration order.
const ScriptClassRegistration* scriptClassTable(std::size_t& count);
// Hands the table to the engine.
void installScriptClasses(ScriptEngine& engine);
