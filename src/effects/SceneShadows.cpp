#include "effects/SceneShadows.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/GameCore.h"
#include "effects/Light.h"
#include "effects/LightSetLibrary.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/SettingsReader.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/Y3Mesh.h"
#include "model/Y3Model.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderCore.h"
#include "render/VideoSetup.h"
#include "render/shaders/ShaderCore.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

ShadowSettings shadowSettings;

void readShadowSettings(IniFile& settings) {
    IniCategory& shadow = settings.getCategory("shadow");
    ShadowSettings& s = shadowSettings;
    readSetting(shadow, "shadow_blur_disable", s.blurDisable, false);
    readSetting(shadow, "shadow_blur_offset", s.blurOffset, 1.5f);
    readSetting(shadow, "shadow_texture_min_size", s.textureMinSize, 64);
    // The atlas halves its cells down to this size: below 1 it never ends.
    std::int32_t minItem = 64;
    readSetting(shadow, "shadow_texture_min_item", minItem, 64);
    if (minItem < 1)
        engineLog().error("Shadow: shadow_texture_min_item %d is below 1 texel, %d is used", minItem, 64);
    s.textureMinItem = minItem < 1 ? 64 : minItem;
    readSetting(shadow, "shadow_texture_max_width", s.textureMaxWidth, 4096);
    readSetting(shadow, "shadow_texture_max_height", s.textureMaxHeight, 4096);
    readSetting(shadow, "shadow_soft_texture_max", s.softTextureMax, 1024);
    readSetting(shadow, "shadow_min_item_size1", s.minItemSize1, 1.0f);
    readSetting(shadow, "shadow_min_item_size2", s.minItemSize2, 0.25f);
    readSetting(shadow, "shadow_extra_offset", s.extraOffset, 0.0f);
}

namespace {

std::uint32_t handleOf(GameObjectLink link) { return link.value & 0xFFFFFFu; }

GameObject* resolveLink(GameObjectLink link) {
    return link.value && gameCore.objects ? gameCore.objects->getObject(link) : nullptr;
}

const char* objectName(GameObjectLink link) {
    GameObject* object = resolveLink(link);
    return object ? object->getName() : "null";
}

std::vector<SceneShadows::CasterGroup>::const_iterator findGroup(const std::vector<SceneShadows::CasterGroup>& list,
                                                                  GameObjectLink link) {
    return std::lower_bound(list.begin(), list.end(), handleOf(link),
                            [](const SceneShadows::CasterGroup& group, std::uint32_t handle) {
                                return handleOf(group.caster) < handle;
                            });
}

Model* modelOf(GameObjectLink link) {
    GameObject* object = resolveLink(link);
    return object && object->getType() == ObjectModel ? dynamic_cast<Model*>(object) : nullptr;
}

// Shown and registered as a caster.
bool castsNow(const Model& model) { return model.isShown() && (model.stateWords[0] & kModelShadowCaster); }

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < 4; ++k) out.m[r][c] += a.m[r][k] * b.m[k][c];
    return out;
}

void normalize(float* v) {
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0.0f)
        for (int k = 0; k < 3; ++k) v[k] /= length;
}

void cross(const float* a, const float* b, float* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// Starts a fade toward to (1 in, 0 out), instant when already there.
void startFade(ShadowRecord& record, float to) {
    const bool instant = record.fade == to;
    if (instant) record.fade = to;
    record.fadeFrom = record.fade;
    record.fadeTo = to;
    record.fadeLength = 1.0;  // 1 / the fade rate of 1 a second
    record.fadeClock = instant ? -1.0 : 0.0;
}

}  // namespace

// ---- the atlas ----

void ShadowAtlas::build(std::int32_t targetWidth, std::int32_t targetHeight, std::int32_t minItem) {
    width = targetWidth;
    height = targetHeight;
    cells.clear();
    if (width <= 0 || height <= 0 || minItem < 1) return;
    std::int32_t x0 = 0, span = width, size = height / 2;
    float weight = 2.0f;
    while (size >= minItem) {
        const std::int32_t columns = size == minItem ? span : span / 2;
        std::int32_t index = 0;
        for (std::int32_t x = x0; x + size <= x0 + columns; x += size)
            for (std::int32_t y = 0; y + size <= height; y += size) {
                Cell cell;
                cell.size = size;
                cell.index = index++;
                cell.u = float(x) / float(width);
                cell.v = float(y) / float(height);
                cell.sizeU = float(size) / float(width);
                cell.sizeV = float(size) / float(height);
                cell.weight = weight;
                cells.push_back(cell);
            }
        weight *= 2.0f;
        size /= 2;
        x0 += span / 2;
        span /= 2;
    }
}

