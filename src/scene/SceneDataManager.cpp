#include "scene/SceneDataManager.h"

#include <algorithm>

#include "foundation/DataStream.h"
#include "scene/SceneContext.h"

namespace {

SceneDataManager* installedManager = nullptr;

}  // namespace

SceneDataManager* sceneDataManager() { return installedManager; }
void setSceneDataManager(SceneDataManager* manager) { installedManager = manager; }

Y3SceneDataInstance::Y3SceneDataInstance(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::SceneData)) {}

Y3SceneDataInstance::~Y3SceneDataInstance() { dispose(); }

std::int32_t Y3SceneDataInstance::readHeader(DataStream& stream) {
    auto scene = std::make_unique<SceneData>();
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    if (!addField(total, readU32(stream, magic)) || magic != kSceneDataMagic) return -1;
    std::uint8_t length = 0;
    if (!addField(total, readU8(stream, length))) return -1;
    // A name longer than the field is refused rather than cut silently.
    if (length >= sizeof(scene->name)) return -1;
    if (length && !addField(total, readExact(stream, scene->name, length))) return -1;
    // Model, sprite, light and pose counts: their records are read by the
    // object readers, so only an empty scene is accepted here.
    for (int list = 0; list < 4; ++list) {
        std::uint32_t count = 0;
        if (!addField(total, readU32(stream, count)) || count != 0) return -1;
    }
    data = std::move(scene);
    return total;
}
