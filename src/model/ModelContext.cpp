#include "model/ModelContext.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/EngineGlobals.h"
#include "app/GameCore.h"
#include "effects/RenderObject.h"
#include "foundation/Log.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "render/DXTextureHandler.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/VideoSetup.h"
#include "render/shaders/ShaderCore.h"
#include "render/shaders/ShaderProgramTable.h"
#include "render/shaders/ShaderVariables.h"
#include "render/states/DXStateCache.h"
#include "scene/Scene.h"
#include "script/VariablesCore.h"

namespace {

// One entry of a batch: where and under which key it goes, which instance
// (or -(group + 1)) and its depth.
struct BatchEntry {
    std::int32_t queue;
    std::int32_t key;
    std::int32_t instance;
    float depth;
};
static_assert(sizeof(BatchEntry) == 16);

// The batch scratch array that every model context shares: the globals'
// growable array of the model contexts, used as raw storage (an entry takes
// 16 bytes of its slots). Used only inside update, on the main thread.
class Batch {
public:
    Batch() : count_(0), minimum_(10000.0f) {}
    void add(const BatchEntry& entry) {
        constexpr std::uint32_t slotsPerEntry = (sizeof(BatchEntry) + sizeof(void*) - 1) / sizeof(void*);
        if (!globalModelContexts.reserve((count_ + 1) * slotsPerEntry)) return;  // dropped
        std::memcpy(reinterpret_cast<char*>(globalModelContexts.data()) + count_ * sizeof(BatchEntry), &entry,
                    sizeof entry);
        ++count_;
        minimum_ = std::min(minimum_, entry.depth);
    }
    BatchEntry at(std::uint32_t i) const {
        BatchEntry entry;
        std::memcpy(&entry, reinterpret_cast<const char*>(globalModelContexts.data()) + i * sizeof(BatchEntry),
                    sizeof entry);
        return entry;
    }
    std::uint32_t count() const { return count_; }
    float minimum() const { return minimum_; }

private:
    std::uint32_t count_;
    float minimum_;
};

RenderList* currentList() { return gameCore.render ? &gameCore.render->renderList : nullptr; }

Y3ModelDefault* meshModelOf(const Y3ModelData* record) {
    if (!record || !record->model || record->model->kind() != kModelKindDefault) return nullptr;
    return static_cast<Y3ModelDefault*>(record->model.get());
}

float depthFrom(const float* eye, const ModelDrawInstance& instance) {
    float d2 = 0.0f;
    for (int k = 0; k < 3; ++k) d2 += (eye[k] - instance.centre[k]) * (eye[k] - instance.centre[k]);
    const float depth = d2 - instance.radiusSquared;
    return depth < 0.0f ? 0.0f : depth;
}

// The model part of the qualifying test: drawn this frame, shown and
// enabled; its element e drawn, pushed and at LOD L, drawn by a group at
// that LOD (a static instance) or not, as asked.
ModelElement* qualifyingElement(Model* model, std::int32_t e, std::int32_t lod, bool statics) {
    if (!model) return nullptr;
    const std::uint32_t low = model->stateWords[0];
    if (!(low & kModelDrawnThisFrame) || !(low & kModelShown) || !(model->stateWords[1] & kModelVisiblePhase))
        return nullptr;
    if (e < 0 || e >= std::int32_t(model->elements.size())) return nullptr;
    ModelElement& element = model->elements[std::size_t(e)];
    if ((element.flags & (kElementDrawn | kElementPushed)) != (kElementDrawn | kElementPushed)) return nullptr;
    if (element.lodIndex != lod) return nullptr;
    if (element.instancedAt(lod) != statics) return nullptr;
    return &element;
}

// The model of a group member when it is in the resource's context.
Model* memberInContext(const MeshInstanceMember* member, const Y3ModelData* resource) {
    Model* owner = member ? member->model : nullptr;
    return owner && owner->resource == resource && (owner->stateWords[0] & kModelInContext) ? owner : nullptr;
}

// The member of group whose element e qualifies first (in member order):
// the group is drawn through it. Null when none does.
ModelElement* groupRepresentative(const MeshInstance& group, const Y3ModelData* resource, std::int32_t e,
                                  std::int32_t lod) {
    for (const MeshInstanceMember* member : group.members())
        if (ModelElement* element = qualifyingElement(memberInContext(member, resource), e, lod, true))
            return element;
    return nullptr;
}

// Draws through element, in world space, with group's merged vertices in
// place of the element's own mesh; the element's matrix comes back after.
template <class Draw>
bool drawAsGroup(ModelElement& element, MeshInstance& group, Draw draw) {
    ModelElementLod* level = element.lod();
    if (!level) return false;
    const D3DMATRIX own = element.world;
    element.world = identityMatrix();
    level->drawGroup = &group;
    const bool drawn = draw();
    level->drawGroup = nullptr;
    element.world = own;
    return drawn;
}

// The mesh entry of a qualifying element: its draw instance m allowed,
// visible and with something to draw, a key that is not negative.
bool meshEntry(const ModelElement& element, std::int32_t lod, std::int32_t m, const float* eye, BatchEntry& out) {
    if (element.flags & kElementBeyondFar) return false;
    if (lod < 0 || lod >= std::int32_t(element.lods.size())) return false;
    const std::vector<ModelDrawInstance>& draws = element.lods[std::size_t(lod)].drawInstances;
    if (m < 0 || m >= std::int32_t(draws.size())) return false;
    const ModelDrawInstance& draw = draws[std::size_t(m)];
    constexpr std::uint32_t wanted = ModelDrawInstance::kAllowed | ModelDrawInstance::kVisible;
    if ((draw.flags & wanted) != wanted || draw.drawFactor == 0.0f) return false;
    const std::int32_t key = draw.sortKey + element.depthKey;
    if (key < 0) return false;
    out.queue = draw.queue ? 1 : 0;
    out.key = key;
    out.depth = depthFrom(eye, draw);
    return true;
}

// The rain map's height pass: one material of the current level drawn with
// the height programs, which write every point's height above bottom in
// the encoding the rain map tracer reads.
void drawElementHeights(ModelElement& element, std::int32_t material, float bottom) {
    ModelElementLod* level = element.lod();
    if (!level || !gameCore.render) return;
    if (level->mesh && (material < 0 || material >= std::int32_t(level->materials.size()))) return;
    if (level->mesh) {
        level->subset = material;
        level->material = level->materials[std::size_t(material)].get();
    }
    ShaderCore& shaders = gameCore.render->shaders();
    shaders.selectVertexProgram(kRainHeightVertexProgram);
    shaders.selectPixelProgram(kRainHeightPixelProgram);
    ShaderProgram* vertex = shaders.currentVertexProgram();
    ShaderProgram* pixel = shaders.currentPixelProgram();
    if (!vertex || !pixel || !vertex->has(ShaderProgram::BodyLoaded) || !pixel->has(ShaderProgram::BodyLoaded)) return;
    if (VertexData* m = shaders.programVariable(vertex, "mWorldViewProjection")) {
        m->changed = 0;
        m->setMatrix(TransformWorldViewProj, element.world);
    }
    if (VertexData* m = shaders.programVariable(vertex, "mWorld")) {
        m->changed = 0;
        m->setMatrix(TransformAsIs, element.world);
    }
    if (VertexData* v = shaders.programVariable(vertex, "vTT0")) {
        v->changed = 0;
        v->setValues(bottom, 0.0f, 0.0f, 0.0f);
    }
    // Opaque, depth-tested and written: the highest surface stays.
    ShaderPassState& pass = shaders.pass;
    pass.alphaMode = 0;
    pass.blendMode = 0;
    pass.depthFunction = 4;
    pass.fogMode = 0;
    pass.alphaApplied = pass.blendApplied = pass.cullApplied = pass.depthApplied = 0;
    gameCore.render->stateCache().setRender(DXStateCache::RsFillMode, D3DFILL_SOLID);
    shaders.prepareDraw(true);
    Model::drawElementMesh(element, true);
}

bool shaderSupport() { return textureEnvironment().videoSetup().details > 0; }

}  // namespace