void ShadowAtlas::freeAll() {
    for (Cell& cell : cells) cell.used = false;
}

ShadowAtlas::Cell* ShadowAtlas::take() {
    for (Cell& cell : cells)
        if (!cell.used) {
            cell.used = true;
            return &cell;
        }
    return nullptr;
}

// ---- the record's light ----

Light* ShadowRecord::linkedLight() const {
    GameObject* object = resolveLink(lightLink);
    return object && object->getType() == ObjectLight ? dynamic_cast<Light*>(object) : nullptr;
}

bool ShadowRecord::shadowValues(ShadowLightValues& out) const {
    if (light) {
        out = *light;
        return true;
    }
    const Light* linked = linkedLight();
    if (!linked || !linked->lightSet) return false;
    const LightSet& set = *linked->lightSet;
    out.intensity = set.shadowPower;
    out.exponent = set.shadowDensity;
    out.base = set.shadowLength;
    std::copy(set.shadowColor, set.shadowColor + 3, out.colour);
    return true;
}

ProcRenderTarget* currentShadowTarget() {
    if (!gameCore.render) return nullptr;
    TextureLink* link = gameCore.render->builtinTextures.find("ProcSHADOW1");
    auto* target = link ? dynamic_cast<ProcRenderTarget*>(link->handler()) : nullptr;
    return target && target->texture ? target : nullptr;
}

// ---- registration ----

bool SceneShadows::isCaster(GameObjectLink link) const {
    const auto at = findGroup(casters, link);
    return at != casters.end() && handleOf(at->caster) == handleOf(link);
}

bool SceneShadows::isReceiver(GameObjectLink link) const {
    return std::find_if(receivers.begin(), receivers.end(),
                        [&](GameObjectLink r) { return r.value == link.value; }) != receivers.end();
}

bool SceneShadows::addCaster(GameObjectLink link) {
    if (isCaster(link))
        return engineLog().systemError("Shadow: Can't add shadow caster object [%s] to scene [%s]: Already registered",
                                       objectName(link), sceneName);
    const auto at = findGroup(casters, link);
    CasterGroup group;
    group.caster = link;
    casters.insert(casters.begin() + (at - casters.begin()), std::move(group));
    return true;
}

bool SceneShadows::removeCaster(GameObjectLink link) {
    if (!isCaster(link)) return false;
    const auto at = findGroup(casters, link);
    casters.erase(casters.begin() + (at - casters.begin()));
    return true;
}

bool SceneShadows::addReceiver(GameObjectLink link) {
    if (isReceiver(link))
        return engineLog().systemError(
            "Shadow: Can't add shadow receiver object [%s] to scene [%s]: Already registered", objectName(link),
            sceneName);
    receivers.push_back(link);
    return true;
}

bool SceneShadows::removeReceiver(GameObjectLink link) {
    for (std::size_t i = 0; i < receivers.size(); ++i) {
        if (receivers[i].value != link.value) continue;
        receivers[i] = receivers.back();
        receivers.pop_back();
        return true;
    }
    return engineLog().error("Can't delete shadow receive [%08X]", link.value);
}

void SceneShadows::freeRecords() {
    atlas.cells.clear();
    for (CasterGroup& group : casters) group.records.clear();
}

void SceneShadows::clear() {
    atlas.cells.clear();
    casters.clear();
    receivers.clear();
}

// ---- the save record ----

