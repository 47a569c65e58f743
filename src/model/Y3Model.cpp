#include "model/Y3Model.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "control/Y3ModelGrid.h"
#include "effects/LightDataManager.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/XmlWriter.h"
#include "model/SharedRecords.h"

namespace {

// A count no larger than the bytes left could hold at minSize bytes each.
bool countFits(DataStream& stream, std::uint32_t count, std::int32_t minSize) {
    return count <= static_cast<std::uint32_t>(bytesLeft(stream) / minSize);
}

std::int32_t readCount(DataStream& stream, std::uint32_t& count, std::int32_t minSize, const char* what,
                       const char* name) {
    const std::int32_t result = readU32(stream, count);
    if (result < 0) return result;
    if (!countFits(stream, count, minSize)) {
        engineLog().resourceError("Model [%s]: %s count %u is past the end of the file", name ? name : "",
                                  what, static_cast<unsigned>(count));
        return -1;
    }
    return result;
}

// The smallest stored sizes, for the count bounds.
constexpr std::int32_t kElementMinSize = 4 + 1 + 4;
constexpr std::int32_t kLightMinSize = 8;
constexpr std::int32_t kActionMinSize = 2 + 48 + 12 + 12 + 2;
constexpr std::int32_t kSpriteMinSize = 2 + 2 + 8 + 4 + 4;

bool boneRootFirst(Y3Mesh& mesh) {
    const std::vector<MeshBone>& bones = mesh.skin().bones;
    const auto found = std::lower_bound(bones.begin(), bones.end(), "root", [](const MeshBone& bone, const char* key) {
        return std::strcmp(bone.name, key) < 0;
    });
    return found == bones.begin() && found != bones.end() && std::strcmp(found->name, "root") == 0;
}

}  // namespace

// ---- Y3Model ----------------------------------------------------------

Y3Model::~Y3Model() {
    if (gameContext) engineLog().systemError(" Y3Model  game context not released");
}

std::unique_ptr<Y3Model> Y3Model::create(std::uint32_t kind) {
    switch (kind) {
        case kModelKindDefault: return std::make_unique<Y3ModelDefault>();
        case kModelKindSprite: return std::make_unique<Y3ModelSprite>();
        case kModelKindGrid: return std::make_unique<Y3ModelGrid>();
        default: return nullptr;
    }
}

const char* Y3Model::kindName(std::uint32_t kind) {
    switch (kind) {
        case kModelKindDefault: return "default";
        case kModelKindSprite: return "sprite";
        case kModelKindGrid: return "grid";
        default: return "";
    }
}

std::int32_t Y3Model::readFromStream(DataStream& stream, std::unique_ptr<Y3Model>& out, const char* name) {
    out.reset();
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    std::uint32_t kind = 0;
    if (!addField(total, readU32(stream, magic))) return total;
    if (magic != kModelFileMagic) {
        engineLog().resourceError("Model [%s]: wrong header magic", name ? name : "");
        return -1;
    }
    if (!addField(total, readU32(stream, kind))) return total;
    std::unique_ptr<Y3Model> model = create(kind);
    if (!model) {
        engineLog().resourceError("Model [%s]: unknown kind %u", name ? name : "", static_cast<unsigned>(kind));
        return -1;
    }
    if (!addField(total, readU32(stream, model->headerValue)) ||
        !addField(total, readFloats(stream, model->sourcePlacement.m, 12)) ||
        !addField(total, model->read(stream, true, name))) {
        model->release();
        return total;
    }
    if (!model->load(name)) {
        model->release();
        return -1;
    }
    out = std::move(model);
    return total;
}

std::int32_t Y3Model::writeToStream(DataStream& stream, const char* name) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, kModelFileMagic)) || !addField(total, writeU32(stream, kind())) ||
        !addField(total, writeU32(stream, headerValue)) || !addField(total, writeFloats(stream, sourcePlacement.m, 12)))
        return total;
    addField(total, write(stream, true, name));
    return total;
}

// ---- ModelElementData -------------------------------------------------

std::int32_t ModelElementData::read(DataStream& stream, bool header, const char* modelName) {
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    if (!addField(total, readU32(stream, magic))) return total;
    if (magic != kModelElementMagic) {
        engineLog().resourceError("Model [%s]: wrong element magic", modelName ? modelName : "");
        return -1;
    }
    const std::int32_t nameResult = readString8(stream, name, sizeof(name));
    if (nameResult < 0) {
        engineLog().resourceError("Model [%s]: element name too long or cut", modelName ? modelName : "");
        return nameResult;
    }
    total += nameResult;
    if (!addField(total, readU32(stream, flags))) return total;
    for (Y3Mesh& lod : lods) {
        lod.setNames(modelName ? modelName : "", name);
        if (!addField(total, lod.read(stream, (flags & kElementSkinTail) != 0, header))) return total;
    }
    if (flags & kElementExtraWords)
        for (std::uint32_t& word : extra)
            if (!addField(total, readU32(stream, word))) return total;
    return total;
}