ModelContext* ModelContext::of(const Y3ModelData* record) { return record ? record->context() : nullptr; }

bool ModelContext::resourceUsable(Y3ModelData* record, bool headerOnly) {
    if (!record) return false;
    ModelDataManager* manager = modelDataManager();
    const bool wanted = headerOnly ? record->has(kResourceHeaderLoaded) : record->has(kResourceAllocated);
    if (!wanted) {
        if (record->has(kResourceUnavailable) || !manager) return false;
        if (!record->has(kResourceHeaderLoaded) && !manager->loadHeader(record, nullptr)) return false;
        if (!headerOnly && !manager->allocate(record)) return false;
    }
    return record->has(kResourceHeaderLoaded) && meshModelOf(record) != nullptr;
}

bool ModelContext::push(Y3ModelData* record, Model& model) {
    Log& log = engineLog();
    if (!record) return log.error("Can't push model [%s] (%s): resource not found", model.getName(), model.resourceName);
    if (renderListLocked())
        return log.error("Can't push model [%s] (%s): render context locked", model.getName(), record->name);
    if (model.stateWords[0] & kModelInContext)
        return log.error("Can't push %s [%s] twice", record->typeLabel, model.getName());
    // The resource's users: refused when unavailable or already there.
    if (!ResourceManagerBase::push(record, &model.resourceUser())) return false;
    if (!record->context()) {
        record->renderObject.name = record->name;
        if (!createRenderObject(record->renderObject, new ModelContext(&record->renderObject, record))) {
            ResourceManagerBase::pop(record, &model.resourceUser());
            return false;
        }
        if (record->model) record->model->gameContext = record->context();
        loadLodRanges(record);
    }
    record->context()->instances.push_back(&model);
    model.stateWords[0] |= kModelInContext;
    return true;
}