namespace {

// Bytes of one saved record: direction, eye, flags, two links, three fade
// weights, the fade clock and length.
constexpr std::uint32_t kSavedRecordSize = 64;

std::int32_t writeRecord(DataStream& s, const ShadowRecord& r) {
    std::int32_t total = 0;
    for (float v : r.direction)
        if (!addField(total, writeF32(s, v))) return total;
    for (float v : r.position)
        if (!addField(total, writeF32(s, v))) return total;
    if (!addField(total, writeU32(s, r.flags)) || !addField(total, writeU32(s, r.caster.value)) ||
        !addField(total, writeU32(s, r.lightLink.value)) || !addField(total, writeF32(s, r.fade)) ||
        !addField(total, writeF32(s, r.fadeFrom)) || !addField(total, writeF32(s, r.fadeTo)) ||
        !addField(total, writeF64(s, r.fadeClock)) || !addField(total, writeF64(s, r.fadeLength)))
        return total;
    return total;
}

std::int32_t readRecord(DataStream& s, ShadowRecord& r) {
    std::int32_t total = 0;
    for (float& v : r.direction)
        if (!addField(total, readF32(s, v))) return total;
    for (float& v : r.position)
        if (!addField(total, readF32(s, v))) return total;
    if (!addField(total, readU32(s, r.flags)) || !addField(total, readU32(s, r.caster.value)) ||
        !addField(total, readU32(s, r.lightLink.value)) || !addField(total, readF32(s, r.fade)) ||
        !addField(total, readF32(s, r.fadeFrom)) || !addField(total, readF32(s, r.fadeTo)) ||
        !addField(total, readF64(s, r.fadeClock)) || !addField(total, readF64(s, r.fadeLength)))
        return total;
    // The fade runs again from its saved weights; cell and projection come
    // with the next frame.
    r.fadeClock = 0.0;
    r.fadeLength = static_cast<double>(0.1f);
    r.cellSize = 0;
    r.cellIndex = -1;
    return total;
}

// A u32 count that the bytes left can hold at minSize bytes an entry.
std::int32_t readBoundedCount(DataStream& s, std::uint32_t& count, std::uint32_t minSize, const char* what) {
    const std::int32_t result = readU32(s, count);
    if (result < 0) return result;
    if (count > static_cast<std::uint32_t>(std::max(bytesLeft(s), 0)) / minSize) {
        engineLog().error("Can't read scene shadows: %u %s beyond the end", count, what);
        return -1;
    }
    return result;
}

}  // namespace

std::int32_t SceneShadows::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(casters.size())))) return total;
    for (const CasterGroup& group : casters) {
        if (!addField(total, writeU32(stream, group.caster.value)) ||
            !addField(total, writeU32(stream, static_cast<std::uint32_t>(group.records.size()))))
            return total;
        for (const ShadowRecord& record : group.records)
            if (!addField(total, writeRecord(stream, record))) return total;
    }
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(receivers.size())))) return total;
    for (GameObjectLink link : receivers)
        if (!addField(total, writeU32(stream, link.value))) return total;
    return total;
}

std::int32_t SceneShadows::read(DataStream& stream) {
    clear();
    const auto fail = [this](std::int32_t result) {
        clear();
        return result;
    };
    std::int32_t total = 0;
    std::uint32_t groups = 0;
    if (!addField(total, readBoundedCount(stream, groups, 8, "caster groups"))) return fail(total);
    casters.reserve(groups);
    for (std::uint32_t g = 0; g < groups; ++g) {
        CasterGroup group;
        std::uint32_t records = 0;
        if (!addField(total, readU32(stream, group.caster.value)) ||
            !addField(total, readBoundedCount(stream, records, kSavedRecordSize, "shadow records")))
            return fail(total);
        if (!casters.empty() && handleOf(casters.back().caster) >= handleOf(group.caster)) {
            engineLog().error("Can't read scene shadows: caster [%08X] out of order", group.caster.value);
            return fail(-1);
        }
        group.records.resize(records);
        for (std::uint32_t r = 0; r < records; ++r) {
            ShadowRecord& record = group.records[r];
            if (!addField(total, readRecord(stream, record))) return fail(total);
            if (r > 0 && handleOf(group.records[r - 1].lightLink) >= handleOf(record.lightLink)) {
                engineLog().error("Can't read scene shadows: light [%08X] out of order", record.lightLink.value);
                return fail(-1);
            }
        }
        casters.push_back(std::move(group));
    }
    std::uint32_t count = 0;
    if (!addField(total, readBoundedCount(stream, count, 4, "shadow receivers"))) return fail(total);
    receivers.resize(count);
    for (GameObjectLink& link : receivers)
        if (!addField(total, readU32(stream, link.value))) return fail(total);
    return total;
}

// ---- the per-frame records ----

