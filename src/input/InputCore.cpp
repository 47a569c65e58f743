#include "input/InputCore.h"

#include <array>
#include <string>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "control/ModelController.h"
#include "scene/GameObject.h"
#include "scene/Scene.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/TimeCore.h"
#include "foundation/Log.h"
#include "platform/dinput8/SdlInput.h"

namespace {

// The default binding names, two per action; the built-in ones until
// setDefaultBindings has read "setup-defaults".
std::array<std::string, 2 * kInputVirtualButtonCount>& defaultBindings() {
    static auto table = [] {
        std::array<std::string, 2 * kInputVirtualButtonCount> names;
        const InputVirtualButtonInfo* actions = virtualButtonTable();
        for (std::int32_t i = 0; i < kInputVirtualButtonCount; ++i) {
            names[2 * i] = actions[i].defaultButton0;
            names[2 * i + 1] = actions[i].defaultButton1;
        }
        return names;
    }();
    return table;
}

// The device button id of a name (any case) among ids 0 to 153; an empty
// name is unbound, an unknown one is reported. "NONE" and "UNDEFINED" are
// not device buttons.
std::int32_t resolveBinding(const std::string& name) {
    if (name.empty()) return kInputButtonNone;
    const std::string word = lowerName(name.c_str());
    const char* const* names = buttonNames();
    for (std::int32_t id = 0; id < kInputButtonCount; ++id)
        if (lowerName(names[id]) == word) return id;
    engineLog().error("Invalid action key map name [%s]", name.c_str());
    return kInputButtonNone;
}

bool validAction(std::int32_t id, const char* section) {
    if (id >= 0 && id < kInputVirtualButtonCount && section && *section) return true;
    engineLog().error("Invalid virtual button [%d] for section [%s]", id, section ? section : "");
    return false;
}

}  // namespace

void InputCore::setDefaultBindings() {
    auto& table = defaultBindings();
    const InputVirtualButtonInfo* actions = virtualButtonTable();
    IniCategory* category = gameCore.settings ? &gameCore.settings->getCategory("setup-defaults") : nullptr;
    for (std::int32_t i = 0; i < kInputVirtualButtonCount; ++i) {
        for (std::int32_t button = 0; button < 2; ++button) {
            std::string& name = table[2 * i + button];
            name = button == 0 ? actions[i].defaultButton0 : actions[i].defaultButton1;
            if (!category) continue;
            const std::string key = std::string("def_") + actions[i].name + (button == 0 ? "_btn0" : "_btn1");
            const IniVariable& variable = category->getVariable(key, true);
            if (!variable.value().empty()) name = variable.value();
        }
    }
}

const char* InputCore::defaultBinding(std::int32_t id, std::int32_t button) {
    if (id < 0 || id >= kInputVirtualButtonCount || button < 0 || button > 1) return "";
    return defaultBindings()[2 * id + button].c_str();
}

void InputCore::mapVirtualButtons(InputVirtualButton& buttons) {
    for (InputVirtualButtonValue& value : buttons.values) value = InputVirtualButtonValue{};
    const InputVirtualButtonInfo* actions = virtualButtonTable();
    for (std::int32_t i = 0; i < kInputVirtualButtonCount; ++i) {
        const char* name = actions[i].name;
        const std::int32_t id = findVirtualButton(name);
        if (id < 0) {
            if (name && *name) engineLog().error("Invalid INPUT_VIRTUAL_BUTTONS map name [%s]", name);
            engineLog().error("Failed map virtual button [%s] to setup", name ? name : "");
            continue;
        }
        InputVirtualButtonValue& value = buttons.values[id];
        value.flags = actions[id].flags;
        value.action0 = resolveBinding(defaultBindings()[2 * id]);
        value.action1 = resolveBinding(defaultBindings()[2 * id + 1]);
    }
}