bool ModelContext::pop(Y3ModelData* record, Model& model) {
    Log& log = engineLog();
    if (!record) return log.error("Can't pop model [%s] (%s): resource not found", model.getName(), model.resourceName);
    if (renderListLocked())
        return log.error("Can't pop model [%s] (%s): render context locked", model.getName(), record->name);
    if (!(model.stateWords[0] & kModelInContext))
        return log.error("Can't pop %s [%s]: push first", record->typeLabel, model.getName());
    if (!ResourceManagerBase::pop(record, &model.resourceUser())) return false;
    model.stateWords[0] &= ~kModelInContext;
    if (ModelContext* context = record->context()) {
        std::vector<Model*>& list = context->instances;
        const auto at = std::find(list.begin(), list.end(), &model);
        if (at != list.end()) {
            *at = list.back();
            list.pop_back();
        }
        if (list.empty()) {
            if (record->model && record->model->gameContext == context) record->model->gameContext = nullptr;
            releaseRenderObject(record->renderObject);
        }
    }
    return true;
}

void ModelContext::loadLodRanges(Y3ModelData* record) {
    if (!record) return;
    record->hasRanges = false;
    for (float& range : record->lodRanges) range = -1.0f;
    static const char* const kNames[2][Y3ModelData::RangeCount] = {
        {"lod1", "lod2", "hide", "fill_light", "no_light", "texture_lod"},
        {"ffp_lod1", "ffp_lod2", "ffp_hide", "ffp_fill_light", "ffp_no_light", "ffp_texture_lod"}};
    const bool fixed = (gameCore.video && gameCore.video->videoDevice.isFixedPipeline()) || !shaderSupport();
    const char* const* names = kNames[fixed ? 1 : 0];
    ScriptVariable* root = gameCore.variables ? gameCore.variables->globals().root() : nullptr;
    if (!root) {
        engineLog().error("\n\nCan't find script variable [%s.%s]", "globals", "levelofdetails");
        return;
    }
    if (!ScriptVariable::test(root, "levelofdetails")) return;
    ScriptVariable* table = ScriptVariable::resolvePath(root, "levelofdetails");
    char path[512];
    std::snprintf(path, sizeof path, "range.%s.%s", names[0], record->name);
    ScriptVariable* entry = nullptr;
    for (std::int32_t i = 0; table && i < table->childCount() && !entry; ++i)
        if (ScriptVariable* child = table->child(i); child && ScriptVariable::test(child, path)) entry = child;
    if (!entry) return;
    for (int r = 0; r < Y3ModelData::RangeCount; ++r) {
        std::snprintf(path, sizeof path, "range.%s.%s", names[r], record->name);
        if (ScriptVariable::test(entry, path)) {
            const ScriptVariable* value = ScriptVariable::resolvePath(entry, path);
            if (value && (value->type() == ScriptVariable::TypeNumber || value->type() == ScriptVariable::TypeString ||
                          value->type() == ScriptVariable::TypeBoolean)) {
                float range = value->toFloat();
                if (range > 0.0f) range *= range;
                record->lodRanges[r] = range;
            }
        }
        const float range = record->lodRanges[r];
        if ((r <= Y3ModelData::RangeHide && range > 0.0f) || (r == Y3ModelData::RangeTextureLod && range >= 0.0f))
            record->hasRanges = true;
    }
}

