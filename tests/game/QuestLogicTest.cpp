// The quest engine through its script class: the run loop, stack groups
// and targets, the interpreter's events, actions, cases and rules, and the
// quest block of a save game.
#include <gtest/gtest.h>

namespace {}  // namespace
