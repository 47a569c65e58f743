// The controller of a walking character (type 1). The player's direction,
// run, crouch and item keys become the model's control states and, through
// the movement encoder, motion; script targets are walked by the animator,
// which calls the script handlers when a move or an action ends. It keeps
// the speed table (index = 4 x running + 2 x crouching + k, k = 0 forward
// and backward, 1 sideways; entry 8 is accepted and never read or saved),
// answers the state queries and the eye height, and saves all of it.
#pragma once

#include <memory>

#include "control/ModelController.h"
#include "foundation/Quaternion.h"

class CharacterAnimator;
class MovementEncoder;

class Character : public ModelController {
public:
    static constexpr std::int32_t kSpeedEntries = 9;
    static constexpr std::size_t kHandlerSize = 128;

    // Bits of flags.
    static constexpr std::uint32_t kRunKey = 0x1;
    static constexpr std::uint32_t kRunToggle = 0x2;
    static constexpr std::uint32_t kCrouch = 0x4;
    static constexpr std::uint32_t kMoving = 0x8;
    static constexpr std::uint32_t kAutoWalk = 0x10;
    static constexpr std::uint32_t kForwardKey = 0x20;
    static constexpr std::uint32_t kBackwardKey = 0x40;
    static constexpr std::uint32_t kLeftKey = 0x80;
    static constexpr std::uint32_t kRightKey = 0x100;
    static constexpr std::uint32_t kItem = 0x100000;
    // Bits of directions.
    static constexpr std::uint32_t kForward = 0x2;
    static constexpr std::uint32_t kBackward = 0x4;
    static constexpr std::uint32_t kLeft = 0x8;
    static constexpr std::uint32_t kRight = 0x10;
    // The handler slots, in record order.
    static constexpr int kOnMoveDone = 0;
    static constexpr int kOnBeforeMoveDone = 1;
    static constexpr int kOnActionDone = 2;

    explicit Character(Model& owner);
    // Stops a walk still running (logged), then frees the encoder and the
    // animator.
    ~Character() override;

    std::int32_t getType() const override { return 1; }
    // The animator's step, then (unless carried by another object) the
    // encoder's; true.
    bool update(const CurrentTime& time) override;
    void moveLocal(const float* displacement, const float* rotation) override;
    bool setPose(const Matrix34& pose, double time) override;
    void getOrientation(Matrix33& out) const override;
    void stopSilently() override;
    void stopTarget() override;
    void copyControlState(const AnimationControl& source) override;
    // Binds the rules map of the character's control block.
    void bindAnimationRules(const char* rulesName) override;
    bool isCrouch() const override { return (flags & kCrouch) != 0; }
    bool isItem() const override { return (flags & kItem) != 0; }
    bool isRun() const override { return ((flags & kRunKey) != 0) != ((flags & kRunToggle) != 0); }
    bool isBusy() const override;
    void onMainCharacter() override;
    void detach() override;
    bool setEvent(const char* event, const char* handler) override;
    bool onActionDone(const char* action) override;
    std::string getCurrentState(const char* attribute) override;
    bool EyeGET(Matrix34& out) override;
    bool stay() override;
    bool go2waypoint(const char* target, bool direct) override;
    bool follow2model(const char* objectName, float nearDistance, float farDistance) override;
    bool go2trajectory(const char* waypoint, std::int32_t randomStart) override;
    // flags, directions, orientation, eye height, the encoder's and the
    // animator's records, speeds 0 to 7, the three handlers (u16 length and
    // bytes). A read takes the whole record aside first: a damaged one
    // changes nothing. Keys are never restored.
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    float getEyeHeight(bool force) override;
    void addPosition(Matrix34& matrix) override;
    void setLimits(const float*) override {}
    void resetInput() override;
    void onLookMotion(float, float, float) override {}
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

    // The model is the main character the input drives: flagged so, or
    // its scene's main character.
    bool isMainCharacter() const;
    // The walking speed of the current direction, run and crouch state.
    float speed() const;

    MovementEncoder& encoder() { return *encoder_; }
    CharacterAnimator& animator() { return *animator_; }
    const CharacterAnimator& animator() const { return *animator_; }
    AnimationControl& control();
    const AnimationControl& control() const;

    std::uint32_t flags = 0;
    std::uint32_t directions = 0;
    Quaternion orientation{0.0f, 0.0f, 0.0f, 1.0f};
    // -1: recomputed at its next use.
    float eyeHeight = -1.0f;
    char handlers[3][kHandlerSize] = {};
    // Set through setCharacterSpeed.
    float speeds[kSpeedEntries] = {2.5f, 0.4f, 2.5f, 0.4f, 5.0f, 0.8f, 5.0f, 0.8f, 0.0f};

private:
    // AC_DIRECTION and AC_MOVEMENT from the keys, then the control play.
    void updateDirection();
    // AC_STANCE from crouch and item, then the direction update.
    void updateStance();
    // Forward follows its key and auto-walk; the movement follows the run
    // state while moving.
    void applyRunChange();
    void setDirectionBit(std::uint32_t bit, bool on);
    void clearHandlers();

    std::unique_ptr<MovementEncoder> encoder_;
    std::unique_ptr<CharacterAnimator> animator_;
};