void InputCore::readActionBinding(std::int32_t id, InputVirtualButtonValue& value, const char* section) {
    if (!validAction(id, section) || !gameCore.settings) return;
    IniCategory& category = gameCore.settings->getCategory(section);
    const std::string name = virtualButtonTable()[id].name;
    std::int32_t* bindings[2] = {&value.action0, &value.action1};
    for (std::int32_t button = 0; button < 2; ++button) {
        const IniVariable& variable = category.getVariable(name + (button == 0 ? "_0" : "_1"));
        // A missing value keeps the binding; so does a name that matches no
        // button, which the enumeration read reports.
        if (variable.value().empty()) continue;
        std::int32_t result = kInputButtonNone;
        if (variable.getEnum(result, buttonNames(), kInputButtonNameCount, *bindings[button]))
            *bindings[button] = result;
    }
}

void InputCore::writeActionBinding(std::int32_t id, const InputVirtualButtonValue& value, const char* section) {
    if (!validAction(id, section) || !gameCore.settings) return;
    IniCategory& category = gameCore.settings->getCategory(section);
    const std::string name = virtualButtonTable()[id].name;
    const std::int32_t bindings[2] = {value.action0, value.action1};
    for (std::int32_t button = 0; button < 2; ++button) {
        const std::string key = name + (button == 0 ? "_0" : "_1");
        const std::int32_t binding = bindings[button];
        if (binding >= 0 && binding < kInputButtonNameCount && binding != kInputButtonNone) {
            category.getVariable(key).setString(buttonName(binding));
            continue;
        }
        if (binding != kInputButtonNone)
            engineLog().error("Invalid device button [%d] of virtual button [%s] not written", binding, name.c_str());
        // An action whose default binds this button keeps its unbinding as
        // "NONE"; otherwise the key goes, so no earlier binding is saved.
        if (*defaultBinding(id, button))
            category.getVariable(key).setString(buttonName(kInputButtonNone));
        else if (IniVariable* variable = category.findVariable(key))
            variable->setString(nullptr);
    }
}

void InputCore::installGamePlatform() {
    platform::dinput8::Environment environment;
    environment.backend = platform::dinput8::createSdlInput();
    environment.sink = [](const char* line) { engineLog().systemError("DirectInput: %s", line); };
    platform::dinput8::setEnvironment(std::move(environment));
}

InputCore::InputCore() { buildButtonNames(); }

InputCore::~InputCore() {
    release();
    viewSmoother.release();
    fixedViewSmoother.release();
}

bool InputCore::Initialize() {
    flags |= kInputCoreInitialized;
    if (!devices.create(static_cast<void*>(gameCore.mainWindow))) return false;
    virtualDevices.virtualButton.clearValues();
    virtualDevices.virtualButton.catchFlag = 0;
    characterState.startPose(3.0f, 0.0f);
    return true;
}

void InputCore::release() {
    devices.releaseAll();
    flags &= ~kInputCoreInitialized;
}

namespace {

// The game camera mode whose table applies: "Player" while a camera stack
// plays.
std::int32_t routedCameraMode() {
    return (gameCore.flags & kGameFlagCameraOverride) ? kCameraModeOverride : gameCore.cameraMode;
}

double inputTime(const CurrentTime& time) { return time.real.time; }

}  // namespace

InputCore::MotionRoute InputCore::motionRoute(std::int32_t cameraMode) {
    switch (cameraMode) {
    case 0:  // "Observer"
    case 8:  // "EditorFly"
        return MotionRoute::FreeView;
    case 1: return MotionRoute::ViewAndController;  // "Game"
    case 2: return MotionRoute::View;               // "Dialog"
    case 4: return MotionRoute::FixedView;          // "Fixed"
    default: return MotionRoute::None;
    }
}

void InputCore::update(const CurrentTime& time) {
    devices.pollAll(*this, time);
    virtualDevices.virtualButton.update(time);
    InputMotionAccumulator& motion = virtualDevices.motion;
    const std::int32_t mode = routedCameraMode();
    if (!motion.enabled) return;
    const float dx = motion.dx;
    const float dy = -motion.dy;
    const float wheel = motion.wheel;
    motion.clear();
    const double now = inputTime(time);
    switch (motionRoute(mode)) {
    case MotionRoute::ViewAndController:
        viewSmoother.mouseLook(now, dx, dy);
        // Only a frame with motion asks: the query logs its own errors (no
        // scene, a main character gone).
        if (dx != 0.0f || dy != 0.0f || wheel != 0.0f)
            if (ModelController* controller = gameCore.scene_getMainController())
                controller->onLookMotion(dx, dy, wheel);
        break;
    case MotionRoute::View: viewSmoother.mouseLook(now, dx, dy); break;
    case MotionRoute::FixedView: fixedViewSmoother.mouseLook(now, dx, dy); break;
    case MotionRoute::FreeView:
        characterState.turn(dx, dy, now);
        characterState.speed(wheel, now);
        break;
    case MotionRoute::None: break;
    }
}