bool SceneShadows::fadeStep(ShadowRecord& record, double step) {
    record.cellSize = 0;
    record.cellIndex = -1;
    const bool remove = (record.flags & kShadowRemove) != 0;
    if (!(record.flags & kShadowFadeStarted)) {
        if (remove) return false;
        record.flags |= kShadowFadeStarted;
        startFade(record, 1.0f);
    } else if (!remove) {
        if (record.fadeTo == 0.0f) startFade(record, 1.0f);
    } else {
        if (record.fadeTo == 1.0f) startFade(record, 0.0f);
        if (record.fade == 0.0f) {
            record.flags &= ~kShadowFadeStarted;
            record.intensity = 0.0f;
            return false;
        }
        record.flags &= ~kShadowRemove;
    }
    if (record.fadeClock >= 0.0) {
        if (record.fadeLength == 0.0) {
            record.fade = 0.0f;
            record.fadeClock = -1.0;
        } else {
            record.fadeClock += step;
            double t = record.fadeClock / record.fadeLength;
            if (t >= 1.0) {
                t = 1.0;
                record.fadeClock = -1.0;
                record.fadeLength = 0.0;
            }
            record.fade = float((1.0 - t) * record.fadeFrom + t * record.fadeTo);
        }
    }
    record.intensity = record.fade;
    return true;
}

void SceneShadows::updateGroup(CasterGroup& group, double step) {
    for (ShadowRecord& record : group.records) record.flags |= kShadowRemove;
    Model* caster = modelOf(group.caster);
    bool takesPart = caster && castsNow(*caster);
    // The main character casts no shadow in the first-person camera mode
    // (a playing camera stack counts as another mode).
    if (takesPart && gameCore.cameraModeIndex() == 1)
        if (Scene* scene = caster->scene(); scene && scene->mainCharacter.value == group.caster.value) takesPart = false;
    if (!takesPart) {
        group.records.clear();
        return;
    }
    std::vector<GameObjectLink> lights;
    caster->collectShadowLights(lights);
    for (GameObjectLink light : lights) {
        auto at = std::lower_bound(group.records.begin(), group.records.end(), handleOf(light),
                                   [](const ShadowRecord& r, std::uint32_t handle) {
                                       return handleOf(r.lightLink) < handle;
                                   });
        if (at != group.records.end() && handleOf(at->lightLink) == handleOf(light)) {
            at->flags &= ~kShadowRemove;
            continue;
        }
        ShadowRecord made;
        made.caster = group.caster;
        made.lightLink = light;
        made.intensity = 0.0f;
        group.records.insert(at, made);
    }
    std::vector<ShadowRecord> kept;
    kept.reserve(group.records.size());
    for (ShadowRecord& record : group.records)
        if (fadeStep(record, step)) kept.push_back(record);
    group.records.swap(kept);
}

namespace {

void ensureAtlas(ShadowAtlas& atlas, const ProcRenderTarget& target) {
    if (atlas.cells.empty() || atlas.width != target.width || atlas.height != target.height)
        atlas.build(target.width, target.height, shadowSettings.textureMinItem);
}

}  // namespace

bool SceneShadows::anyStartedRecord() const {
    for (const CasterGroup& group : casters) {
        const Model* caster = modelOf(group.caster);
        if (!caster || !castsNow(*caster)) continue;
        for (const ShadowRecord& record : group.records)
            if (record.flags & kShadowFadeStarted) return true;
    }
    return false;
}

// ---- the frame's ranking and drawing ----

void SoftShadow::sortRanks(std::vector<ShadowRank>& ranks) {
    std::sort(ranks.begin(), ranks.end(), [](const ShadowRank& a, const ShadowRank& b) {
        return a.value < b.value || (!(b.value < a.value) && a.group > b.group);
    });
}

void SoftShadow::placeRecords(SceneShadows& shadows, const std::vector<ShadowRank>& ranks) {
    ShadowAtlas& atlas = shadows.atlas;
    atlas.freeAll();
    // Cells are listed largest first and taken in order: the next free one
    // is always the one after the last taken.
    std::size_t next = 0;
    for (const ShadowRank& rank : ranks) {
        if (rank.group >= shadows.casters.size()) continue;
        for (ShadowRecord& record : shadows.casters[rank.group].records) {
            if (next >= atlas.cells.size()) return;
            ShadowAtlas::Cell& cell = atlas.cells[next++];
            cell.used = true;
            record.cellSize = cell.size;
            record.cellIndex = cell.index;
            record.windowX = cell.u;
            record.windowY = cell.v;
            record.windowWidth = cell.sizeU;
            record.windowHeight = cell.sizeV;
        }
    }
}

