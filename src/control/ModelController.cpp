#include "control/ModelController.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <new>

#include "animation/AnimationControl.h"
#include "app/GameCore.h"
#include "control/BoatControl.h"
#include "control/Character.h"
#include "control/PositionController.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "script/ScriptEngine.h"

namespace {

void logScriptCallPosition() {
    if (gameCore.script) gameCore.script->logCallPosition();
}

// At most 127 characters of the text, lower-cased.
void lowerName(char (&out)[128], const char* text) {
    std::memset(out, 0, sizeof(out));
    for (std::size_t i = 0; text && i < sizeof(out) - 1 && text[i]; ++i)
        out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
}

const char* const kEventNames[3] = {"onmovedone", "onbeforemovedone", "onactiondone"};

}  // namespace

void ModelController::localToWorld(const float* displacement, float* world) const {
    const Model& model = owner();
    for (int k = 0; k < 3; ++k) world[k] = 0.0f;
    for (int axis = 0; axis < 3; ++axis)
        for (int k = 0; k < 3; ++k) world[k] += displacement[axis] * model.worldMatrix.m[axis * 3 + k] * model.scale[axis];
}

bool ModelController::storeEventHandler(char (&handlers)[3][128], const char* event, const char* handler) {
    char name[128];
    lowerName(name, event);
    for (int slot = 0; slot < 3; ++slot)
        if (std::strcmp(name, kEventNames[slot]) == 0) {
            copyName(handlers[slot], sizeof(handlers[slot]), handler ? handler : "");
            return true;
        }
    return engineLog().error("Controller not support event with name [%s]", event ? event : "");
}

std::string ModelController::controlStateName(const AnimationControl& block, const char* attribute,
                                              const char* unsupported) {
    Log& log = engineLog();
    if (!attribute || !attribute[0]) {
        log.error("%s", unsupported);
        return "";
    }
    char name[128];
    lowerName(name, attribute);
    for (std::int32_t category = 0; category < kAnimationControlCategories; ++category)
        if (std::strcmp(name, kAnimationControlCategoryNames[category]) == 0)
            return animationControlValueName(category, block.state(category));
    log.error("Invalid CONTROLLER_ATTRIBUTES map name [%s]", attribute);
    log.error("%s", unsupported);
    return "";
}

std::unique_ptr<ModelController> ModelController::create(Model& owner, std::int32_t type) {
    switch (type) {
        case TypeCharacter:
            return std::unique_ptr<ModelController>(new (std::nothrow) Character(owner));
        case TypeBoat:
            return std::unique_ptr<ModelController>(new (std::nothrow) BoatControl(owner));
        case TypePosition:
            return std::unique_ptr<ModelController>(new (std::nothrow) PositionController(owner));
        default:
            return nullptr;
    }
}

ModelController::ModelController(Model& owner) : owner_(&owner) {
    positionSmoother.setStages(2, 0.05f, 0.05f);
    resetPositionSmoother(owner.worldMatrix.m + 9, CurrentTime(-1.0).game.time);
}

ModelController::~ModelController() { positionSmoother.release(); }

void ModelController::resetPositionSmoother(const float* position, double time) {
    positionSmoother.reset(position, time);
}

bool ModelController::setEvent(const char*, const char*) {
    return engineLog().error("Controller not support optional EVENTS");
}

bool ModelController::onActionDone(const char*) { return true; }

std::string ModelController::getCurrentState(const char*) {
    engineLog().error("Controller NOT support getCUrrentState()");
    return "";
}

void ModelController::run(std::int32_t) { engineLog().error("Controller NOT support RUN"); }

bool ModelController::EyeGET(Matrix34&) { return engineLog().error("Controller NOT support EyeGET method()"); }

bool ModelController::stay() { return engineLog().error("Controller NOT support NONE target type"); }

bool ModelController::go2waypoint(const char*, bool) {
    return engineLog().error("Controller NOT support WAYPOINT target type");
}

bool ModelController::follow2model(const char*, float, float) {
    return engineLog().error("Controller NOT support FOLLOW target type");
}

bool ModelController::go2trajectory(const char*, std::int32_t) {
    return engineLog().error("Controller NOT support TRAJECTORY target type");
}

float ModelController::getEyeHeight(bool) { return 0.0f; }
void ModelController::addPosition(Matrix34&) {}
void ModelController::setLimits(const float*) {}
void ModelController::onLookMotion(float, float, float) {}
void ModelController::setForwardKey(bool) {}
void ModelController::setBackwardKey(bool) {}
void ModelController::setLeftKey(bool) {}
void ModelController::setRightKey(bool) {}
void ModelController::setCrouch(bool) {}
void ModelController::setItem(bool) {}
void ModelController::setRun(bool) {}
void ModelController::setAutoWalk(bool) {}

bool ModelController::setCharacterSpeed(CONTROLLER_FPS_SETUP index, float value) {
    Log& log = engineLog();
    const std::int32_t type = getType();
    float* table = nullptr;
    std::int32_t entries = 0;
    // The concrete class is checked as well as the type code, so that a
    // controller answering a code it does not own never has its memory
    // taken for a speed table.
    if (type == TypeCharacter) {
        if (auto* character = dynamic_cast<Character*>(this)) {
            table = character->speeds;
            entries = Character::kSpeedEntries;
        }
    } else if (type == TypeBoat) {
        if (auto* boat = dynamic_cast<BoatControl*>(this)) {
            table = boat->speeds;
            entries = BoatControl::kSpeedEntries;
        }
    }
    if (!table) {
        logScriptCallPosition();
        return log.error("Invalid controller type");
    }
    if (index < 0 || index > 8 || index >= entries) {
        logScriptCallPosition();
        return log.error("Invalid controller speed target type %i", index);
    }
    // A speed that is not a number would carry the model off to no place.
    if (!std::isfinite(value)) {
        logScriptCallPosition();
        return log.error("Can't set controller speed [%i] to [%f]: not a number", index, static_cast<double>(value));
    }
    table[index] = value;
    if (type == TypeCharacter)
        log.message("Set character [%s] speed [%i] to [%f]", owner_->getName(), index, static_cast<double>(value));
    else
        log.message("Set boat [%s] speed [%i] to [%f]", owner_->getName(), index, static_cast<double>(value));
    return true;
}