void ModelContext::queueBatch(const float* eye, std::int32_t e, std::int32_t m, std::int32_t lod, bool statics) {
    RenderList* list = currentList();
    if (!list) return;
    Batch batch;
    if (statics) {
        // One entry a group, from the first member that qualifies.
        Y3ModelDefault* model = meshModelOf(resource);
        Y3Mesh& record = model->elements[std::size_t(e)]->lods[lod];
        for (std::int32_t g = 0; g < record.instanceCount(); ++g)
            for (const MeshInstanceMember* member : record.instance(g).members()) {
                const ModelElement* element = qualifyingElement(memberInContext(member, resource), e, lod, true);
                BatchEntry entry{};
                if (!element || !meshEntry(*element, lod, m, eye, entry)) continue;
                entry.instance = -(g + 1);
                batch.add(entry);
                break;
            }
    } else {
        for (std::size_t i = 0; i < instances.size(); ++i) {
            const ModelElement* element = qualifyingElement(instances[i], e, lod, false);
            BatchEntry entry{};
            if (!element || !meshEntry(*element, lod, m, eye, entry)) continue;
            entry.instance = std::int32_t(i);
            batch.add(entry);
        }
    }
    for (std::uint32_t i = 0; i < batch.count(); ++i) {
        const BatchEntry entry = batch.at(i);
        list->queues[entry.queue].insert(
            entry.key, DrawItem{renderObject, entry.instance, e, m, lod, batch.minimum(), entry.depth});
    }
}

void ModelContext::queueWholeElements(const float* eye, std::int32_t e, std::int32_t lod) {
    RenderList* list = currentList();
    if (!list) return;
    Batch batch;
    for (std::size_t i = 0; i < instances.size(); ++i) {
        const ModelElement* element = qualifyingElement(instances[i], e, lod, false);
        if (!element || !(element->flags & kElementBeyondFar)) continue;
        const std::vector<ModelDrawInstance>& draws = element->lods[std::size_t(lod)].drawInstances;
        batch.add(BatchEntry{1, 0, std::int32_t(i), draws.empty() ? 0.0f : depthFrom(eye, draws.front())});
    }
    for (std::uint32_t i = 0; i < batch.count(); ++i) {
        const BatchEntry entry = batch.at(i);
        list->queues[1].insert(0, DrawItem{renderObject, entry.instance, e, -1, lod, batch.minimum(), entry.depth});
    }
}

