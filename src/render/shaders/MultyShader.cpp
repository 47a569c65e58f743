#include "render/shaders/MultyShader.h"

#include <cstring>
#include <string>

namespace {

struct DefineInfo {
    const char* name;
    std::vector<const char*> suffixes;
};

const DefineInfo kDefines[kFamilyDefineCount] = {
    {"BONES", {"-", "-1", "-2", "-3", "-4"}},
    {"LIGHT", {"", "+P", "+D"}},
    {"LMASK", {"", "+msk"}},
    {"LMODE", {"", "+A", "+Am"}},
    {"AMBIENT", {"", "[B]", "[T]", "[Lm]", "[S]", "[U]"}},
    {"SPECULAR", {"", "S", "Sm"}},
    {"ENVMAP", {"", "VE", "VEm", "RE", "REm", "", "Ea"}},
    {"TERRAIN", {"", "-T", "-T2"}},
    {"PARALLAX", {"", "#"}},
    {"NORMALMAP", {"", "N"}},
    {"DEPTH", {"", "-DoF"}},
    {"WAVE", {"", "-wave1", "-wave2"}},
    {"WATER", {"-river", "-lake", "-ocean"}},
    {"ALIGN", {"-eye", "-eye+", "-up", "-particle", "-particle2", "-floor"}},
    {"VERTEXDEBUG", {"-dTangent", "-dBinormal", "-dNormal", "-dLight", "-dEye", "-dCT", "-dCB", "-dCN"}},
};

}  // namespace

const char* familyDefineName(FamilyDefine define) { return kDefines[define].name; }

const char* familyDefineSuffix(FamilyDefine define, std::int32_t value) {
    const auto& table = kDefines[define].suffixes;
    return value >= 0 && std::size_t(value) < table.size() ? table[std::size_t(value)] : "";
}

std::int32_t MultyShader::value(FamilyDefine define) const { return values_[define] ? *values_[define] : 0; }

void MultyShader::set(FamilyDefine define, std::int32_t value) {
    if (values_[define]) *values_[define] = value;
}

void MultyShader::appendDefines(ShaderDefineList& list) const {
    for (FamilyDefine define : emitted_) list.add(familyDefineName(define), std::to_string(value(define)));
}

void MultyShader::name(const Naming& naming, char (&buffer)[256]) const {
    std::string text = naming.prefix;
    for (FamilyDefine define : naming.suffixes) text += familyDefineSuffix(define, value(define));
    const std::size_t n = text.size() < sizeof buffer - 1 ? text.size() : sizeof buffer - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
}

void MultyShader::vertexName(char (&buffer)[256]) const { name(vertexNaming_, buffer); }
void MultyShader::pixelName(char (&buffer)[256]) const { name(pixelNaming_, buffer); }

std::int32_t MultyShader::slotIndex(const std::vector<Digit>& digits) const {
    std::int32_t index = 0;
    for (const Digit& digit : digits) {
        std::int32_t v = value(digit.define);
        if (digit.clamp >= 0 && v > digit.clamp) v = digit.clamp;
        // A value outside its digit's range (set by a caller) has no slot.
        if (v < 0 || v >= digit.radix) return -1;
        index = index * digit.radix + v;
    }
    return index;
}

ShaderProgram** MultyShader::slot(ShaderSlotTable& slots, std::int32_t index) {
    if (index >= 0) return &slots[std::size_t(index)];
    outside_ = nullptr;
    return &outside_;
}

std::int32_t MultyShader::vertexSlotIndex() const { return slotIndex(vertexIndexDigits_); }
std::int32_t MultyShader::pixelSlotIndex() const { return slotIndex(pixelIndexDigits_); }

void MultyShader::finish() {
    std::size_t vertexCount = 1, pixelCount = 1;
    for (const Digit& digit : vertexIndexDigits_) vertexCount *= std::size_t(digit.radix);
    for (const Digit& digit : pixelIndexDigits_) pixelCount *= std::size_t(digit.radix);
    // Made anew, empty: the allocator's zeroed memory is every slot's null.
    vertexSlots = ShaderSlotTable(vertexCount);
    pixelSlots = ShaderSlotTable(pixelCount);
}

bool MultyShader::step(const Walk& walk) {
    for (const Digit& digit : walk.digits) {
        std::int32_t* field = values_[digit.define];
        if (++*field < digit.radix) return true;
        *field = 0;
    }
    return false;
}

bool MultyShader::next(const Walk& walk, bool reset) {
    if (reset) {
        for (int define = 0; define < kFamilyDefineCount; ++define)
            if (values_[define] && !(walk.keepBones && define == DefineBones)) *values_[define] = 0;
        if (!walk.validateFirst || valid()) return true;
    }
    do {
        if (!step(walk)) return false;
    } while (walk.validate && !valid());
    return true;
}

