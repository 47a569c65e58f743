// The movement controller of a model: what the model calls of it. The
// controller kinds (character, boat, position) build on this class; this
// form answers for all of them with the base behaviour.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class DataStream;
class Model;
struct CurrentTime;

class ModelController {
public:
    // Controller types: 1 character, 2 boat, 3 position.
    static constexpr std::int32_t TypeCharacter = 1;
    static constexpr std::int32_t TypeBoat = 2;
    static constexpr std::int32_t TypePosition = 3;

    // A controller of the type; null for any other type.
    static std::unique_ptr<ModelController> create(std::int32_t type);

    explicit ModelController(std::int32_t type) : type_(type) {}
    virtual ~ModelController() = default;
    ModelController(const ModelController&) = delete;
    ModelController& operator=(const ModelController&) = delete;

    virtual std::int32_t type() const { return type_; }
    virtual bool update(const CurrentTime&) { return true; }
    virtual void rootMotion(const float* translation, const float* rotation) {
        (void)translation;
        (void)rotation;
    }
    virtual bool isRunning() const { return false; }
    virtual void stop() { stopped_ = true; }
    virtual bool push() { return true; }
    virtual bool pop() { return true; }
    virtual void resynchronise(bool now) { resynchronised_ = now; }
    // Whether a model of this kind may follow the main character: only a
    // character walks after it.
    virtual bool canFollow() const { return type_ == TypeCharacter; }
    // Go to no target: a follow or walk in progress ends.
    virtual void goToNoTarget() { followTarget_.clear(); }
    // Follow the object of that name at the speed factor, keeping the
    // distance; false when this controller cannot follow.
    virtual bool followObject(const char* targetName, float speed, float distance) {
        if (!canFollow() || !targetName || !targetName[0]) return false;
        followTarget_ = targetName;
        followSpeed_ = speed;
        followDistance_ = distance;
        return true;
    }
    // The model was placed somewhere else at once (a teleport).
    virtual void teleported() { ++teleports_; }

    bool stopped() const { return stopped_; }
    bool resynchronised() const { return resynchronised_; }
    // The object being followed ("" none), its speed factor and distance.
    const std::string& followTarget() const { return followTarget_; }
    float followSpeed() const { return followSpeed_; }
    float followDistance() const { return followDistance_; }
    std::int32_t teleports() const { return teleports_; }

private:
    std::int32_t type_;
    bool stopped_ = false;
    bool resynchronised_ = false;
    std::string followTarget_;
    float followSpeed_ = 0.0f;
    float followDistance_ = 0.0f;
    std::int32_t teleports_ = 0;
};
