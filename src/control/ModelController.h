// The movement controller of a model: what the model calls of it. The
// controller kinds (character, boat, position) build on this class; this
// form answers for all of them with the base behaviour.
#pragma once

#include <cstdint>
#include <memory>

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
    // Starts the action of that name; false when the controller has none
    // of it (the base controller has no actions).
    virtual bool setActionByName(const char* action) {
        (void)action;
        return false;
    }
    virtual void stop() { stopped_ = true; }
    virtual bool push() { return true; }
    virtual bool pop() { return true; }
    virtual void resynchronise(bool now) { resynchronised_ = now; }

    bool stopped() const { return stopped_; }
    bool resynchronised() const { return resynchronised_; }

private:
    std::int32_t type_;
    bool stopped_ = false;
    bool resynchronised_ = false;
};
