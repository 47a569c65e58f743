// The last stage of a character's motion: it collects the frame's
// displacement and turn (root motion through the character's moveLocal,
// redirected by its animator, or the player's direction keys in
// first-person walking), turns the character's orientation, moves the
// model's physics model and emits the first-person footsteps.
#pragma once

#include <cstdint>

class Character;
class DataStream;
class Model;
struct CurrentTime;
struct Matrix34;

// The player's first-person control of the main character, shared by
// walking and sailing models.
// The model is the main character the input drives: flagged so, or its
// scene's main character.
bool isMainCharacterModel(const Model& model);
// The main character is steered by the player: no scene loads, and the
// current scene is shown through a first-person camera.
bool firstPersonControl(bool mainCharacter);
// The main view starts over behind a pose, looking along its first row.
void aimMainViewBehind(const Matrix34& pose, double time);

class MovementEncoder {
public:
    // Step lengths from section "character" of the game's settings.
    explicit MovementEncoder(Character& owner);

    // Stores the motion when none is pending, else adds it componentwise.
    void addMotion(const float* displacement, const float* rotationDelta);
    // Drops the pending displacement (the animator's "no motion").
    void clearDisplacement();
    // The frame step (see the character's update). A model without a
    // physics model is logged and loses its controller after its update.
    void update(const CurrentTime& time);

    // hasMotion, displacement, rotationDelta, falling (padded to four
    // bytes), verticalSpeed, velocity, leftFoot: 50 bytes.
    std::int32_t write(DataStream& stream) const;
    // Reads into a copy first: a short record changes nothing.
    std::int32_t read(DataStream& stream);

    static constexpr std::int32_t kRecordSize = 50;

    float displacement[3] = {0.0f, 0.0f, 0.0f};
    std::uint8_t hasMotion = 0;
    float rotationDelta[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    // Distance walked since the last footstep (not saved).
    float stepDistance = 0.0f;
    std::uint8_t leftFoot = 0;
    std::uint8_t falling = 0;
    float verticalSpeed = 0.0f;
    float velocity[3] = {0.0f, 0.0f, 0.0f};
    Character* owner;
    float walkStep = 1.0f;
    float runStep = 1.5f;
    float crouchStep = 0.5f;

private:
    void firstPersonStep(const CurrentTime& time);
};