bool MultyShader::nextVertex(bool reset) { return next(vertexWalk_, reset); }
bool MultyShader::nextPixel(bool reset) { return next(pixelWalk_, reset); }

MultyShaderDynamic20::MultyShaderDynamic20() : MultyShader(240, 25, 34) {
    Setup& s = values;
    bind(DefineDepth, &s.depth);
    bind(DefineParallax, &s.parallax);
    bind(DefineBones, &s.bones);
    bind(DefineTerrain, &s.terrain);
    bind(DefineNormalmap, &s.normalmap);
    bind(DefineEnvmap, &s.envmap);
    bind(DefineAmbient, &s.ambient);
    bind(DefineLight, &s.light);
    bind(DefineLmask, &s.lmask);
    bind(DefineLmode, &s.lmode);
    bind(DefineSpecular, &s.specular);
    bind(DefineWave, &s.wave);
    emitted_ = {DefineBones,    DefineLight,    DefineEnvmap,    DefineLmask,   DefineLmode, DefineAmbient,
                DefineSpecular, DefineParallax, DefineNormalmap, DefineTerrain, DefineDepth, DefineWave};
    vertexNaming_ = {"vs-dyn20",
                     {DefineBones, DefineTerrain, DefineEnvmap, DefineLight, DefineLmask, DefineAmbient,
                      DefineSpecular, DefineNormalmap, DefineParallax, DefineLmode, DefineDepth, DefineWave}};
    pixelNaming_ = {"ps-dyn20",
                    {DefineTerrain, DefineEnvmap, DefineLight, DefineLmask, DefineAmbient, DefineSpecular,
                     DefineNormalmap, DefineParallax, DefineLmode, DefineDepth}};
    vertexIndexDigits_ = {{DefineBones, 5, -1},    {DefineDepth, 2, -1},     {DefineTerrain, 3, -1},
                          {DefineEnvmap, 5, 4},    {DefineLight, 3, -1},     {DefineLmask, 2, -1},
                          {DefineAmbient, 6, -1},  {DefineSpecular, 2, 1},   {DefineNormalmap, 2, -1},
                          {DefineParallax, 2, -1}, {DefineLmode, 3, -1},     {DefineWave, 3, -1}};
    pixelIndexDigits_ = {{DefineDepth, 2, -1},   {DefineTerrain, 3, -1},   {DefineEnvmap, 5, -1},
                         {DefineLight, 3, -1},   {DefineLmask, 2, -1},     {DefineAmbient, 6, -1},
                         {DefineSpecular, 3, -1}, {DefineNormalmap, 2, -1}, {DefineParallax, 2, -1},
                         {DefineLmode, 3, -1}};
    vertexWalk_.digits = {{DefineNormalmap, 2, -1}, {DefineWave, 3, -1},   {DefineLmode, 3, -1},
                          {DefineAmbient, 6, -1},   {DefineEnvmap, 5, -1}, {DefineLight, 3, -1},
                          {DefineLmask, 2, -1},     {DefineSpecular, 2, -1}, {DefineDepth, 2, -1},
                          {DefineBones, 5, -1},     {DefineTerrain, 3, -1}, {DefineParallax, 2, -1}};
    vertexWalk_.validate = vertexWalk_.validateFirst = true;
    pixelWalk_.digits = {{DefineDepth, 2, -1},   {DefineParallax, 2, -1}, {DefineTerrain, 3, -1},
                         {DefineNormalmap, 2, -1}, {DefineEnvmap, 5, -1}, {DefineAmbient, 6, -1},
                         {DefineLight, 3, -1},   {DefineLmask, 2, -1},    {DefineLmode, 3, -1},
                         {DefineSpecular, 3, -1}};
    pixelWalk_.validate = pixelWalk_.validateFirst = true;
    pixelWalk_.keepBones = true;
    finish();
}

bool MultyShaderDynamic20::valid() const {
    const Setup& s = values;
    if (s.ambient == 4 || s.ambient == 5) return false;
    if (s.ambient == 2 && s.terrain != 0) return false;
    if (s.depth == 1 && !((s.ambient == 0 || s.ambient == 1) && s.parallax == 0 && s.normalmap == 0 &&
                          s.terrain == 0 && s.envmap == 0 && s.specular == 0 && s.lmode == 0 && s.lmask == 0 &&
                          s.light == 0))
        return false;
    if (s.parallax == 1 && !(s.envmap == 0 && (s.terrain == 0 || s.ambient == 0 || s.light == 0))) return false;
    if (s.envmap > 0 &&
        !(s.lmask == 0 && s.lmode != 2 && (s.light == 0 || s.terrain == 0) && (s.specular == 0 || s.terrain != 2)))
        return false;
    if (s.terrain > 0 && !(s.lmask == 0 && s.lmode != 2)) return false;
    if (s.normalmap == 1 && !(s.envmap > 0 || s.light > 0 || s.ambient == 3)) return false;
    if (s.light == 0 && !(s.lmask == 0 && s.lmode == 0 && (s.specular == 0 || s.ambient == 3))) return false;
    return true;
}