void ModelElementData::updateWriteFlags() {
    flags &= ~kElementNoRootFirst;
    for (Y3Mesh& lod : lods) {
        if (!boneRootFirst(lod)) flags |= kElementNoRootFirst;
        if (!lod.skin().tailMatrices.empty()) flags |= kElementSkinTail;
    }
    const std::size_t length = std::strlen(name);
    if (length >= 5 && std::strcmp(name + length - 5, "_hide") == 0) {
        flags |= kElementHidden;
        name[length - 5] = '\0';
    }
}

std::int32_t ModelElementData::write(DataStream& stream, bool header) {
    if (header) updateWriteFlags();
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, kModelElementMagic)) || !addField(total, writeString8(stream, name)) ||
        !addField(total, writeU32(stream, flags)))
        return total;
    for (Y3Mesh& lod : lods)
        if (!addField(total, lod.write(stream, (flags & kElementSkinTail) != 0, header))) return total;
    if (flags & kElementExtraWords)
        for (std::uint32_t word : extra)
            if (!addField(total, writeU32(stream, word))) return total;
    return total;
}

bool ModelElementData::allocate() {
    for (Y3Mesh& lod : lods)
        if (!lod.allocate()) return engineLog().error("Can't allocate element [%s]", name);
    return true;
}

bool ModelElementData::deallocate(bool force) {
    for (Y3Mesh& lod : lods) {
        if (lod.flags() & Y3Mesh::kBad) continue;
        if (!lod.deallocate(force)) return false;
    }
    return true;
}

// ---- Y3ModelDefault ---------------------------------------------------

Y3ModelDefault::~Y3ModelDefault() {
    Log& log = engineLog();
    if (!elements.empty()) log.systemError(" Y3Model not all elements released");
    if (!lights.empty()) log.systemError(" Y3Model not all lights released");
    if (!properties.rules.empty()) log.systemError(" model property is not released");
}

std::int32_t Y3ModelDefault::readActions(DataStream& stream) {
    actions.clear();
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readCount(stream, count, kActionMinSize, "action", nullptr))) return total;
    actions.resize(count);
    for (ModelActionItemData& action : actions)
        if (!addField(total, action.read(stream))) {
            engineLog().resourceError("Model action record damaged");
            actions.clear();
            return total;
        }
    return total;
}

std::int32_t Y3ModelDefault::writeActions(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(actions.size())))) return total;
    for (const ModelActionItemData& action : actions)
        if (!addField(total, action.write(stream))) return total;
    return total;
}

std::int32_t Y3ModelDefault::read(DataStream& stream, bool header, const char* name) {
    std::int32_t total = 0;
    if (header) {
        if (!addField(total, properties.read(stream))) {
            engineLog().resourceError("Model [%s]: property block damaged", name ? name : "");
            return total;
        }
        std::uint32_t count = 0;
        if (!addField(total, readCount(stream, count, kElementMinSize, "element", name))) return total;
        elements.clear();
        elements.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) elements.push_back(std::make_unique<ModelElementData>());
        if (!addField(total, readCount(stream, count, kLightMinSize, "light", name))) return total;
        lights.clear();
        for (std::uint32_t i = 0; i < count; ++i) {
            std::unique_ptr<Y3Light> light;
            const std::int32_t result = Y3Light::read(stream, light);
            if (result < 0) {
                lights.clear();
                engineLog().resourceError("Model [%s]: light %u damaged", name ? name : "", static_cast<unsigned>(i));
                return -1;
            }
            total += result;
            lights.push_back(std::move(light));
        }
        if (!addField(total, readCount(stream, count, sizeof(ModelParticleAttachment), "particle", name)))
            return total;
        particles.assign(count, ModelParticleAttachment{});
        for (ModelParticleAttachment& particle : particles) {
            if (!addField(total, readExact(stream, &particle, sizeof(particle)))) return total;
            for (char* text : particle.names) {
                text[127] = '\0';
                for (char* c = text; *c; ++c) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
            }
        }
    }
    for (std::unique_ptr<ModelElementData>& element : elements)
        if (!addField(total, element->read(stream, header, name))) return total;
    addField(total, readActions(stream));
    return total;
}

