// The movement controller of a model: the abstract base of the character,
// boat and position controllers.
//
// A model owns at most one controller (Model::setController makes it with
// ModelController::create). The virtual operations keep a fixed order; an
// operation a concrete controller does not support keeps the base body
// here, which logs its "not supported" message and answers false, "" or 0.
// The controller keeps a smoothed copy of its model's position. Scripts
// reach it as the class "Controller" through a weak reference (scriptLife),
// which expires when the model deletes its controller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/Math.h"
#include "foundation/Smoother.h"
#include "script/ScriptBinding.h"

class AnimationControl;
class DataStream;
class Model;
struct CurrentTime;

// Index into the nine-entry speed table of setCharacterSpeed (0 to 8);
// scripts pass the number.
using CONTROLLER_FPS_SETUP = std::int32_t;

class ModelController {
public:
    // Controller types (the answer of getType; stored: fixed).
    static constexpr std::int32_t TypeCharacter = 1;
    static constexpr std::int32_t TypeBoat = 2;
    static constexpr std::int32_t TypePosition = 3;

    // The controller of the type for the owner model: 1 Character, 2
    // BoatControl, 3 PositionController; null, without a message, for any
    // other type.
    static std::unique_ptr<ModelController> create(Model& owner, std::int32_t type);

    // Keeps the owner and starts the position smoother (stages of 0.05 s
    // and 0.10 s) at the owner's position at the current game time.
    explicit ModelController(Model& owner);
    // Releases the smoother's stages.
    virtual ~ModelController();
    ModelController(const ModelController&) = delete;
    ModelController& operator=(const ModelController&) = delete;

    virtual std::int32_t getType() const = 0;
    virtual bool update(const CurrentTime& time) = 0;
    // A displacement in the model's local axes and a rotation delta (a
    // quaternion x, y, z, w).
    virtual void moveLocal(const float* displacement, const float* rotation) = 0;
    virtual bool setPose(const Matrix34& pose, double time) = 0;
    virtual void getOrientation(Matrix33& out) const = 0;
    // Stops the current target and disables target control.
    virtual void stopSilently() = 0;
    // Stops the current target when one runs.
    virtual void stopTarget() = 0;
    // Takes over the five control states of another model's control block.
    virtual void copyControlState(const AnimationControl& source) = 0;
    virtual void bindAnimationRules(const char* rulesName) = 0;
    virtual bool isCrouch() const { return false; }
    virtual bool isItem() const { return false; }
    virtual bool isRun() const { return false; }
    // True while a target is being followed.
    virtual bool isBusy() const = 0;
    // The model became the scene's main character.
    virtual void onMainCharacter() = 0;
    // A scripted sequence takes over the model's animation.
    virtual void onScriptedSequence() {}
    // Runs before the controller is deleted or replaced.
    virtual void detach() {}
    virtual bool setEvent(const char* event, const char* handler);
    // The model's action animation of that AC_ACTION name ended.
    virtual bool onActionDone(const char* action);
    virtual std::string getCurrentState(const char* attribute);
    virtual void run(std::int32_t argument);
    virtual bool EyeGET(Matrix34& out);
    virtual bool stay();
    virtual bool go2waypoint(const char* target, bool direct);
    virtual bool follow2model(const char* objectName, float nearDistance, float farDistance);
    virtual bool go2trajectory(const char* waypoint, std::int32_t randomStart);
    // Bytes written or read, or a negative value.
    virtual std::int32_t write(DataStream& stream) = 0;
    virtual std::int32_t read(DataStream& stream) = 0;
    virtual bool onPush() { return true; }
    virtual bool onPop() { return true; }
    // force: the model's scale changed since the last answer.
    virtual float getEyeHeight(bool force);
    // Adds the model's position to the translation of the matrix.
    virtual void addPosition(Matrix34& matrix);
    // Three floats.
    virtual void setLimits(const float* limits);
    // Clears the direction keys and movement flags.
    virtual void resetInput() {}
    // The frame's mouse motion.
    virtual void onLookMotion(float dx, float dy, float wheel);
    virtual void setForwardKey(bool pressed);
    virtual void setBackwardKey(bool pressed);
    virtual void setLeftKey(bool pressed);
    virtual void setRightKey(bool pressed);
    virtual void flipCrouch() {}
    virtual void flipItem() {}
    virtual void setCrouch(bool on);
    virtual void setItem(bool on);
    virtual void stopRun() {}
    virtual void setRun(bool on);
    virtual void flipRun() {}
    // true clears auto-walk, false toggles it.
    virtual void setAutoWalk(bool clear);
    // The last operation, after setAutoWalk; no controller does anything.
    virtual void reserved() {}

    // Stores entry index of a character's (0 to 8) or a boat's (0 to 7)
    // speed table. A bad index or another controller type writes the
    // script's call position, logs and stores nothing (false).
    bool setCharacterSpeed(CONTROLLER_FPS_SETUP index, float value);

    Model& owner() const { return *owner_; }
    // The weak reference scripts hold.
    std::weak_ptr<ModelController*> lifeToken() const { return scriptLife_.token(); }

    VectorSmoother positionSmoother;

protected:
    // Restarts the position smoother at the pose's position.
    void resetPositionSmoother(const float* position, double time);
    // The displacement in the owner's local axes (scaled by its scale) in
    // world space.
    void localToWorld(const float* displacement, float* world) const;
    // The script handlers of the three move events, in slot order
    // "onmovedone", "onbeforemovedone", "onactiondone": the slot of the
    // event (compared lower-cased) takes at most 127 characters of the
    // handler; an unknown event is logged and refused.
    static bool storeEventHandler(char (&handlers)[3][128], const char* event, const char* handler);
    // The value name of the control state an attribute names ("stance",
    // "movement", "direction", "action", "look", compared lower-cased);
    // otherwise "" with the messages, the last one being unsupported.
    static std::string controlStateName(const AnimationControl& block, const char* attribute,
                                        const char* unsupported);

private:
    Model* owner_;
    ScriptLife<ModelController> scriptLife_{this};
};