float SoftShadow::rankValue(const Model& caster, const float* eye) {
    float d2 = 0.0f;
    for (int k = 0; k < 3; ++k) {
        const float d = caster.worldMatrix.m[9 + k] - eye[k];
        d2 += d * d;
    }
    // A caster placed at no real position ranks last (and keeps the sort's
    // order strict).
    float value = std::isfinite(d2) ? std::sqrt(d2) : std::numeric_limits<float>::max();
    const float small1 = shadowSettings.minItemSize1, small2 = shadowSettings.minItemSize2;
    float low[3], high[3];
    if (small1 > 0.0f && small2 > 0.0f && caster.getCasterBounds(low, high)) {
        float diagonal2 = 0.0f;
        for (int k = 0; k < 3; ++k) diagonal2 += (high[k] - low[k]) * (high[k] - low[k]);
        if (diagonal2 < small1) value += 1000.0f;
        if (diagonal2 < small2) value += 10000.0f;
    }
    return value;
}

void SoftShadow::render(SceneShadows& shadows, const CurrentTime& time) {
    ProcRenderTarget* target = currentShadowTarget();
    if (!target) return;
    ensureAtlas(shadows.atlas, *target);
    for (SceneShadows::CasterGroup& group : shadows.casters)
        if (group.caster.value) shadows.updateGroup(group, time.world.step);
    shadows.atlas.freeAll();
    const CameraCore* camera = shadows.scene ? shadows.scene->camera() : nullptr;
    std::vector<ShadowRank> ranks;
    ranks.reserve(shadows.casters.size());
    for (std::uint32_t i = 0; i < shadows.casters.size(); ++i) {
        const SceneShadows::CasterGroup& group = shadows.casters[i];
        const bool started = std::any_of(group.records.begin(), group.records.end(),
                                         [](const ShadowRecord& r) { return (r.flags & kShadowFadeStarted) != 0; });
        const Model* caster = started ? modelOf(group.caster) : nullptr;
        if (!caster || !castsNow(*caster)) continue;
        ranks.push_back(ShadowRank{camera ? rankValue(*caster, camera->position()) : 0.0f, i});
    }
    sortRanks(ranks);
    // Ranked without a camera, but nothing to be near to: no cells.
    if (camera) placeRecords(shadows, ranks);
}

bool SoftShadow::blur(SceneShadows& shadows) {
    const VideoSetup& mode = textureEnvironment().videoSetup();
    if (mode.details == 0) return false;
    ProcRenderTarget* target = currentShadowTarget();
    if (!target) return false;
    ensureAtlas(shadows.atlas, *target);
    const bool any = shadows.anyStartedRecord();
    if (!any && !shadows.hadShadows) return false;
    shadows.hadShadows = any;
    const bool drawn = target->renderCharacterShadow([&shadows] {
        for (SceneShadows::CasterGroup& group : shadows.casters)
            for (ShadowRecord& record : group.records) shadows.buildCharacterProjection(record);
    });
    if (!drawn) {
        if (TextureLink* link = gameCore.render->builtinTextures.find("ProcSHADOW1")) link->release(false);
        return false;
    }
    if (shadowSettings.blurDisable || mode.shadows != 2 || mode.details != 2) return true;
    const float offset = blurOffset(shadows);
    return offset > 0.0f ? gameCore.render->blurSoftShadows(offset) : true;
}

float SoftShadow::blurOffset(const SceneShadows& shadows) {
    const SceneShadows::CasterGroup* chosen = nullptr;
    const std::uint32_t main = shadows.scene ? shadows.scene->mainCharacter.value : 0;
    for (const SceneShadows::CasterGroup& group : shadows.casters) {
        if (group.records.empty()) continue;
        if (!chosen) chosen = &group;
        if (main && group.caster.value == main) {
            chosen = &group;
            break;
        }
    }
    const Model* model = chosen ? modelOf(chosen->caster) : nullptr;
    if (model && model->lightSetName[0] && gameCore.lightSets)
        if (const LightSet* set = gameCore.lightSets->request(model->lightSetName, true)) return set->shadowSoft;
    return shadowSettings.blurOffset;
}