std::int32_t Y3ModelDefault::write(DataStream& stream, bool header, const char*) {
    std::int32_t total = 0;
    if (header) {
        if (!addField(total, properties.write(stream)) ||
            !addField(total, writeU32(stream, static_cast<std::uint32_t>(elements.size()))) ||
            !addField(total, writeU32(stream, static_cast<std::uint32_t>(lights.size()))))
            return total;
        for (const std::unique_ptr<Y3Light>& light : lights)
            if (!addField(total, light->write(stream))) return total;
        if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(particles.size())))) return total;
        for (const ModelParticleAttachment& particle : particles)
            if (!addField(total, stream.write(&particle, sizeof(particle)))) return total;
    }
    for (std::unique_ptr<ModelElementData>& element : elements)
        if (!addField(total, element->write(stream, header))) return total;
    addField(total, writeActions(stream));
    return total;
}

bool Y3ModelDefault::load(const char* modelName) {
    bool result = true;
    for (std::size_t i = 0; i < lights.size(); ++i) {
        const Y3Light* light = lights[i].get();
        if (!light) continue;
        Y3LightData* record = loadLightResource(modelName, *light, false);
        if (!record->loaded())
            result = engineLog().error("Can't load model [%s] light [%i:%s]", record->name, static_cast<int>(i),
                                       light->name);
    }
    return result;
}

bool Y3ModelDefault::allocate(const char* modelName) {
    Log& log = engineLog();
    if (allocated) return log.error(" model data already allocated. Deallocate first");
    for (std::unique_ptr<ModelElementData>& element : elements) {
        if (element->allocate()) continue;
        log.error("Failed allocation mesh for model [%s]", element->name);
        // Nothing half made stays behind: a later allocation starts over.
        for (std::unique_ptr<ModelElementData>& made : elements) made->deallocate(true);
        (void)modelName;
        return false;
    }
    allocated = true;
    return true;
}

bool Y3ModelDefault::deallocate(bool force) {
    allocated = false;
    bool result = true;
    for (std::unique_ptr<ModelElementData>& element : elements)
        if (!element->deallocate(force)) result = false;
    return result;
}

bool Y3ModelDefault::release() {
    Log& log = engineLog();
    if (gameContext) return log.error(" Y3Model:release() -> first deattach from render context");
    bool result = true;
    if (allocated) {
        result = log.error(" Y3Model is allocated at this time. Can't release. Deallocate first.");
        deallocate(true);
    }
    properties.clearRules();
    for (std::unique_ptr<ModelElementData>& element : elements) {
        for (int i = 0; i < 3; ++i) {
            Y3Mesh& lod = element->lods[i];
            if (lod.flags() & Y3Mesh::kAllocated) {
                log.error(" Model element [%s] lod %i is'nt deallocated. Deallocate element before releasing object",
                          element->name, i);
                lod.deallocate(true);
            }
            lod.release(3, true);
        }
    }
    elements.clear();
    lights.clear();
    particles.clear();
    actions.clear();
    return result;
}

void Y3ModelDefault::getBoxSize(float* out) const {
    float low[3] = {10000.0f, 10000.0f, 10000.0f};
    float high[3] = {-10000.0f, -10000.0f, -10000.0f};
    for (const std::unique_ptr<ModelElementData>& element : elements)
        for (const Y3Mesh& lod : element->lods) {
            float half[3];
            std::memcpy(half, lod.boxBlock, sizeof(half));
            for (int axis = 0; axis < 3; ++axis) {
                const float centre = lod.boxPlacement.m[3][axis];
                low[axis] = std::min(low[axis], centre - half[axis]);
                high[axis] = std::max(high[axis], centre + half[axis]);
            }
        }
    for (int axis = 0; axis < 3; ++axis) out[axis] = high[axis] - low[axis];
}

bool Y3ModelDefault::validateTextures() {
    bool result = true;
    for (std::unique_ptr<ModelElementData>& element : elements)
        for (Y3Mesh& lod : element->lods)
            if (!lod.validateTextures()) result = engineLog().error("Ca't validate textures for element [%s]", element->name);
    return result;
}

void Y3ModelDefault::collectUnused() {
    for (std::unique_ptr<ModelElementData>& element : elements)
        for (Y3Mesh& lod : element->lods) lod.collectUnused();
}

MeshAnimInstance* Y3ModelDefault::createAnimInstance(std::int32_t element, std::int32_t lod) {
    if (element < 0 || element >= static_cast<std::int32_t>(elements.size()) || lod < 0 || lod > 2) return nullptr;
    return elements[static_cast<std::size_t>(element)]->lods[lod].createAnimInstance();
}