void ModelContext::queueShadowItems() {
    RenderList* list = currentList();
    const VideoSetup& mode = textureEnvironment().videoSetup();
    if (!list || mode.details <= 0 || mode.shadows == 0) return;
    for (std::size_t i = 0; i < instances.size(); ++i)
        if (instances[i] && (instances[i]->stateWords[0] & kModelOutOfPvs))
            list->queues[0].insert(kShadowKey, DrawItem{renderObject, std::int32_t(i), -1, -1, -1, 0.0f, 0.0f});
}

void ModelContext::update(const Matrix34& camera) {
    if (!resourceUsable(resource)) return;
    if (renderObject && renderObject->visible) {
        Y3ModelDefault* model = meshModelOf(resource);
        const float* eye = &camera.m[9];
        const std::int32_t elementCount = std::int32_t(model->elements.size());
        for (std::int32_t lod = 0; lod < 3; ++lod)
            for (std::int32_t e = 0; e < elementCount; ++e) {
                Y3Mesh& record = model->elements[std::size_t(e)]->lods[lod];
                const std::int32_t meshes = std::max(record.subsetCount(), 1);
                for (std::int32_t m = 0; m < meshes; ++m) {
                    if (record.instanceCount() > 0) queueBatch(eye, e, m, lod, true);
                    queueBatch(eye, e, m, lod, false);
                }
                queueWholeElements(eye, e, lod);
            }
    }
    queueShadowItems();
}

bool ModelContext::cull() {
    bool seen = false;
    for (Model* model : instances)
        if (model && model->cull()) seen = true;
    return seen;
}

std::int32_t ModelContext::render(const DrawItem* items, std::int32_t count, std::int32_t index, std::int32_t step) {
    if (!resourceUsable(resource)) {
        while (index >= 0 && index < count && items[index].renderObject == renderObject) index += step;
        return index;
    }
    while (index >= 0 && index < count) {
        const DrawItem& item = items[index];
        if (item.renderObject != renderObject) return index;
        index += step;
        if (item.instance < 0) {
            // A static-instance group: drawn once, through its first member
            // that qualifies.
            Y3ModelDefault* model = meshModelOf(resource);
            if (item.element < 0 || item.element >= std::int32_t(model->elements.size()) || item.lod < 0 ||
                item.lod > 2)
                continue;
            Y3Mesh& record = model->elements[std::size_t(item.element)]->lods[item.lod];
            const std::int32_t group = -(item.instance + 1);
            if (group >= record.instanceCount() || record.instance(group).members().empty()) continue;
            if (ModelElement* element = groupRepresentative(record.instance(group), resource, item.element, item.lod))
                element->render(0.0f, item.lod, item.mesh, group);
            continue;
        }
        if (item.instance >= std::int32_t(instances.size()) || !instances[std::size_t(item.instance)]) continue;
        Model& model = *instances[std::size_t(item.instance)];
        if (item.element == -1) {
            // The shadow item: the shadows the model receives.
            if (Scene* scene = model.scene()) model.drawShadowReceiver(scene->shadows);
            continue;
        }
        if (item.element >= std::int32_t(model.elements.size())) continue;
        ModelElement& element = model.elements[std::size_t(item.element)];
        if (item.mesh == -1 && item.lod >= 0) element.render(item.depth);
        else element.render(item.depth, item.lod, item.mesh, -1);
    }
    return index;
}

namespace {

// The second-pass draw of every material of the element's current level.
bool drawContextPass(ModelElement& element) {
    ModelElementLod* level = element.lod();
    if (!level) return false;
    if (!level->mesh || level->materials.empty()) return Model::drawElementShaderContextPass(element);
    bool drawn = false;
    for (std::size_t i = 0; i < level->materials.size(); ++i) {
        level->subset = std::int32_t(i);
        level->material = level->materials[i].get();
        drawn = Model::drawElementShaderContextPass(element) || drawn;
    }
    return drawn;
}

}  // namespace