MultyShaderWaterBase::MultyShaderWaterBase(std::int32_t source, std::int32_t vertex, std::int32_t pixel,
                                           bool model20) :
    MultyShader(source, vertex, pixel), values(model20) {
    Setup& s = values;
    bind(DefineAmbient, &s.ambient);
    bind(DefineBones, &s.bones);
    bind(DefineLight, &s.light);
    bind(DefineLmode, &s.lmode);
    bind(DefineSpecular, &s.specular);
    bind(DefineWater, &s.water);
    emitted_ = {DefineWater, DefineBones, DefineAmbient, DefineLight, DefineLmode, DefineSpecular};
    pixelIndexDigits_ = {{DefineAmbient, 6, -1}, {DefineLight, 3, -1}, {DefineLmode, 3, -1},
                         {DefineSpecular, 3, -1}, {DefineWater, 3, -1}};
    // The water walks take the digits in the order of the slot index, the
    // most significant one (AMBIENT) stepping fastest.
    pixelWalk_.digits = pixelIndexDigits_;
    pixelWalk_.validate = true;
}

bool MultyShaderWaterBase::valid() const {
    const Setup& s = values;
    if (s.ambient != 0 && s.ambient != 1 && s.ambient != 4) return false;
    if (s.lmode != 0 && s.lmode != 1) return false;
    if (lowProfile && s.light > 0 && s.ambient != 0) return false;
    if (s.light == 0 && !(s.ambient > 0 && s.lmode == 0 && s.specular == 0)) return false;
    return true;
}

MultyShaderWater20::MultyShaderWater20() : MultyShaderWaterBase(244, 26, 32, false) {
    vertexNaming_ = {"vs-water20", {DefineWater, DefineBones, DefineAmbient, DefineLight, DefineSpecular}};
    pixelNaming_ = {"ps-water20", {DefineWater, DefineAmbient, DefineLight, DefineSpecular, DefineLmode}};
    vertexIndexDigits_ = {{DefineAmbient, 6, -1}, {DefineBones, 5, -1}, {DefineLight, 3, -1},
                          {DefineSpecular, 2, -1}, {DefineWater, 3, -1}};
    vertexWalk_.digits = vertexIndexDigits_;
    vertexWalk_.validate = vertexWalk_.validateFirst = true;
    finish();
}

MultyShaderWaterNorm20::MultyShaderWaterNorm20() : MultyShaderWaterBase(245, 27, 33, true) {
    vertexNaming_ = {"vs-waternorm20",
                     {DefineWater, DefineBones, DefineAmbient, DefineLight, DefineSpecular, DefineLmode}};
    pixelNaming_ = {"ps-waternorm20", {DefineWater, DefineAmbient, DefineLight, DefineSpecular, DefineLmode}};
    // LMODE is a digit of the vertex slots: the walk names permutations by
    // it, and without it the LMODE 1 program would take the LMODE 0 slot.
    vertexIndexDigits_ = {{DefineAmbient, 6, -1}, {DefineBones, 5, -1},    {DefineLight, 3, -1},
                          {DefineLmode, 3, -1},   {DefineSpecular, 2, -1}, {DefineWater, 3, -1}};
    vertexWalk_.digits = vertexIndexDigits_;
    vertexWalk_.validate = true;
    pixelWalk_.keepBones = true;
    finish();
}

MultyShaderParticle20::MultyShaderParticle20() : MultyShader(225, 24, 31) {
    bind(DefineAlign, &values.align);
    emitted_ = {DefineAlign};
    vertexNaming_ = {"vs-particle20", {DefineAlign}};
    pixelNaming_ = {"ps-particle20", {}};
    vertexIndexDigits_ = {{DefineAlign, 6, -1}};
    vertexWalk_.digits = vertexIndexDigits_;
    finish();
}

MultyShaderVertexDebug::MultyShaderVertexDebug() : MultyShader(210, 28, 35) {
    bind(DefineBones, &values.bones);
    bind(DefineVertexDebug, &values.vertexDebug);
    emitted_ = {DefineBones, DefineVertexDebug};
    vertexNaming_ = {"vs-vd", {DefineBones, DefineVertexDebug}};
    pixelNaming_ = {"ps-vd-vertexdebug", {}};
    vertexIndexDigits_ = {{DefineBones, 5, -1}, {DefineVertexDebug, 8, -1}};
    vertexWalk_.digits = {{DefineVertexDebug, 8, -1}, {DefineBones, 5, -1}};
    finish();
}
