// The shadow block of a scene: the models registered as shadow casters
// (sorted by handle, each with the shadow records of the lights that light
// it) and as shadow receivers (in registration order). The model context's
// shadow item draws a receiver once per record that has a cell of the
// shadow atlas.
#pragma once

#include <cstdint>
#include <vector>

#include "effects/ShadowRecord.h"
#include "scene/GameObject.h"

class SceneShadows {
public:
    struct CasterGroup {
        GameObjectLink caster;
        std::vector<ShadowRecord> records;
    };

    // The scene's name for the messages.
    const char* sceneName = "";

    // A caster already registered logs "Shadow: Can't add shadow caster
    // object [%s] to scene [%s]: Already registered" and changes nothing.
    bool addCaster(GameObjectLink link);
    // False (no message) when the link is no registered caster.
    bool removeCaster(GameObjectLink link);
    bool addReceiver(GameObjectLink link);
    // False with "Can't delete shadow receive [%08X]" when not registered.
    bool removeReceiver(GameObjectLink link);
    bool isCaster(GameObjectLink link) const;
    bool isReceiver(GameObjectLink link) const;
    // Frees every group, record and receiver.
    void clear();

    // Runs draw(record) for every record that has a cell this frame; the
    // number of records drawn.
    template <class Draw>
    std::int32_t eachRecordWithCell(Draw draw) const {
        std::int32_t drawn = 0;
        for (const CasterGroup& group : casters)
            for (const ShadowRecord& record : group.records)
                if (record.cellSize >= 1 && record.cellIndex >= 0) {
                    draw(record);
                    ++drawn;
                }
        return drawn;
    }

    std::vector<CasterGroup> casters;
    std::vector<GameObjectLink> receivers;
};
