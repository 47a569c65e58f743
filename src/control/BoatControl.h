// The controller of a boat (type 2). A boat sails to a script's target on
// its own, driven by its animator, or, as the main character under the
// first-person camera, is steered by the player's direction keys and view.
// The keys become the control states of the animator's control block (the
// left key turns "right" and the right key "left"; no diagonals); the
// encoder collects each frame's motion and hands it to the boat's hull in
// its physics model. It keeps the speed table (index 0 the linear speed in
// metres a second, index 2 the turning speed in radians a second), the
// three script handlers and saves all of it.
#pragma once

#include <memory>

#include "control/ModelController.h"
#include "foundation/Quaternion.h"

class BoatAnimator;
class BoatEncoder;

class BoatControl : public ModelController {
public:
    // The speed table takes indices 0 to 8 like a character's; the record
    // keeps the first eight (the boat reads only 0 and 2).
    static constexpr std::int32_t kSpeedEntries = 9;
    static constexpr std::int32_t kSavedSpeedEntries = 8;
    static constexpr std::size_t kHandlerSize = 128;

    // Bits of keyFlags.
    static constexpr std::uint32_t kRunSet = 0x1;
    static constexpr std::uint32_t kRunFlipped = 0x2;
    static constexpr std::uint32_t kCrouch = 0x4;
    static constexpr std::uint32_t kMoving = 0x8;
    static constexpr std::uint32_t kAutoWalk = 0x10;
    static constexpr std::uint32_t kForwardKey = 0x20;
    static constexpr std::uint32_t kBackwardKey = 0x40;
    static constexpr std::uint32_t kLeftKey = 0x80;
    static constexpr std::uint32_t kRightKey = 0x100;
    static constexpr std::uint32_t kItem = 0x100000;
    // Bits of inputFlags.
    static constexpr std::uint32_t kWantForward = 0x2;
    static constexpr std::uint32_t kWantBackward = 0x4;
    static constexpr std::uint32_t kWantLeft = 0x8;
    static constexpr std::uint32_t kWantRight = 0x10;
    // The handler slots, in record order.
    static constexpr int kOnMoveDone = 0;
    static constexpr int kOnBeforeMoveDone = 1;
    static constexpr int kOnActionDone = 2;

    explicit BoatControl(Model& owner);
    // Stops a boat still under way (logged), then frees the animator (with
    // its path grid and target) and the encoder.
    ~BoatControl() override;

    std::int32_t getType() const override { return TypeBoat; }
    // The animator's step, then (unless carried by another object) the
    // encoder's; true.
    bool update(const CurrentTime& time) override;
    void moveLocal(const float* displacement, const float* rotation) override;
    // Places the boat: the main view starts over behind it, the orientation
    // and the physics model take the pose.
    bool setPose(const Matrix34& pose, double time) override;
    void getOrientation(Matrix33& out) const override;
    void stopSilently() override;
    void stopTarget() override;
    void copyControlState(const AnimationControl& source) override;
    // Rules maps are not loaded yet: nothing is bound.
    void bindAnimationRules(const char*) override {}
    bool isCrouch() const override { return (keyFlags & kCrouch) != 0; }
    bool isItem() const override { return (keyFlags & kItem) != 0; }
    bool isRun() const override { return ((keyFlags & kRunSet) != 0) != ((keyFlags & kRunFlipped) != 0); }
    bool isBusy() const override;
    void onMainCharacter() override;
    void detach() override;
    bool setEvent(const char* event, const char* handler) override;
    bool onActionDone(const char* action) override;
    std::string getCurrentState(const char* attribute) override;
    bool EyeGET(Matrix34& out) override;
    bool stay() override;
    // direct: a direct waypoint, for which no target is made.
    bool go2waypoint(const char* target, bool direct) override;
    bool follow2model(const char* objectName, float nearDistance, float farDistance) override;
    // orientation, keyFlags, inputFlags, eye height, the saved double and
    // int, the encoder's record (53 bytes), the animator's, the three
    // handlers (u16 length and bytes), speeds. A read takes the whole
    // record aside first: a short or damaged one changes nothing. Held
    // keys and the run-set bit are not kept.
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    float getEyeHeight(bool force) override;
    void addPosition(Matrix34& matrix) override;
    void setLimits(const float*) override {}
    void resetInput() override;
    void setForwardKey(bool pressed) override;
    void setBackwardKey(bool pressed) override;
    void setLeftKey(bool pressed) override;
    void setRightKey(bool pressed) override;
    void flipCrouch() override;
    void flipItem() override;
    void setCrouch(bool on) override;
    void setItem(bool on) override;
    void stopRun() override;
    void setRun(bool on) override;
    void flipRun() override;
    void setAutoWalk(bool clear) override;

    BoatEncoder& encoder() { return *encoder_; }
    BoatAnimator& animator() { return *animator_; }
    const BoatAnimator& animator() const { return *animator_; }
    AnimationControl& control();
    const AnimationControl& control() const;

    Quaternion orientation{0.0f, 0.0f, 0.0f, 1.0f};
    std::uint32_t keyFlags = 0;
    std::uint32_t inputFlags = 0;
    // -1: taken from the model at its next use.
    float eyeHeight = -1.0f;
    // Kept through saves; the boat does not use them.
    double savedDouble = 0.0;
    std::int32_t savedInt = 4;
    char handlers[3][kHandlerSize] = {};
    // Set through setCharacterSpeed.
    float speeds[kSpeedEntries] = {2.0f, 0.0f, 2.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};

private:
    // AC_DIRECTION and AC_MOVEMENT from the wanted directions; a direction
    // switches the control block on.
    void updateDirection();
    // AC_STANCE from crouch and item, then the direction.
    void updateStance();
    void setForwardWanted(bool on);
    void clearHandlers();

    std::unique_ptr<BoatEncoder> encoder_;
    std::unique_ptr<BoatAnimator> animator_;
};