void Y3ModelDefault::exportTree(XmlTag& parent) {
    XmlTag& model = parent.addChild("model");
    model.setAttribute("type", "%s", kindName(kind()));
    float box[3];
    getBoxSize(box);
    XmlTag& size = model.addChild("BBOXsize");
    size.setAttribute("length", "%5.4f", static_cast<double>(box[0]));
    size.setAttribute("height", "%5.4f", static_cast<double>(box[1]));
    size.setAttribute("width", "%5.4f", static_cast<double>(box[2]));
    XmlTag& source = model.addChild("source-position");
    source.setAttribute("x", "%f", static_cast<double>(sourcePlacement.m[9]));
    source.setAttribute("y", "%f", static_cast<double>(sourcePlacement.m[10]));
    source.setAttribute("z", "%f", static_cast<double>(sourcePlacement.m[11]));
    if (!actions.empty()) {
        XmlTag& zone = model.addChild("action_zone");
        zone.setAttribute("count", "%i", static_cast<int>(actions.size()));
        for (std::size_t i = 0; i < actions.size(); ++i) actions[i].exportTree(zone, static_cast<std::int32_t>(i));
    }
    properties.exportTree(model);
    model.addChild("elements");
    XmlTag& lightNode = model.addChild("lights");
    for (std::size_t i = 0; i < lights.size(); ++i)
        if (lights[i]) lights[i]->exportTree(lightNode, static_cast<std::int32_t>(i));
    exportParticles(model.addChild("particles"));
}

void Y3ModelDefault::exportParticles(XmlTag& parent) const {
    for (const ModelParticleAttachment& particle : particles) {
        XmlTag& node = parent.addChild("particle");
        node.setAttribute("id", "%s", particle.names[0]);
        node.setAttribute("data", "%s", particle.names[1]);
        node.setAttribute("bone", "%s", particle.names[2]);
    }
}

// ---- Y3ModelSprite ----------------------------------------------------

std::int32_t SpriteElementData::read(DataStream& stream) {
    std::int32_t total = 0;
    std::uint16_t words[4] = {};
    if (!addField(total, readString16(stream, name, sizeof(name))) ||
        !addField(total, readString16(stream, texture, sizeof(texture))))
        return total;
    for (std::uint16_t& word : words)
        if (!addField(total, readU16(stream, word))) return total;
    x = static_cast<std::int16_t>(words[0]);
    y = static_cast<std::int16_t>(words[1]);
    dx = static_cast<std::int16_t>(words[2]);
    dy = static_cast<std::int16_t>(words[3]);
    if (!addField(total, readF32(stream, depth))) return total;
    addField(total, readU32(stream, flags));
    return total;
}

std::int32_t SpriteElementData::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeString16(stream, name, sizeof(name))) ||
        !addField(total, writeString16(stream, texture, sizeof(texture))))
        return total;
    for (std::int16_t value : {x, y, dx, dy})
        if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(value)))) return total;
    if (!addField(total, writeF32(stream, depth))) return total;
    addField(total, writeU32(stream, flags));
    return total;
}

std::int32_t Y3ModelSprite::read(DataStream& stream, bool header, const char* name) {
    if (!header) return 0;
    elements.clear();
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readCount(stream, count, kSpriteMinSize, "sprite", name))) return total;
    elements.assign(count, SpriteElementData{});
    for (SpriteElementData& element : elements)
        if (!addField(total, element.read(stream))) {
            engineLog().resourceError("Model [%s]: sprite element damaged", name ? name : "");
            return total;
        }
    return total;
}

std::int32_t Y3ModelSprite::write(DataStream& stream, bool header, const char*) {
    if (!header) return 0;
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(elements.size())))) return total;
    for (const SpriteElementData& element : elements)
        if (!addField(total, element.write(stream))) return total;
    return total;
}

void Y3ModelSprite::exportTree(XmlTag& parent) {
    XmlTag& list = parent.addChild("elements");
    list.addChildValue("count", "%i", static_cast<int>(elements.size()));
    for (const SpriteElementData& element : elements) {
        XmlTag& sprite = list.addChild("sprite");
        sprite.setAttribute("id", "%s", element.name);
        sprite.setAttribute("texture", "%s", element.texture);
        sprite.setAttribute("x", "%i", static_cast<int>(element.x));
        sprite.setAttribute("y", "%i", static_cast<int>(element.y));
        sprite.setAttribute("dx", "%i", static_cast<int>(element.dx));
        sprite.setAttribute("dy", "%i", static_cast<int>(element.dy));
        sprite.setAttribute("depth", "%f", static_cast<double>(element.depth));
        if (element.flags & 1) sprite.addChild("animated");
        if (element.flags & 2) sprite.addChild("has-alpha");
    }
}