void SceneShadows::buildCharacterProjection(ShadowRecord& record) {
    if (!record.hasCell()) return;
    Model* caster = modelOf(record.caster);
    const Light* light = record.linkedLight();
    if (!caster || !light || !castsNow(*caster)) return;
    // The centre: the pelvis or body bone, else the model's position.
    float centre[3] = {caster->worldMatrix.m[9], caster->worldMatrix.m[10], caster->worldMatrix.m[11]};
    std::int32_t bone = caster->findBone("bip01 pelvis");
    if (bone < 0) bone = caster->findBone("body");
    Matrix34 boneMatrix;
    if (bone >= 0 && caster->getBoneWorldMatrix(bone, boneMatrix)) std::copy(boneMatrix.m + 9, boneMatrix.m + 12, centre);
    // The direction toward the caster.
    float direction[3];
    if (light->flags & kLightDirectKind) {
        std::copy(light->pose.m + 6, light->pose.m + 9, direction);
    } else {
        for (int k = 0; k < 3; ++k) direction[k] = centre[k] - light->pose.m[9 + k];
    }
    normalize(direction);
    if (direction[0] == 0.0f && direction[1] == 0.0f && direction[2] == 0.0f) direction[1] = -1.0f;
    // The extent: the caster's shadow box, else the resource's size.
    float eyeDistance = 15.0f, radius = 1.0f, heightExtent = 0.0f;
    float low[3], high[3];
    if (caster->getCasterBounds(low, high)) {
        centre[0] = 0.5f * (low[0] + high[0]);
        centre[2] = 0.5f * (low[2] + high[2]);
        heightExtent = std::fabs(high[1] - centre[1]) + shadowSettings.extraOffset;
        const float dx = high[0] - low[0], dz = high[2] - low[2];
        radius = 0.8f * std::sqrt(dx * dx + dz * dz);
    } else {
        float size[3] = {0.0f, 0.0f, 0.0f};
        if (caster->resource && caster->resource->model) caster->resource->model->getBoxSize(size);
        float length = std::sqrt(size[0] * size[0] + size[1] * size[1] + size[2] * size[2]);
        if (length <= 0.0f) length = std::sqrt(3.0f);
        radius = 0.8f * length;
        eyeDistance = radius;
        heightExtent = radius;
    }
    radius = std::max(radius, 0.01f);
    float eye[3];
    for (int k = 0; k < 3; ++k) eye[k] = centre[k] - eyeDistance * direction[k];
    // The view: the eye's frame looking along the direction.
    const float up[3] = {std::fabs(direction[1]) <= 0.707f ? 0.0f : 1.0f, std::fabs(direction[1]) <= 0.707f ? 1.0f : 0.0f,
                         0.0f};
    float right[3], upward[3];
    cross(up, direction, right);
    normalize(right);
    cross(direction, right, upward);
    D3DMATRIX view{};
    const float* axes[3] = {right, upward, direction};
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r) view.m[r][c] = axes[c][r];
        view.m[3][c] = -(eye[0] * axes[c][0] + eye[1] * axes[c][1] + eye[2] * axes[c][2]);
    }
    view.m[3][3] = 1.0f;
    // The orthographic scale: across by 1 / radius, the depth from the eye
    // to twice the caster's far side into 0 to 1.
    const float depth = 2.0f * (eyeDistance + radius + heightExtent);
    D3DMATRIX scale{};
    scale.m[0][0] = 1.0f / radius;
    scale.m[1][1] = 1.0f / radius;
    scale.m[2][2] = 1.0f / depth;
    scale.m[3][3] = 1.0f;
    // -1..1 onto the record's cell.
    D3DMATRIX cellMatrix{};
    cellMatrix.m[0][0] = record.windowWidth;
    cellMatrix.m[1][1] = record.windowHeight;
    cellMatrix.m[2][2] = 1.0f;
    cellMatrix.m[3][0] = (2.0f * record.windowX - 1.0f) + record.windowWidth;
    cellMatrix.m[3][1] = (2.0f * record.windowY - 1.0f) + record.windowHeight;
    cellMatrix.m[3][3] = 1.0f;
    record.projection = multiply(multiply(view, scale), cellMatrix);
    std::copy(direction, direction + 3, record.direction);
    std::copy(eye, eye + 3, record.position);
    // The receiver keeps the shadow's strength over the projection's depth.
    record.falloffOffset = depth;
    for (ModelElement& element : caster->elements) element.drawShadowCaster(record);
}

