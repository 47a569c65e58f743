// The check of a saved scene record before a restore, with the objects the
// record's lists name.
#pragma once

#include <cstdint>
#include <vector>

class DataStream;

// An object a saved scene lists: its type (the list it is in) and its saved
// handle.
struct SceneListedObject {
    std::uint32_t type = 0;
    std::uint32_t handle = 0;
};

// Reads a scene's save record without a scene, as Scene::checkRecord does;
// listed, when given, takes the objects of the record's lists. Byte count,
// or negative when the record is damaged.
std::int32_t checkSceneRecord(DataStream& stream, std::vector<SceneListedObject>* listed);