void InputCore::updateStateMode() {
    // The free view starts from where the main character stands.
    const bool loading = (gameCore.game && gameCore.game->loading);
    GameObject* character = gameCore.currentScene() ? gameCore.currentScene()->mainCharacterObject() : nullptr;
    if (ModelController* controller = character ? gameCore.scene_getMainController() : nullptr)
        controller->onMainCharacter();
    Matrix34 pose;
    if (!loading && character && character->getWorldMatrix(pose)) characterState.setPose(pose);
    // Pointer modes enable the cursor, look modes the accumulator, "Movie"
    // neither.
    const std::int32_t mode = routedCameraMode();
    const bool look = motionRoute(mode) != MotionRoute::None;
    const bool pointer = !look && mode != 5;
    virtualDevices.motion.enabled = look;
    virtualDevices.pointer.enabled = pointer;
    // The system's mouse is held only where its motion turns a view; the
    // cursor follows the system's pointer where it is a pointer.
    platform::dinput8::setCursorFollowsPointer(pointer);
}

void InputCore::reset(const CurrentTime& time) {
    flushDevices(time);
    resetView(time);
    virtualDevices.motion.clear();
    virtualDevices.virtualButton.clearValues();
}

void InputCore::resetView(const CurrentTime& time) {
    const double now = inputTime(time);
    characterState.clearPending();
    viewSmoother.reset(now);
    GameObject* character = gameCore.currentScene() ? gameCore.currentScene()->mainCharacterObject() : nullptr;
    Matrix34 pose;
    const bool loading = (gameCore.game && gameCore.game->loading);
    if (!loading && character && character->getWorldMatrix(pose)) {
        // A model looks along its first axis, a view against its third: the
        // view takes the model's facing (first and third axes exchanged), so
        // that a character turned to the view keeps its heading.
        Matrix34 facing = pose;
        for (int k = 0; k < 3; ++k) {
            facing.m[k] = pose.m[6 + k];
            facing.m[6 + k] = -pose.m[k];
        }
        viewSmoother.aimAt(facing, now);
    }
    updateStateMode();
}

void InputCore::lock() {
    if (flags & kInputCoreLocked) return;
    engineLog().info(">>>>>>>>>>>>>>>>>>>>>>>>>>> Inputs Locked");
    flags |= kInputCoreLocked;
}

void InputCore::unlock() {
    if (!(flags & kInputCoreLocked)) return;
    // Still locked: what came in during the lock is read and dropped.
    devices.pollAll(*this, CurrentTime(-1.0));
    engineLog().info(">>>>>>>>>>>>>>>>>>>>>>>>>>> Inputs Unlocked");
    flags &= ~kInputCoreLocked;
}

void InputCore::flushDevices(const CurrentTime& time) {
    platform::dinput8::sleepMs(100);
    for (InputDevice& device : devices.devices) {
        device.poll(*this, time, true);
        while (!device.events.empty()) {
            device.events.clear();
            device.poll(*this, time, true);
        }
    }
}

std::int32_t InputCore::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, viewSmoother.write(stream))) return total;
    if (!addField(total, fixedViewSmoother.write(stream))) return total;
    addField(total, virtualDevices.write(stream));
    return total;
}

std::int32_t InputCore::read(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, viewSmoother.read(stream)) || !addField(total, fixedViewSmoother.read(stream)) ||
        !addField(total, virtualDevices.read(stream))) {
        engineLog().error("Can't load game: the input block is damaged or missing");
        return total < 0 ? total : -1;
    }
    return total;
}