namespace {

// Whether receivers show shadows, by camera mode ("Observer", "Game",
// "Dialog", "DialogCursor", "Fixed", "Movie", "Stillframe", "Editor",
// "EditorFly", "2d", "3d", "Player"): not on the flat screens of mode 9.
constexpr bool kShadowsInCameraMode[12] = {true, true, true, true, true, true,
                                           true, true, true, false, true, true};


// Where a receiver pass can change the picture. The pass adds the shadow
// only where a point's place in the record's map lies inside the cell
// (0 to 1 across and down): a prism along the light, cut here by the
// element's box and the camera's near plane.
enum class Footprint { Unknown, None, Area };

struct Plane {
    double n[3];
    double d;  // inside where n . p + d >= 0
    double at(const double* p) const { return n[0] * p[0] + n[1] * p[1] + n[2] * p[2] + d; }
};

// The plane column . (p, 1) >= 0 of a row-vector matrix.
Plane columnPlane(const D3DMATRIX& m, int column, double sign = 1.0, int minus = -1) {
    Plane plane{};
    for (int r = 0; r < 3; ++r) plane.n[r] = sign * m.m[r][column] - (minus >= 0 ? m.m[r][minus] : 0.0);
    plane.d = sign * m.m[3][column] - (minus >= 0 ? m.m[3][minus] : 0.0);
    return plane;
}

Footprint receiverFootprint(ModelElement& element, const D3DMATRIX& shadow, const D3DMATRIX& viewProjection,
                            const D3DVIEWPORT9& viewport, RECT& area) {
    // Only an element drawn from its mesh's own vertices by its world
    // matrix has a box to trust (no skinned copy, no cloth).
    ModelElementLod* level = element.lod();
    float low[3], high[3];
    if (!level || !level->mesh || level->meshInstance || level->cloth || !level->mesh->positionBounds(low, high))
        return Footprint::Unknown;
    // The map's coordinates must be affine (w = 1) for the cell to be a prism.
    if (shadow.m[0][3] != 0.0f || shadow.m[1][3] != 0.0f || shadow.m[2][3] != 0.0f || shadow.m[3][3] != 1.0f)
        return Footprint::Unknown;
    const D3DMATRIX& w = element.world;
    double boxLow[3], boxHigh[3];
    for (int corner = 0; corner < 8; ++corner) {
        const double p[3] = {(corner & 1) ? high[0] : low[0], (corner & 2) ? high[1] : low[1],
                             (corner & 4) ? high[2] : low[2]};
        for (int k = 0; k < 3; ++k) {
            const double v = p[0] * w.m[0][k] + p[1] * w.m[1][k] + p[2] * w.m[2][k] + w.m[3][k];
            boxLow[k] = corner ? std::min(boxLow[k], v) : v;
            boxHigh[k] = corner ? std::max(boxHigh[k], v) : v;
        }
    }
    Plane planes[11];
    int count = 0;
    for (int k = 0; k < 3; ++k) {
        // The box, grown a little so that a flat element keeps its face.
        const double grow = 1e-3 * (boxHigh[k] - boxLow[k]) + 1e-3;
        Plane above{}, below{};
        above.n[k] = 1.0;
        above.d = -(boxLow[k] - grow);
        below.n[k] = -1.0;
        below.d = boxHigh[k] + grow;
        planes[count++] = above;
        planes[count++] = below;
    }
    // The cell's sides: 0 <= u <= 1 and 0 <= v <= 1, widened by a hundredth.
    for (int column = 0; column < 2; ++column) {
        Plane from = columnPlane(shadow, column), to = columnPlane(shadow, 3, 1.0, column);
        from.d += 0.01;
        to.d += 0.01;
        planes[count++] = from;
        planes[count++] = to;
    }
    // In front of the camera: Direct3D's clip depth z >= 0.
    planes[count++] = columnPlane(viewProjection, 2);
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(planes[i].d) || !std::isfinite(planes[i].n[0]) || !std::isfinite(planes[i].n[1]) ||
            !std::isfinite(planes[i].n[2]))
            return Footprint::Unknown;
    // The corners of that convex body are where three of its planes meet
    // inside all the others; their picture bounds the footprint.
    double left = 0, top = 0, right = 0, bottom = 0;
    bool any = false;
    for (int a = 0; a < count; ++a)
        for (int b = a + 1; b < count; ++b)
            for (int c = b + 1; c < count; ++c) {
                const double *na = planes[a].n, *nb = planes[b].n, *nc = planes[c].n;
                const double bc[3] = {nb[1] * nc[2] - nb[2] * nc[1], nb[2] * nc[0] - nb[0] * nc[2],
                                      nb[0] * nc[1] - nb[1] * nc[0]};
                const double det = na[0] * bc[0] + na[1] * bc[1] + na[2] * bc[2];
                const double scale = std::sqrt((na[0] * na[0] + na[1] * na[1] + na[2] * na[2]) *
                                               (bc[0] * bc[0] + bc[1] * bc[1] + bc[2] * bc[2]));
                if (std::fabs(det) <= 1e-9 * scale || scale == 0.0) continue;
                const double ca[3] = {nc[1] * na[2] - nc[2] * na[1], nc[2] * na[0] - nc[0] * na[2],
                                      nc[0] * na[1] - nc[1] * na[0]};
                const double ab[3] = {na[1] * nb[2] - na[2] * nb[1], na[2] * nb[0] - na[0] * nb[2],
                                      na[0] * nb[1] - na[1] * nb[0]};
                double p[3];
                for (int k = 0; k < 3; ++k)
                    p[k] = -(planes[a].d * bc[k] + planes[b].d * ca[k] + planes[c].d * ab[k]) / det;
                bool inside = true;
                for (int i = 0; i < count && inside; ++i) {
                    const double* n = planes[i].n;
                    const double tolerance = 1e-6 * (1.0 + std::fabs(planes[i].d) +
                                                     std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]) *
                                                         (std::fabs(p[0]) + std::fabs(p[1]) + std::fabs(p[2])));
                    inside = planes[i].at(p) >= -tolerance;
                }
                if (!inside) continue;
                double clip[4];
                for (int k = 0; k < 4; ++k)
                    clip[k] = p[0] * viewProjection.m[0][k] + p[1] * viewProjection.m[1][k] +
                              p[2] * viewProjection.m[2][k] + viewProjection.m[3][k];
                // A corner on the camera's own plane has no picture.
                if (!(clip[3] > 1e-6)) return Footprint::Unknown;
                const double x = viewport.X + (clip[0] / clip[3] + 1.0) * 0.5 * viewport.Width;
                const double y = viewport.Y + (1.0 - clip[1] / clip[3]) * 0.5 * viewport.Height;
                if (!std::isfinite(x) || !std::isfinite(y)) return Footprint::Unknown;
                left = any ? std::min(left, x) : x;
                right = any ? std::max(right, x) : x;
                top = any ? std::min(top, y) : y;
                bottom = any ? std::max(bottom, y) : y;
                any = true;
            }
    if (!any) return Footprint::None;
    // Whole pixels with one to spare, inside the viewport.
    const double vx0 = viewport.X, vy0 = viewport.Y;
    const double vx1 = vx0 + viewport.Width, vy1 = vy0 + viewport.Height;
    left = std::max(vx0, std::floor(left) - 1.0);
    top = std::max(vy0, std::floor(top) - 1.0);
    right = std::min(vx1, std::ceil(right) + 1.0);
    bottom = std::min(vy1, std::ceil(bottom) + 1.0);
    if (right <= left || bottom <= top) return Footprint::None;
    area = {INT(left), INT(top), INT(right), INT(bottom)};
    return Footprint::Area;
}

}  // namespace

