// The staggered update of a scene's objects: each list has a schedule of
// four {phase, period} pairs, one per pass bit (1, 2, 4, 8). An object at
// index i receives a pass bit on the turns where i mod period equals the
// phase; a period of -1 switches the bit off.
#pragma once

#include <cstdint>

struct UpdateSchedule {
    struct Pair {
        std::int32_t phase = 0;
        std::int32_t period = -1;
    };
    Pair pairs[4];

    // Every phase one step on, back to 0 at its period.
    void advance() {
        for (Pair& pair : pairs)
            if (++pair.phase >= pair.period) pair.phase = 0;
    }
    // The pass mask of the object at index; all bits with a period when
    // every object is to be updated.
    std::uint8_t mask(std::int32_t index, bool everyObject) const {
        std::uint8_t result = 0;
        for (int k = 0; k < 4; ++k) {
            const Pair& pair = pairs[k];
            const bool on = everyObject ? pair.period > 0
                                        : pair.period > 0 && index % pair.period == pair.phase;
            if (on) result = static_cast<std::uint8_t>(result | (1u << k));
        }
        return result;
    }
};

// The schedules of a scene, one per updated list.
enum SceneSchedule : int {
    ScheduleModels = 0,
    ScheduleSprites = 1,
    ScheduleLights = 2,
    ScheduleParticles = 3,
    ScheduleSounds = 4,  // 4..8, one per sound list
    ScheduleDialogs = 9,
    ScheduleCount = 10,
};

// Whether objects (models, lights, particles, sprites) update, and whether
// scene time runs, in a game-state index (0..11): every state but 6.
bool objectsUpdateInState(std::int32_t stateIndex);
bool sceneTimeRunsInState(std::int32_t stateIndex);
