// The control block of a walking model: its controller describes what the
// model does as five control states (stance, movement, direction, action,
// look); the block keeps them, notes what changed and saves itself with the
// controller.
//
// Choosing and playing the animation of the states needs the model's
// animation rules (AnimCtrlRules); until a rules map is bound,
// playControlSequence answers false and consumes nothing. Only the stance
// and the action choose a rule: the stance plays on the body stack, the
// action on the second stack, each with its category as part.
#pragma once

#include <cstdint>

class DataStream;
class Model;

// The control-state categories, in record order.
enum AnimationControlCategory : std::int32_t {
    AC_STANCE = 0,
    AC_MOVEMENT = 1,
    AC_DIRECTION = 2,
    AC_ACTION = 3,
    AC_LOOK = 4,
};
constexpr std::int32_t kAnimationControlCategories = 5;

// The number of values of each category (AC_STANCE first).
constexpr std::int32_t kAnimationControlCounts[kAnimationControlCategories] = {3, 7, 9, 17, 3};

// Values used by the controllers.
constexpr std::int32_t kStanceCrouch = 0, kStanceStand = 1, kStanceItem = 2;
constexpr std::int32_t kMovementIdle = 0, kMovementRotate = 1, kMovementWalk = 2, kMovementRun = 3;
constexpr std::int32_t kDirectionNone = 0, kDirectionForward = 1, kDirectionBack = 2, kDirectionLeft = 3,
                       kDirectionRight = 4, kDirectionForwardLeft = 5, kDirectionForwardRight = 6,
                       kDirectionBackLeft = 7, kDirectionBackRight = 8;

// The category names ("stance" ... "look") and each category's value names.
extern const char* const kAnimationControlCategoryNames[kAnimationControlCategories];
extern const char* const* const kAnimationControlValueNames[kAnimationControlCategories];
// The name of a value of a category; "unknown" outside its table.
const char* animationControlValueName(std::int32_t category, std::int32_t value);
// The value of a name within a category compared lower-cased; -1 when none.
std::int32_t animationControlValueByName(std::int32_t category, const char* name);

// Bits of AnimationControl::controlFlags.
constexpr std::uint32_t kControlEnabled = 0x1;
constexpr std::uint32_t kControlRulesBound = 0x2;
// Bits of AnimationControl::changeFlags.
constexpr std::uint32_t kControlChanged = 0x1;
constexpr std::uint32_t kControlWalkToRun = 0x2;
constexpr std::uint32_t kControlRunToWalk = 0x4;

class AnimationControl {
public:
    explicit AnimationControl(Model* owner) : owner(owner) {}

    // Switches control-state animation on or off; a change resets the
    // choices (-2) and their blend and play times; switching off marks the
    // states changed.
    void setEnabled(bool on);
    bool enabled() const { return (controlFlags & kControlEnabled) != 0; }

    // Sets one state: a value outside the category's table is refused
    // ("invalid animation state AC_... value", false) and the old value
    // stays; a new value marks the states changed.
    bool setState(std::int32_t category, std::int32_t value);
    // AC_MOVEMENT, noting walk-to-run and run-to-walk switches.
    bool setMovement(std::int32_t value);
    std::int32_t state(std::int32_t category) const { return states[category]; }

    // Binds the rules map "<rulesName>.<object name>" when the packages hold
    // it, else rulesName (a missing file reported); neither: logged, the
    // block stays unbound.
    void bindRules(const char* rulesName);
    // Plays the animation of the current states: for the stance and the
    // action the best-scoring rule (a random one among equals) unless it is
    // the one already chosen. False while disabled, without bound or
    // loadable rules, or when a push failed; true when nothing changed
    // since the last play.
    bool playControlSequence();

    // The length of the stance animation last played, and the action timer
    // (the play time of the action animation last played).
    float currentLength() const { return playTime[AC_STANCE]; }
    float actionTimer() const { return playTime[AC_ACTION]; }
    // Takes seconds off the action timer, not below 0.
    void reduceActionTimer(double seconds);

    // The save record: change flags, the five states, control flags,
    // choices, blends, play times, then the rules name (u16 length and
    // bytes). Bytes written or read, or a negative value; a record holding
    // a state outside its table or a name too long is refused whole.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    Model* owner;
    char rulesName[128] = {};
    std::uint32_t controlFlags = 0;
    std::uint32_t changeFlags = 0;
    std::int32_t states[kAnimationControlCategories] = {kStanceStand, 0, 0, 0, 0};
    std::int32_t choice[kAnimationControlCategories] = {-2, -2, -2, -2, -2};
    float blend[kAnimationControlCategories] = {};
    float playTime[kAnimationControlCategories] = {};
};

// Switches the block on and takes the five states of the source, each
// checked against its table.
void setAnimationControlState(AnimationControl& block, const AnimationControl& source);
