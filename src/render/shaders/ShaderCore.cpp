#include "render/shaders/ShaderCore.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Math.h"
#include "foundation/SettingsReader.h"
#include "foundation/TimeCore.h"
#include "render/VideoCore.h"
#include "render/VideoDevice.h"
#include "render/shaders/Container.h"
#include "render/states/DXStateCache.h"

namespace {

using RS = DXStateCache;

// The shortest compiled body: a version word and the word after it (our
// bodies' total size, Direct3D's end token).
constexpr DWORD kSmallestBody = 8;

// Blend table: depth write, blending, source, destination by blend mode.
struct BlendRow {
    std::uint32_t depthWrite, blend, source, destination;
};
const BlendRow kBlendModes[15] = {
    {1, 0, D3DBLEND_ONE, D3DBLEND_ZERO},
    {0, 0, D3DBLEND_ONE, D3DBLEND_ZERO},
    {0, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
    {1, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
    {0, 1, D3DBLEND_ONE, D3DBLEND_INVSRCALPHA},
    {0, 1, D3DBLEND_ZERO, D3DBLEND_INVSRCALPHA},
    {0, 0, 0, 0},  // 6: unchanged
    {0, 1, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
    {0, 1, D3DBLEND_ONE, D3DBLEND_ONE},
    {0, 1, D3DBLEND_ZERO, D3DBLEND_ONE},
    {0, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVDESTCOLOR},
    {0, 1, D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA},
    {1, 1, D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA},
    {0, 1, D3DBLEND_ONE, D3DBLEND_ZERO},
    {1, 1, D3DBLEND_ONE, D3DBLEND_ZERO},
};

// Depth function modes 1-7.
const std::uint32_t kDepthFunctions[8] = {0,           D3DCMP_ALWAYS,   D3DCMP_LESS,     D3DCMP_GREATER,
                                          D3DCMP_EQUAL, D3DCMP_NOTEQUAL, D3DCMP_LESSEQUAL, D3DCMP_GREATEREQUAL};

}  // namespace

// ---------------------------------------------------------------- programs

ShaderProgram::~ShaderProgram() { releaseBody(nullptr); }

void ShaderProgram::setup(std::int32_t programKind, std::int32_t tableIndex, const char* programName,
                          std::int32_t source) {
    kind = programKind;
    index = tableIndex;
    sourceId = source;
    std::memset(name, 0, sizeof name);
    if (programName) std::strncpy(name, programName, sizeof name - 1);
    flags = source >= 0 ? std::uint32_t(Exists) : 0u;
}

const char* ShaderProgram::kindWord() const {
    return kind == KindVertex ? "vertex" : kind == KindPixel ? "pixel" : "unknown";
}

bool ShaderProgram::createDeviceShader(IDirect3DDevice9* device, DXStateCache* cache) {
    if (!has(BodyLoaded)) return false;
    flags &= ~(Bound | BodyLoaded);
    releaseDeviceShader(cache);
    for (VertexData* variable : variables)
        if (variable) variable->setDevice(device);
    HRESULT result = D3DERR_INVALIDCALL;
    if (device) {
        const auto* code = reinterpret_cast<const DWORD*>(body);
        result = kind == KindVertex ? device->CreateVertexShader(code, &vertexShader)
                                    : device->CreatePixelShader(code, &pixelShader);
    }
    if (FAILED(result))
        return engineLog().error("Cannot create %s shader [%s]: %s", kindWord(), name, d3dErrorText(result));
    if (vertexShader) vertexShader->SetDebugName(name);
    if (pixelShader) pixelShader->SetDebugName(name);
    flags |= BodyLoaded | DeviceShaderMade;
    return true;
}

void ShaderProgram::releaseDeviceShader(DXStateCache* cache) {
    if (vertexShader) {
        if (cache && cache->vertexShaderDesired == vertexShader) cache->vertexShaderDesired = nullptr;
        if (cache && cache->vertexShaderCurrent == vertexShader) cache->vertexShaderCurrent = nullptr;
        vertexShader->Release();
        vertexShader = nullptr;
    }
    if (pixelShader) {
        if (cache && cache->pixelShaderDesired == pixelShader) cache->pixelShaderDesired = nullptr;
        if (cache && cache->pixelShaderCurrent == pixelShader) cache->pixelShaderCurrent = nullptr;
        pixelShader->Release();
        pixelShader = nullptr;
    }
    flags &= ~DeviceShaderMade;
}

VertexData*& ProgramVariables::operator[](std::size_t slot) {
    if (!slots_) slots_ = std::make_unique<VertexData*[]>(kCount);
    return slots_[slot];
}

void ProgramVariables::clear() {
    if (!slots_) return;
    for (std::size_t i = 0; i < kCount; ++i) delete slots_[i];
    slots_.reset();
}

void ShaderProgram::releaseVariables() {
    variables.clear();
    if (table) {
        table->Release();
        table = nullptr;
    }
}

void ShaderProgram::releaseBody(DXStateCache* cache) {
    releaseVariables();
    releaseDeviceShader(cache);
    body = nullptr;
    variablesBuilt = false;
    bodySize = 0;
    flags &= ~(Bound | BodyLoaded);
}

bool ShaderProgram::checkBody(const char* programName, MemoryStream& data) {
    const auto size = DWORD(std::max(data.size(), 0));
    // The device and the constant table take a body by pointer and read as
    // far as its own size field says: a body must lie within its entry.
    if (size < kSmallestBody)
        return engineLog().error("Shader [%s]: a body of %u bytes is too short to be one", programName,
                                 unsigned(size));
    const UINT claimed = D3DXGetShaderSize(reinterpret_cast<const DWORD*>(data.data()));
    if (claimed > size)
        return engineLog().error("Shader [%s]: its body claims %u bytes, its entry holds %u", programName,
                                 unsigned(claimed), unsigned(size));
    return true;
}

bool ShaderProgram::readBody(MemoryStream& data) {
    if (body) return engineLog().error("Can't read shader [%s]. Release current body first", name);
    if (!checkBody(name, data)) return false;
    body = data.data();
    bodySize = DWORD(data.size());
    return true;
}

bool ShaderProgram::loadVariables(const ShaderVariablesMapper& mapper, ShaderFrameState* frame, ShaderPassState* pass,
                                  IDirect3DDevice9* device) {
    if (!body) return engineLog().error("Can't load shader variable: COMPILE FIRST");
    releaseVariables();
    if (FAILED(D3DXGetShaderConstantTable(reinterpret_cast<const DWORD*>(body), &table)) || !table)
        return engineLog().error("%s", "");
    D3DXCONSTANTTABLE_DESC tableDesc{};
    table->GetDesc(&tableDesc);
    for (UINT i = 0; i < tableDesc.Constants; ++i) {
        const D3DXHANDLE handle = table->GetConstant(nullptr, i);
        D3DXCONSTANT_DESC desc{};
        UINT count = 1;
        if (!handle || FAILED(table->GetConstantDesc(handle, &desc, &count)) || !desc.Name || !desc.Name[0]) continue;
        VertexData::ClassCode code;
        const bool array = desc.Elements > 1;
        if (desc.Class == D3DXPC_SCALAR)
            code = array ? VertexData::ClassScalarArray : VertexData::ClassScalar;
        else if (desc.Class == D3DXPC_VECTOR)
            code = array ? VertexData::ClassVectorArray : VertexData::ClassVector;
        else if (desc.Class == D3DXPC_MATRIX_ROWS || desc.Class == D3DXPC_MATRIX_COLUMNS)
            code = array ? VertexData::ClassMatrixArray : VertexData::ClassMatrix;
        else if (desc.Class == D3DXPC_OBJECT && desc.Type >= D3DXPT_SAMPLER && desc.Type <= D3DXPT_SAMPLERCUBE)
            code = VertexData::ClassSampler;
        else if (desc.Class == D3DXPC_OBJECT && desc.Type >= D3DXPT_TEXTURE && desc.Type <= D3DXPT_TEXTURECUBE)
            continue;
        else {
            engineLog().warning("Unsupported variable type [%s] in function [%s]", desc.Name, name);
            continue;
        }
        const int slot = mapper.find(desc.Name);
        if (slot < 0) continue;
        if (variables[slot]) {
            variables[slot]->addRegister(std::int32_t(desc.RegisterIndex));
            continue;
        }
        VertexDataSetup setup;
        setup.name = mapper.name(slot);
        setup.frame = frame;
        setup.pass = pass;
        setup.device = device;
        setup.table = table;
        setup.handle = handle;
        setup.elements = std::int32_t(std::max<UINT>(desc.Elements, 1));
        setup.registerIndex = std::int32_t(desc.RegisterIndex);
        switch (code) {
            case VertexData::ClassScalar: variables[slot] = new VertexDataScalar(setup); break;
            case VertexData::ClassScalarArray: variables[slot] = new VertexDataScalarArray(setup); break;
            case VertexData::ClassVector: variables[slot] = new VertexDataVector(setup); break;
            case VertexData::ClassVectorArray: variables[slot] = new VertexDataVectorArray(setup); break;
            case VertexData::ClassMatrix: variables[slot] = new VertexDataMatrix(setup); break;
            case VertexData::ClassMatrixArray: variables[slot] = new VertexDataMatrixArray(setup); break;
            case VertexData::ClassSampler: variables[slot] = new VertexDataSampler(setup); break;
        }
    }
    return true;
}

void ShaderProgram::commitVariables(bool onlyIfChanged) {
    for (VertexData* variable : variables)
        if (variable) variable->commit(onlyIfChanged);
}

// -------------------------------------------------------------------- core

ShaderCore::ShaderCore()
    : container_(std::make_unique<Container>("render shaders", PathShaderCacheFile)),
      mapper_(std::make_unique<ShaderVariablesMapper>()),
      table_(std::make_unique<ShaderProgramTable>()) {
    frame.view = frame.viewInverse = frame.projection = frame.viewProjection = identityMatrix();
    clearPassTextures();
}

ShaderCore::~ShaderCore() { release(); }

void ShaderCore::attach(IDirect3DDevice9* device, DXStateCache* cache) {
    device_ = device;
    cache_ = cache;
}

bool ShaderCore::fixedPipeline() const { return gameCore.video && gameCore.video->videoDevice.isFixedPipeline(); }

void ShaderCore::setGlobalDefines() {
    GlobalShaderDefines values;
    values.vendorIndex = vendorIndex;
    values.cardIndex = cardIndex;
    values.maxBones = frame.maxBones;
    values.maxParticles = frame.maxParticles;
    setGlobalShaderDefines(defines, values);
}

void ShaderCore::addDefine(const char* name, const char* format, ...) {
    char value[2048] = {};
    if (format && *format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(value, sizeof value, format, args);
        va_end(args);
    }
    defines.add(name ? name : "", value);
}

void ShaderCore::logDefines() const {
    for (const auto& [name, value] : defines.defines()) {
        if (value.empty())
            engineLog().message("#define %s", name.c_str());
        else
            engineLog().message("#define %s %s", name.c_str(), value.c_str());
    }
}

bool ShaderCore::initialize() {
    if (fixedPipeline()) return true;
    ready_ = 0;
    frame.maxBones = 78;
    frame.maxParticles = 61;
    setGlobalDefines();
    loadedCount = 0;
    for (int i = 0; i < kVertexProgramCount; ++i)
        vertexPrograms[i].setup(ShaderProgram::KindVertex, i, table_->vertexNames[i], table_->vertexSources[i]);
    for (int i = 0; i < kPixelProgramCount; ++i)
        pixelPrograms[i].setup(ShaderProgram::KindPixel, i, table_->pixelNames[i], table_->pixelSources[i]);

    if (gameCore.paths) gameCore.paths->setPathFormat(PathShaderCacheName, "shaders.%04d", kShaderDataVersion);
    // Bodies lie in the package's content, which the load replaces.
    releasePrograms();
    if (!container_->load()) {
        const std::string path = gameCore.paths ? gameCore.paths->get(PathShaderCacheFile) : std::string();
        return engineLog().systemError("Fail to load shaders data package at [%s]", logPath(path).c_str());
    }

    // The permutation families load their programs ahead of the standalone
    // ones in each pass.
    loadPass = 0;
    vertexProfile = 0;
    pixelProfile = 5;
    bool ok = true;
    for (MultyShader* family : families) ok = ok && loadFamily(*family, false);
    ok = ok && loadPassPrograms(vertexPrograms, kStandaloneVertexPrograms, false);
    if (ok) {
        loadPass = 1;
        vertexProfile = 4;
        pixelProfile = 0;
        for (MultyShader* family : families) ok = ok && loadFamily(*family, true);
        ok = ok && loadPassPrograms(pixelPrograms, kStandalonePixelPrograms, true);
    }
    if (container_->flags() & Container::kModified) container_->save();
    if (!ok) return false;
    // Every body was checked; the few a draw asks for are read again from
    // the file's pages when it does.
    container_->releaseResidentPages();
    table_->loadedSources.clear();
    ready_ = 1;
    return true;
}

bool ShaderCore::loadPassPrograms(ShaderProgram* programs, std::int32_t count, bool pixel) {
    for (std::int32_t i = 0; i < count; ++i) {
        if (pixel) pixelProfile = table_->pixelProfiles[i];
        // An empty row loads as a success and is counted like one.
        if (!loadProgram(programs[i], false)) return false;
        ++loadedCount;
    }
    return true;
}

bool ShaderCore::loadFamily(MultyShader& family, bool pixel) {
    family.lowProfile = vertexProfile == 0 || pixelProfile == 0;
    const std::int32_t index = pixel ? family.pixelIndex : family.vertexIndex;
    const std::int32_t sourceId = pixel ? table_->pixelSources[index] : table_->vertexSources[index];
    const std::int32_t kind = pixel ? ShaderProgram::KindPixel : ShaderProgram::KindVertex;
    std::vector<MultyShader::Found>& found = pixel ? family.pixelFound : family.vertexFound;
    found.clear();
    // Each permutation's body is looked up and checked here; its program is
    // made when a draw first asks for it (familyProgram).
    for (bool more = pixel ? family.nextPixel(true) : family.nextVertex(true); more;
         more = pixel ? family.nextPixel(false) : family.nextVertex(false)) {
        ++loadedCount;
        ContainerEntry* entry = nullptr;
        if (sourceId >= 0) {
            char name[256];
            pixel ? family.pixelName(name) : family.vertexName(name);
            entry = findBody(kind, name);
            const bool read = entry && ShaderProgram::checkBody(name, entry->data);
            if (entry && !read) engineLog().error("Can't load cached shader [%s]: read failed.", name);
            if (!read) {
                // The defines the permutation stands beside, for the log.
                setGlobalDefines();
                family.appendDefines(defines);
                logDefines();
                found.clear();
                return false;
            }
        }
        const std::int32_t slot = pixel ? family.pixelSlotIndex() : family.vertexSlotIndex();
        if (slot >= 0) found.push_back({slot, entry});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const MultyShader::Found& a, const MultyShader::Found& b) { return a.slot < b.slot; });
    return true;
}

ShaderProgram* ShaderCore::familyProgram(MultyShader& family, bool pixel) {
    ShaderProgram** slot = pixel ? family.pixelSlot() : family.vertexSlot();
    if (*slot) return *slot;
    const std::int32_t index = pixel ? family.pixelSlotIndex() : family.vertexSlotIndex();
    const std::vector<MultyShader::Found>& found = pixel ? family.pixelFound : family.vertexFound;
    // The last one found for the slot, as a later load replaced an earlier.
    auto it = std::upper_bound(found.begin(), found.end(), index,
                               [](std::int32_t value, const MultyShader::Found& f) { return value < f.slot; });
    if (index < 0 || it == found.begin() || (--it)->slot != index) return nullptr;
    auto program = std::unique_ptr<ShaderProgram>(new (std::nothrow) ShaderProgram);
    if (!program) {
        engineLog().error(pixel ? "Exception: cant create new pixel shader object"
                                : "Exception: cant create new vertex shader object");
        return nullptr;
    }
    const std::int32_t tableIndex = pixel ? family.pixelIndex : family.vertexIndex;
    const std::int32_t sourceId = pixel ? table_->pixelSources[tableIndex] : table_->vertexSources[tableIndex];
    // The entry's name is the profile followed by the program name.
    const char* profile = pixel ? kPixelProfiles[0] : kVertexProfiles[0];
    const char* name = it->entry ? it->entry->name + std::strlen(profile) : "";
    program->setup(pixel ? ShaderProgram::KindPixel : ShaderProgram::KindVertex, tableIndex, name, sourceId);
    if (it->entry) {
        if (!program->readBody(it->entry->data)) return nullptr;  // checked when found: not reached
        program->flags |= ShaderProgram::BodyLoaded;
    }
    *slot = program.release();
    (pixel ? family.pixelFilled : family.vertexFilled).push_back(index);
    return *slot;
}

void ShaderCore::deleteFamilyPrograms(MultyShader& family) {
    for (bool pixel : {false, true}) {
        ShaderSlotTable& slots = pixel ? family.pixelSlots : family.vertexSlots;
        std::vector<std::int32_t>& filled = pixel ? family.pixelFilled : family.vertexFilled;
        for (std::int32_t index : filled) {
            ShaderProgram*& program = slots[std::size_t(index)];
            if (!program) continue;
            if (program == currentVertex_) currentVertex_ = nullptr;
            if (program == currentPixel_) currentPixel_ = nullptr;
            program->releaseBody(cache_);
            delete program;
            program = nullptr;
        }
        std::vector<std::int32_t>().swap(filled);
    }
    std::vector<MultyShader::Found>().swap(family.vertexFound);
    std::vector<MultyShader::Found>().swap(family.pixelFound);
}

void ShaderCore::selectFamilyPrograms(MultyShader& family) {
    ShaderProgram* vertex = familyProgram(family, false);
    selectPrograms(vertex, familyProgram(family, true));
}

bool ShaderCore::start() {
    if (initialize()) return true;
    engineLog().systemError("Shaders are not available: drawing with the fixed pipeline");
    release();
    if (gameCore.video) gameCore.video->fixedPipeline = true;
    if (cache_) cache_->samplerFixedPipeline = cache_->stageFixedPipeline = 1;
    return true;
}

bool ShaderCore::loadProgram(ShaderProgram& program, bool force) {
    if (!program.has(ShaderProgram::Exists) && !force) return true;
    if (program.body) program.releaseBody(cache_);
    if (program.sequence != 0) program.sequence = loadedCount;

    ContainerEntry* entry = findBody(program.kind, program.name);
    if (!entry) return false;
    if (!program.readBody(entry->data))
        return engineLog().error("Can't load cached shader [%s]: read failed.", program.name);
    if (!program.body) return engineLog().error("Can't load shader [%s]", program.name);
    program.flags |= ShaderProgram::BodyLoaded;
    return true;
}

ContainerEntry* ShaderCore::findBody(std::int32_t kind, const char* name) {
    std::string key;
    if (kind == ShaderProgram::KindVertex && vertexProfile >= 0 && vertexProfile < 3)
        key = ShaderProgramTable::fullName(kVertexProfiles[vertexProfile], name);
    else if (kind == ShaderProgram::KindPixel && pixelProfile >= 0 && pixelProfile < 4)
        key = ShaderProgramTable::fullName(kPixelProfiles[pixelProfile], name);
    else
        engineLog().systemError("Can't generate shader full name");

    ContainerEntry* entry = key.empty() ? nullptr : container_->findEntry(key.c_str());
    if (!entry) {
        engineLog().error("Can't find shader [%s]: update you'r shaders DB", name);
        return nullptr;
    }
    if (container_->flags() & Container::kModified) engineLog().info("Load shader [%s] from cache", name);
    return entry;
}

void ShaderCore::prepareProgram(ShaderProgram& program) {
    if (program.variablesBuilt || !program.body) return;
    program.variablesBuilt = true;
    program.loadVariables(*mapper_, &frame, &pass, device_);
}

void ShaderCore::releasePrograms() {
    currentPixel_ = currentVertex_ = nullptr;
    for (auto& p : vertexPrograms) p.releaseBody(cache_);
    for (auto& p : pixelPrograms) p.releaseBody(cache_);
    for (MultyShader* family : families) deleteFamilyPrograms(*family);
}

void ShaderCore::release() {
    // A failed load may have left bodies behind.
    releasePrograms();
    if (!ready_) return;
    loadedCount = 0;
    defines.clear();
    container_->release();
    ready_ = 0;
}

void ShaderCore::releaseDeviceShaders() {
    if (!ready_) return;
    for (auto& p : pixelPrograms) p.releaseDeviceShader(cache_);
    for (auto& p : vertexPrograms) p.releaseDeviceShader(cache_);
    for (MultyShader* family : families)
        for (bool pixel : {false, true}) {
            const ShaderSlotTable& slots = pixel ? family->pixelSlots : family->vertexSlots;
            for (std::int32_t index : pixel ? family->pixelFilled : family->vertexFilled)
                if (ShaderProgram* program = slots[std::size_t(index)]) program->releaseDeviceShader(cache_);
        }
}

void ShaderCore::selectPrograms(ShaderProgram* vertex, ShaderProgram* pixel) {
    if (pixel && !currentPixel_ && cache_) cache_->resetTexCoordIndices();
    if (vertex) prepareProgram(*vertex);
    if (pixel) prepareProgram(*pixel);
    currentVertex_ = vertex;
    currentPixel_ = pixel;
    if (vertex) vertex->flags &= ~ShaderProgram::Bound;
    if (pixel) pixel->flags &= ~ShaderProgram::Bound;
}

VertexData* ShaderCore::programVariable(ShaderProgram* program, const char* name) const {
    if (!program || !name) return nullptr;
    const int slot = mapper().find(name);
    return slot < 0 ? nullptr : program->variables[static_cast<std::size_t>(slot)];
}

void ShaderCore::selectPixelProgram(std::int32_t index) {
    ShaderProgram* program = index >= 0 && index < kPixelProgramCount ? &pixelPrograms[index] : nullptr;
    if (program && !currentPixel_ && cache_) cache_->resetTexCoordIndices();
    if (program) prepareProgram(*program);
    currentPixel_ = program;
    if (program) program->flags &= ~ShaderProgram::Bound;
}

void ShaderCore::selectVertexProgram(std::int32_t index) {
    ShaderProgram* program = index >= 0 && index < kVertexProgramCount ? &vertexPrograms[index] : nullptr;
    if (program) prepareProgram(*program);
    currentVertex_ = program;
    if (program) program->flags &= ~ShaderProgram::Bound;
}

void ShaderCore::clearPassTextures() {
    std::memset(pass.textureSet, 0, sizeof pass.textureSet);
    std::memset(pass.textureApplied, 0, sizeof pass.textureApplied);
    std::memset(pass.textures, 0, sizeof pass.textures);
    pass.alphaApplied = pass.blendApplied = pass.cullApplied = pass.fourthApplied = pass.depthApplied = 0;
    std::memset(pass.fogColor, 0, sizeof pass.fogColor);
}

void ShaderCore::resetPass() {
    currentPixel_ = currentVertex_ = nullptr;
    clearPassTextures();
    resetFrame();
}

void ShaderCore::resetFrame() {
    if (cache_) cache_->vertexShaderDesired = nullptr;
    const float t = gameCore.clocks ? float(gameCore.clocks->gameTime.now(1.0)) : 0.0f;
    frame.time = t;
    frame.time2 = t * t;
    frame.timeInverse = t != 0.0f ? 1.0f / t : 0.0f;
    if (cache_) {
        cache_->setTransform(DXStateCache::TransformView, frame.view);
        cache_->setTransform(DXStateCache::TransformProjection, frame.projection);
    }
}

void ShaderCore::setCameraFrame(const float* view, const float* world, const float* projection,
                                const float* viewProjection) {
    std::memcpy(&frame.view, view, sizeof frame.view);
    std::memcpy(&frame.viewInverse, world, sizeof frame.viewInverse);
    std::memcpy(&frame.projection, projection, sizeof frame.projection);
    std::memcpy(&frame.viewProjection, viewProjection, sizeof frame.viewProjection);
    std::memcpy(frame.cameraOrientation, world, sizeof frame.cameraOrientation);
    std::memset(frame.cameraBlock, 0, sizeof frame.cameraBlock);
    frame.cameraBlock[0] = 1.0f;
    frame.cameraBlock[5] = 1.0f;
    // direction x (0, 1, 0) = (-dz, 0, dx)
    float right[3] = {-world[10], 0.0f, world[8]};
    vector3Normalize(right);
    std::memcpy(frame.rightAxis, right, sizeof right);
    frame.upAxis[0] = 0.0f;
    frame.upAxis[1] = 1.0f;
    frame.upAxis[2] = 0.0f;
}

void ShaderCore::applyPassState() {
    if (!cache_) return;
    DXStateCache& c = *cache_;
    switch (pass.fogMode) {
        case 0:
            c.setRender(RS::RsFogEnable, 0);
            break;
        case 1:
            c.setRender(RS::RsFogEnable, 1);
            c.setRender(RS::RsRangeFogEnable, 0);
            c.setRender(RS::RsFogVertexMode, D3DFOG_NONE);
            c.setRender(RS::RsFogTableMode, D3DFOG_LINEAR);
            c.setRenderFloat(RS::RsFogStart, pass.fogStart);
            c.setRenderFloat(RS::RsFogEnd, pass.fogEnd);
            break;
        case 2:
        case 3:
            c.setRender(RS::RsFogEnable, 1);
            c.setRender(RS::RsFogVertexMode, D3DFOG_NONE);
            c.setRender(RS::RsFogTableMode, pass.fogMode == 2 ? D3DFOG_EXP : D3DFOG_EXP2);
            c.setRenderFloat(RS::RsFogDensity, pass.fogStart);
            break;
        default:
            break;
    }
    if (pass.fogMode >= 1 && pass.fogMode <= 3) {
        const bool additive = pass.blendMode == 4 || pass.blendMode == 7 || pass.blendMode == 8;
        c.setRender(RS::RsFogColor, additive ? 0 : packColorRGB(pass.fogColor[0], pass.fogColor[1], pass.fogColor[2]));
    }

    if (!pass.cullApplied) {
        pass.cullApplied = 1;
        if (pass.cullMode >= 0 && pass.cullMode <= 2) c.setRender(RS::RsCullMode, std::uint32_t(pass.cullMode + 1));
    }

    if (!pass.alphaApplied) {
        pass.alphaApplied = 1;
        switch (pass.alphaMode) {
            case 0:
                c.setRender(RS::RsAlphaTestEnable, 0);
                break;
            case 1:
            case 2:
                c.setRender(RS::RsAlphaTestEnable, 1);
                c.setRender(RS::RsAlphaRef, std::uint32_t(std::lround(pass.alphaMode == 1 ? alphaSharp : alphaSmooth)));
                c.setRender(RS::RsAlphaFunc, D3DCMP_GREATEREQUAL);
                break;
            case 3:
                c.setRender(RS::RsAlphaRef, std::uint32_t(std::lround(alphaMask)));
                c.setRender(RS::RsAlphaFunc, D3DCMP_LESSEQUAL);
                break;
            default:
                break;
        }
    }

    if (!pass.blendApplied) {
        pass.blendApplied = 1;
        if (pass.blendMode >= 0 && pass.blendMode <= 14 && pass.blendMode != 6) {
            const BlendRow& row = kBlendModes[pass.blendMode];
            c.setRender(RS::RsZWriteEnable, row.depthWrite);
            c.setRender(RS::RsAlphaBlendEnable, row.blend);
            c.setRender(RS::RsSrcBlend, row.source);
            c.setRender(RS::RsDestBlend, row.destination);
            c.setRender(RS::RsBlendOp, D3DBLENDOP_ADD);
            c.setRender(RS::RsSeparateAlphaBlendEnable, 0);
        }
        // Smooth alpha on an opaque mode blends for this draw and is set
        // again on the next one.
        if (pass.alphaMode == 2 && (pass.blendMode == 0 || pass.blendMode == 1)) {
            c.setRender(RS::RsAlphaBlendEnable, 1);
            c.setRender(RS::RsSrcBlend, D3DBLEND_SRCALPHA);
            c.setRender(RS::RsDestBlend, D3DBLEND_INVSRCALPHA);
            pass.blendApplied = 0;
        }
    }

    if (!pass.depthApplied) {
        pass.depthApplied = 1;
        if (pass.depthFunction >= 1 && pass.depthFunction <= 7)
            c.setRender(RS::RsZFunc, kDepthFunctions[pass.depthFunction]);
    }

    applyPassTextures();
}

void ShaderCore::applyPassTextures() {
    IDirect3DDevice9* device = cache_ ? cache_->device() : nullptr;
    for (int stage = 0; stage < 16; ++stage) {
        if (!pass.textureSet[stage] || pass.textureApplied[stage]) continue;
        if (device) device->SetTexture(DWORD(stage), pass.textures[stage]);
        pass.textureApplied[stage] = 1;
    }
}

void ShaderCore::commitProgram(ShaderProgram& program) {
    if (!program.has(ShaderProgram::BodyLoaded)) return;
    prepareProgram(program);
    if (!program.has(ShaderProgram::DeviceShaderMade) && !program.createDeviceShader(device_, cache_)) return;
    const bool bound = program.has(ShaderProgram::Bound);
    program.commitVariables(bound);
    if (bound) return;
    if (cache_) {
        if (program.kind == ShaderProgram::KindVertex) cache_->setVertexShader(program.vertexShader);
        if (program.kind == ShaderProgram::KindPixel) cache_->setPixelShader(program.pixelShader);
    }
    program.flags |= ShaderProgram::Bound;
}

void ShaderCore::applyPrograms(bool force) {
    if (!currentPixel_ || (!currentVertex_ && !force)) return;
    if (currentVertex_) commitProgram(*currentVertex_);
    commitProgram(*currentPixel_);
}

void ShaderCore::prepareDraw(bool force) {
    applyPassState();
    applyPrograms(force);
    if (cache_) cache_->apply();
}

void ShaderCore::readAlphaSettings() {
    if (!gameCore.settings) return;
    IniCategory& render = gameCore.settings->getCategory("render");
    readSetting(render, "alpha_sharp", alphaSharp, 127.0f);
    readSetting(render, "alpha_smooth", alphaSmooth, 1.0f);
    readSetting(render, "alpha_mask", alphaMask, 254.0f);
}

void ShaderCore::readDebugSettings() {
    if (!gameCore.settings) return;
    readSetting(gameCore.settings->getCategory("debug"), "debug_shader_name", debugShaderName, "");
}
