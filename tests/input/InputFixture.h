// The input tests' fixture: an input core over a scripted DirectInput.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "platform/dinput8/ScriptedInput.h"
#include "support/TestSupport.h"

namespace testing_support {

namespace di = platform::dinput8;

// A game core with an input core over a scripted DirectInput: a manual
// clock, a sleeper that only counts, and the lines of the leak report.
struct InputFixture {
    explicit InputFixture(std::shared_ptr<di::Backend> backend = nullptr) : saved(di::environment()) {
        if (!backend) backend = scripted;
        di::Environment env;
        env.backend = std::move(backend);
        env.clock = [this] { return nowMs; };
        env.sleeper = [this](di::DWORD ms) { slept.push_back(ms); };
        env.sink = [this](const char* line) { report.emplace_back(line); };
        di::setEnvironment(std::move(env));
        InputCore::mapVirtualButtons(input.virtualDevices.virtualButton);
    }
    ~InputFixture() {
        input.release();
        di::setFocus(true);
        di::setEnvironment(saved);
    }
    bool logged(const std::string& text) const { return gameCore.log->contains(text); }
    void frame() { input.update(CurrentTime{}); }
    // The device reads of a frame without the motion step, which would
    // consume the accumulated motion.
    void poll() { input.devices.pollAll(input, CurrentTime{}); }
    const InputVirtualButtonValue& action(const char* name) const {
        return input.virtualDevices.virtualButton.values[findVirtualButton(name)];
    }

    di::Environment saved;
    testing_support::ScopedGameCore core;
    std::shared_ptr<di::ScriptedInput> scripted = std::make_shared<di::ScriptedInput>();
    di::DWORD nowMs = 0;
    std::vector<di::DWORD> slept;
    std::vector<std::string> report;
    InputCore input;
    testing_support::ScopedCoreMember<InputCore> useInput{gameCore.input, &input};
};

}  // namespace testing_support