void SceneShadows::renderReceiver(Model& model) const {
    const std::int32_t cameraMode = gameCore.cameraModeIndex();
    if (cameraMode < 0 || cameraMode >= 12 || !kShadowsInCameraMode[cameraMode]) return;
    const bool receiver = (model.stateWords[0] & (kModelOutOfPvs | kModelShadowReceivers)) != 0;
    if (!receiver && !castsNow(model)) return;
    // Each record's pass is held to its footprint on the screen (the
    // floor under one character need not be shaded whole), and skipped
    // where the footprint misses the element or the view.
    IDirect3DDevice9* device = gameCore.render ? gameCore.render->stateCache().device() : nullptr;
    D3DVIEWPORT9 viewport{};
    const bool cut = device && SUCCEEDED(device->GetViewport(&viewport));
    D3DMATRIX viewProjection{};
    if (cut) {
        const ShaderFrameState& frame = gameCore.render->shaders().frame;
        viewProjection = multiply(frame.view, frame.projection);
    }
    bool scissorOn = false;
    eachRecordWithCell([&](const ShadowRecord& record) {
        const D3DMATRIX shadow = cut ? Model::shadowReceiverConstants(record).shadow : D3DMATRIX{};
        for (ModelElement& element : model.elements) {
            RECT area{};
            const Footprint footprint =
                cut ? receiverFootprint(element, shadow, viewProjection, viewport, area) : Footprint::Unknown;
            if (footprint == Footprint::None) continue;
            if (footprint == Footprint::Area) {
                device->SetScissorRect(&area);
                if (!scissorOn) device->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
                scissorOn = true;
            } else if (scissorOn) {
                device->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
                scissorOn = false;
            }
            element.drawShadowReceiver(record);
        }
    });
    if (scissorOn) device->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
}