bool ModelContext::renderSecondPass() {
    if (!resourceUsable(resource)) return false;
    Y3ModelDefault* model = meshModelOf(resource);
    const std::int32_t elementCount = std::int32_t(model->elements.size());
    for (std::int32_t lod = 0; lod < 3; ++lod)
        for (std::int32_t e = 0; e < elementCount; ++e) {
            // The static-instance groups of the level, each once, through
            // the first member that qualifies; their members are not drawn
            // alone.
            Y3Mesh& record = model->elements[std::size_t(e)]->lods[lod];
            for (std::int32_t g = 0; g < record.instanceCount(); ++g) {
                MeshInstance& group = record.instance(g);
                ModelElement* element = groupRepresentative(group, resource, e, lod);
                if (!element || (element->flags & kElementReflects)) continue;
                const std::uint32_t low = element->model->stateWords[0];
                if (!(low & kModelShadowReceivers) && (low & (kModelOutOfPvs | kModelGridDebug))) continue;
                drawAsGroup(*element, group, [&] { return drawContextPass(*element); });
            }
            for (Model* instance : instances) {
                if (!instance) continue;
                const std::uint32_t low = instance->stateWords[0];
                if (!(low & kModelDrawnThisFrame) || !(low & kModelShown) ||
                    !(instance->stateWords[1] & kModelVisiblePhase))
                    continue;
                if (!(low & kModelShadowReceivers) && (low & (kModelOutOfPvs | kModelGridDebug))) continue;
                if (e >= std::int32_t(instance->elements.size())) continue;
                ModelElement& element = instance->elements[std::size_t(e)];
                if ((element.flags & (kElementDrawn | kElementPushed)) != (kElementDrawn | kElementPushed) ||
                    (element.flags & kElementReflects) || element.lodIndex != lod || element.instancedAt(lod))
                    continue;
                drawContextPass(element);
            }
        }
    return true;
}

bool ModelContext::renderRainMap(float bottom, float, float) {
    if (!resourceUsable(resource, true)) return false;
    for (Model* instance : instances) {
        if (!instance) continue;
        for (ModelElement& element : instance->elements) {
            if (!(element.flags & kElementEnabled)) continue;
            ModelElementLod* level = element.lod();
            if (!level) continue;
            const std::int32_t meshes = level->mesh ? std::int32_t(level->materials.size()) : 1;
            for (std::int32_t m = 0; m < meshes; ++m) drawElementHeights(element, level->mesh ? m : -1, bottom);
        }
    }
    return true;
}

bool ModelContext::reportReferences() {
    if (instances.empty()) return true;
    Log& log = engineLog();
    log.error("Not all model references release for model [%s]", resource ? resource->name : "");
    for (std::size_t i = 0; i < instances.size(); ++i)
        log.message("%2i) %s", std::int32_t(i), instances[i] ? instances[i]->getName() : "");
    return false;
}

bool ModelElement::render(float distance, std::int32_t lodIndexWanted, std::int32_t materialIndex, std::int32_t group) {
    if (model && !(flags & kElementPushed)) {
        engineLog().error("Can't render model [%s] element [%s]. Allocate data first", model->getName(), getName());
        flags &= ~0x7u;
        return false;
    }
    if (lodIndexWanted != lodIndex) return false;
    ModelElementLod* level = lod();
    if (!level) return false;
    if (level->mesh) {
        if (materialIndex < 0 || materialIndex >= std::int32_t(level->materials.size())) return false;
        level->subset = materialIndex;
        level->material = level->materials[std::size_t(materialIndex)].get();
    }
    if (Material* current = material()) sortLightPasses(distance, *current);
    if (group < 0) return Model::drawElement(*this);
    // The level's static-instance group in place of this element alone.
    if (!level->mesh || group >= level->mesh->instanceCount()) return false;
    return drawAsGroup(*this, level->mesh->instance(group), [this] { return Model::drawElement(*this); });
}
