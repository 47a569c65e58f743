#include "platform/d3d9/FixedFunction.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace platform::d3d9 {

namespace {

// Transform slots of DeviceState::transforms.
constexpr UINT kView = 0, kProjection = 1, kTexture0 = 2, kWorld = 10;

float asFloat(DWORD bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void color(D3DCOLOR c, float* out) {
    out[0] = float((c >> 16) & 0xFF) / 255.0f;
    out[1] = float((c >> 8) & 0xFF) / 255.0f;
    out[2] = float(c & 0xFF) / 255.0f;
    out[3] = float(c >> 24) / 255.0f;
}

void color(const D3DCOLORVALUE& c, float* out) {
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

// a * b with Direct3D's row vectors.
D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

// A D3D matrix handed to GLSL as is: column-major reading transposes it,
// so "matrix * column" in GLSL is "row * matrix" in Direct3D.
void store(const D3DMATRIX& m, float* out) { std::memcpy(out, m.m, sizeof m.m); }

void transformPoint(const D3DMATRIX& m, const D3DVECTOR& v, float w, float* out) {
    for (int j = 0; j < 3; ++j) out[j] = v.x * m.m[0][j] + v.y * m.m[1][j] + v.z * m.m[2][j] + w * m.m[3][j];
    out[3] = 0;
}

// A material source when the vertex has that colour and COLORVERTEX is on.
std::uint8_t source(const DeviceState& s, D3DRENDERSTATETYPE state, const VertexKey& key) {
    const DWORD chosen = s.renderStates[state];
    if (!s.renderStates[D3DRS_COLORVERTEX]) return D3DMCS_MATERIAL;
    if (chosen == D3DMCS_COLOR1 && key.hasColor[0]) return D3DMCS_COLOR1;
    if (chosen == D3DMCS_COLOR2 && key.hasColor[1]) return D3DMCS_COLOR2;
    return D3DMCS_MATERIAL;
}

std::uint8_t components(BYTE type) {
    switch (type) {
        case D3DDECLTYPE_FLOAT1: return 1;
        case D3DDECLTYPE_FLOAT2:
        case D3DDECLTYPE_SHORT2:
        case D3DDECLTYPE_SHORT2N:
        case D3DDECLTYPE_USHORT2N:
        case D3DDECLTYPE_FLOAT16_2: return 2;
        case D3DDECLTYPE_FLOAT3:
        case D3DDECLTYPE_UDEC3:
        case D3DDECLTYPE_DEC3N: return 3;
        default: return 4;
    }
}

void append(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append(std::string& text, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    text += line;
}

const char* kVertexUniforms = R"(layout(std140, binding = 0) uniform D3DFixedVertex {
    mat4 ff_WorldView, ff_Projection, ff_WorldViewProjection, ff_World;
    mat4 ff_TextureMatrix[8];
    vec4 ff_LightDiffuse[8], ff_LightSpecular[8], ff_LightAmbient[8];
    vec4 ff_LightPosition[8], ff_LightDirection[8], ff_LightAttenuation[8], ff_LightSpot[8];
    vec4 ff_MaterialDiffuse, ff_MaterialAmbient, ff_MaterialSpecular, ff_MaterialEmissive;
    vec4 ff_Ambient, ff_FogParameters;
    vec4 ff_ClipPlane[6];
    vec4 ff_Viewport;
};
)";

const char* kPixelUniforms = R"(layout(std140, binding = 3) uniform D3DFixedPixel {
    vec4 ff_TextureFactor;
    vec4 ff_StageConstant[8];
    vec4 ff_FogColor;
    vec4 ff_Output;
};
)";

const char* kVertexInterface = R"(layout(location = 0) in vec4 d3d_Position;
layout(location = 1) in vec4 d3d_BlendWeight;
layout(location = 2) in vec4 d3d_BlendIndices;
layout(location = 3) in vec4 d3d_Normal;
layout(location = 4) in vec4 d3d_Color0;
layout(location = 5) in vec4 d3d_Color1;
layout(location = 6) in vec4 d3d_TexCoord0;
layout(location = 7) in vec4 d3d_TexCoord1;
layout(location = 8) in vec4 d3d_TexCoord2;
layout(location = 9) in vec4 d3d_TexCoord3;
layout(location = 10) in vec4 d3d_TexCoord4;
layout(location = 11) in vec4 d3d_TexCoord5;
layout(location = 12) in vec4 d3d_TexCoord6;
layout(location = 13) in vec4 d3d_TexCoord7;
layout(location = 14) in vec4 d3d_Tangent;
layout(location = 15) in vec4 d3d_Binormal;
out vec4 d3d_Diffuse;
out vec4 d3d_Specular;
out vec4 d3d_Texture[8];
out float d3d_Fog;
out float gl_ClipDistance[6];
)";

// Moves Direct3D's clip position to GL's pixel centres (half a pixel right
// and down) after the clip distances are taken from it. Downward it moves a
// 32nd of a pixel less: an edge through pixel centres then keeps the
// pixels below it, as Direct3D's top-left rule does (GL's rule, with the
// upper-left origin, would keep the pixels above).
const char* kVertexEnd = R"(void d3d_finish(vec4 clipPlaneSpace) {
    for (int i = 0; i < 6; ++i) gl_ClipDistance[i] = dot(clipPlaneSpace, ff_ClipPlane[i]);
    gl_Position.xy += vec2(1.0 / ff_Viewport.z, -(1.0 - 1.0 / 32.0) / ff_Viewport.w) * gl_Position.w;
}
)";

const char* kPixelInterface = R"(in vec4 d3d_Diffuse;
in vec4 d3d_Specular;
in vec4 d3d_Texture[8];
in float d3d_Fog;
layout(location = 0) out vec4 d3d_FragColor;
)";

// Alpha test against the 8-bit reference, then fog; an alpha-only target
// keeps its one channel in red, so the output's alpha goes there.
const char* kPixelEnd = R"(void d3d_finish() {
    int func = int(ff_Output.y);
    if (func != 8) {
        float a = floor(clamp(d3d_FragColor.a, 0.0, 1.0) * 255.0 + 0.5), r = ff_Output.x;
        bool pass = func == 2 ? a < r : func == 3 ? a == r : func == 4 ? a <= r : func == 5 ? a > r :
                    func == 6 ? a != r : func == 7 ? a >= r : false;
        if (!pass) discard;
    }
    if (ff_Output.z != 0.0) d3d_FragColor.rgb = mix(ff_FogColor.rgb, d3d_FragColor.rgb, clamp(d3d_Fog, 0.0, 1.0));
    if (ff_Output.w != 0.0) d3d_FragColor.r = d3d_FragColor.a;
}
)";

std::string argument(DWORD arg, UINT stage, bool alpha) {
    std::string value;
    switch (arg & 0xF) {
        case D3DTA_DIFFUSE: value = "d3d_Diffuse"; break;
        case D3DTA_CURRENT: value = "current"; break;
        case D3DTA_TEXTURE: value = "t" + std::to_string(stage); break;
        case D3DTA_TFACTOR: value = "ff_TextureFactor"; break;
        case D3DTA_SPECULAR: value = "d3d_Specular"; break;
        case D3DTA_TEMP: value = "temp"; break;
        case D3DTA_CONSTANT: value = "ff_StageConstant[" + std::to_string(stage) + "]"; break;
        default: value = "vec4(0.0)"; break;
    }
    if (arg & D3DTA_COMPLEMENT) value = "(1.0 - " + value + ")";
    if ((arg & D3DTA_ALPHAREPLICATE) && !alpha) value = value + ".aaaa";
    return value + (alpha ? ".a" : ".rgb");
}

// One operation over its arguments (a0, a1, a2), GLSL of the result type.
std::string operation(DWORD op, const std::string a[3], UINT stage, bool alpha) {
    auto blend = [&](const std::string& factor) {
        return "mix(" + a[2] + ", " + a[1] + ", " + factor + ")";
    };
    switch (op) {
        case D3DTOP_SELECTARG1: return a[1];
        case D3DTOP_SELECTARG2: return a[2];
        case D3DTOP_MODULATE: return a[1] + " * " + a[2];
        case D3DTOP_MODULATE2X: return a[1] + " * " + a[2] + " * 2.0";
        case D3DTOP_MODULATE4X: return a[1] + " * " + a[2] + " * 4.0";
        case D3DTOP_ADD: return a[1] + " + " + a[2];
        case D3DTOP_ADDSIGNED: return a[1] + " + " + a[2] + " - 0.5";
        case D3DTOP_ADDSIGNED2X: return "(" + a[1] + " + " + a[2] + " - 0.5) * 2.0";
        case D3DTOP_SUBTRACT: return a[1] + " - " + a[2];
        case D3DTOP_ADDSMOOTH: return a[1] + " + " + a[2] + " - " + a[1] + " * " + a[2];
        case D3DTOP_BLENDDIFFUSEALPHA: return blend("d3d_Diffuse.a");
        case D3DTOP_BLENDTEXTUREALPHA: return blend("t" + std::to_string(stage) + ".a");
        case D3DTOP_BLENDFACTORALPHA: return blend("ff_TextureFactor.a");
        case D3DTOP_BLENDCURRENTALPHA: return blend("current.a");
        // The signed dot product (dp3, computed before) in every channel.
        case D3DTOP_DOTPRODUCT3: return alpha ? "dp3" : "vec3(dp3)";
        case D3DTOP_MULTIPLYADD: return a[0] + " + " + a[1] + " * " + a[2];
        case D3DTOP_LERP: return "mix(" + a[2] + ", " + a[1] + ", " + a[0] + ")";
        default: return a[1];
    }
}

}  // namespace

std::uint8_t attributeLocation(const D3DVERTEXELEMENT9& e) {
    switch (e.Usage) {
        case D3DDECLUSAGE_POSITION:
        case D3DDECLUSAGE_POSITIONT: return e.UsageIndex == 0 ? std::uint8_t(kAttribPosition) : std::uint8_t(kAttribNone);
        case D3DDECLUSAGE_BLENDWEIGHT: return e.UsageIndex == 0 ? std::uint8_t(kAttribBlendWeight) : std::uint8_t(kAttribNone);
        case D3DDECLUSAGE_BLENDINDICES: return e.UsageIndex == 0 ? std::uint8_t(kAttribBlendIndices) : std::uint8_t(kAttribNone);
        case D3DDECLUSAGE_NORMAL: return e.UsageIndex == 0 ? std::uint8_t(kAttribNormal) : std::uint8_t(kAttribNone);
        case D3DDECLUSAGE_COLOR:
            return e.UsageIndex < 2 ? std::uint8_t(kAttribColor0 + e.UsageIndex) : std::uint8_t(kAttribNone);
        case D3DDECLUSAGE_TEXCOORD:
            return e.UsageIndex < 8 ? std::uint8_t(kAttribTexCoord0 + e.UsageIndex) : std::uint8_t(kAttribNone);
        case D3DDECLUSAGE_TANGENT: return e.UsageIndex == 0 ? std::uint8_t(kAttribTangent) : std::uint8_t(kAttribNone);
        case D3DDECLUSAGE_BINORMAL: return e.UsageIndex == 0 ? std::uint8_t(kAttribBinormal) : std::uint8_t(kAttribNone);
        default: return kAttribNone;
    }
}

VertexKey vertexKey(const DeviceState& s) {
    VertexKey key;
    if (s.declaration)
        for (const auto& e : s.declaration->elements) {
            if (e.Usage == D3DDECLUSAGE_POSITIONT) key.positionT = 1;
            if (e.Usage == D3DDECLUSAGE_NORMAL && e.UsageIndex == 0) key.hasNormal = 1;
            if (e.Usage == D3DDECLUSAGE_COLOR && e.UsageIndex < 2) key.hasColor[e.UsageIndex] = 1;
            if (e.Usage == D3DDECLUSAGE_TEXCOORD && e.UsageIndex < 8) key.texDims[e.UsageIndex] = components(e.Type);
        }
    const auto& rs = s.renderStates;
    key.lighting = rs[D3DRS_LIGHTING] && !key.positionT;
    if (key.lighting) {
        for (UINT i = 0; i < kMaxLights; ++i)
            if (s.lightEnabled[i]) key.lightType[i] = std::uint8_t(s.lights[i].Type);
        key.diffuseSource = source(s, D3DRS_DIFFUSEMATERIALSOURCE, key);
        key.ambientSource = source(s, D3DRS_AMBIENTMATERIALSOURCE, key);
        key.specularSource = source(s, D3DRS_SPECULARMATERIALSOURCE, key);
        key.emissiveSource = source(s, D3DRS_EMISSIVEMATERIALSOURCE, key);
        key.specular = rs[D3DRS_SPECULARENABLE] ? 1 : 0;
        key.localViewer = rs[D3DRS_LOCALVIEWER] ? 1 : 0;
        key.normalize = rs[D3DRS_NORMALIZENORMALS] ? 1 : 0;
    }
    if (rs[D3DRS_FOGENABLE]) {
        key.fogMode = std::uint8_t(rs[D3DRS_FOGTABLEMODE] ? rs[D3DRS_FOGTABLEMODE] : rs[D3DRS_FOGVERTEXMODE]);
        key.rangeFog = rs[D3DRS_RANGEFOGENABLE] ? 1 : 0;
    }
    for (UINT stage = 0; stage < kMaxFixedStages; ++stage) {
        const auto& st = s.stageStates[stage];
        key.coordIndex[stage] = std::uint8_t(((st[D3DTSS_TEXCOORDINDEX] >> 16) << 4) | (st[D3DTSS_TEXCOORDINDEX] & 7));
        const DWORD flags = st[D3DTSS_TEXTURETRANSFORMFLAGS];
        key.transform[stage] = std::uint8_t((flags & 7) | ((flags & D3DTTFF_PROJECTED) ? 0x80 : 0));
    }
    return key;
}

PixelKey pixelKey(const DeviceState& s) {
    PixelKey key;
    for (UINT stage = 0; stage < kMaxFixedStages; ++stage) {
        const auto& st = s.stageStates[stage];
        if (st[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
        StageKey& k = key.stages[stage];
        k.colorOp = std::uint8_t(st[D3DTSS_COLOROP]);
        k.colorArg[0] = std::uint8_t(st[D3DTSS_COLORARG0]);
        k.colorArg[1] = std::uint8_t(st[D3DTSS_COLORARG1]);
        k.colorArg[2] = std::uint8_t(st[D3DTSS_COLORARG2]);
        k.alphaOp = std::uint8_t(st[D3DTSS_ALPHAOP]);
        k.alphaArg[0] = std::uint8_t(st[D3DTSS_ALPHAARG0]);
        k.alphaArg[1] = std::uint8_t(st[D3DTSS_ALPHAARG1]);
        k.alphaArg[2] = std::uint8_t(st[D3DTSS_ALPHAARG2]);
        k.resultTemp = st[D3DTSS_RESULTARG] == D3DTA_TEMP ? 1 : 0;
        const TextureCore* texture = s.textures[stage];
        k.texture = !texture ? 0 : texture->type == D3DRTYPE_CUBETEXTURE ? 2 : 1;
        // An operation that reads a texture the stage does not have passes
        // the current colour on, so untextured geometry shows its colour.
        auto readsTexture = [](const std::uint8_t* args) {
            for (int i = 0; i < 3; ++i)
                if ((args[i] & 0xF) == D3DTA_TEXTURE) return true;
            return false;
        };
        if (!texture && readsTexture(k.colorArg)) {
            k.colorOp = D3DTOP_SELECTARG1;
            k.colorArg[1] = D3DTA_CURRENT;
        }
        if (!texture && k.alphaOp != D3DTOP_DISABLE && readsTexture(k.alphaArg)) {
            k.alphaOp = D3DTOP_SELECTARG1;
            k.alphaArg[1] = D3DTA_CURRENT;
        }
        const DWORD flags = st[D3DTSS_TEXTURETRANSFORMFLAGS];
        if ((flags & D3DTTFF_PROJECTED) && (flags & 7)) k.projected = std::uint8_t(flags & 7);
        key.stageCount = std::uint8_t(stage + 1);
    }
    key.specular = s.renderStates[D3DRS_SPECULARENABLE] ? 1 : 0;
    return key;
}

void fixedUniforms(const DeviceState& s, VertexUniforms& u, PixelUniforms& p) {
    std::memset(&u, 0, sizeof u);
    std::memset(&p, 0, sizeof p);
    const auto& t = s.transforms;
    const D3DMATRIX worldView = multiply(t[kWorld], t[kView]);
    store(worldView, u.worldView);
    store(t[kProjection], u.projection);
    store(multiply(worldView, t[kProjection]), u.worldViewProjection);
    store(t[kWorld], u.world);
    for (UINT i = 0; i < 8; ++i) store(t[kTexture0 + i], u.textureMatrix[i]);
    for (UINT i = 0; i < kMaxLights; ++i) {
        if (!s.lightEnabled[i]) continue;
        const D3DLIGHT9& l = s.lights[i];
        color(l.Diffuse, u.lightDiffuse[i]);
        color(l.Specular, u.lightSpecular[i]);
        color(l.Ambient, u.lightAmbient[i]);
        // Lighting runs in camera space.
        transformPoint(t[kView], l.Position, 1.0f, u.lightPosition[i]);
        transformPoint(t[kView], l.Direction, 0.0f, u.lightDirection[i]);
        const float length = std::sqrt(u.lightDirection[i][0] * u.lightDirection[i][0] +
                                       u.lightDirection[i][1] * u.lightDirection[i][1] +
                                       u.lightDirection[i][2] * u.lightDirection[i][2]);
        if (length > 0)
            for (int j = 0; j < 3; ++j) u.lightDirection[i][j] /= length;
        u.lightAttenuation[i][0] = l.Attenuation0;
        u.lightAttenuation[i][1] = l.Attenuation1;
        u.lightAttenuation[i][2] = l.Attenuation2;
        u.lightAttenuation[i][3] = l.Range;
        u.lightSpot[i][0] = std::cos(l.Theta / 2);
        u.lightSpot[i][1] = std::cos(l.Phi / 2);
        u.lightSpot[i][2] = l.Falloff;
    }
    color(s.material.Diffuse, u.materialDiffuse);
    color(s.material.Ambient, u.materialAmbient);
    color(s.material.Specular, u.materialSpecular);
    color(s.material.Emissive, u.materialEmissive);
    const auto& rs = s.renderStates;
    color(rs[D3DRS_AMBIENT], u.ambient);
    color(rs[D3DRS_FOGCOLOR], p.fogColor);
    u.fogParameters[0] = asFloat(rs[D3DRS_FOGSTART]);
    u.fogParameters[1] = asFloat(rs[D3DRS_FOGEND]);
    u.fogParameters[2] = asFloat(rs[D3DRS_FOGDENSITY]);
    u.fogParameters[3] = s.material.Power;
    color(rs[D3DRS_TEXTUREFACTOR], p.textureFactor);
    for (UINT i = 0; i < kMaxFixedStages; ++i) color(s.stageStates[i][D3DTSS_CONSTANT], p.stageConstant[i]);
    for (UINT i = 0; i < kMaxClipPlanes; ++i)
        for (int j = 0; j < 4; ++j) u.clipPlane[i][j] = s.clipPlanes[i][j];
    u.viewport[0] = float(s.viewport.X);
    u.viewport[1] = float(s.viewport.Y);
    u.viewport[2] = float(s.viewport.Width ? s.viewport.Width : 1);
    u.viewport[3] = float(s.viewport.Height ? s.viewport.Height : 1);
    p.output[0] = float(rs[D3DRS_ALPHAREF] & 0xFF);
    p.output[1] = float(rs[D3DRS_ALPHATESTENABLE] ? rs[D3DRS_ALPHAFUNC] : D3DCMP_ALWAYS);
    p.output[2] = rs[D3DRS_FOGENABLE] ? 1.0f : 0.0f;
    p.output[3] = alphaOnlyTarget(s.renderTarget) ? 1.0f : 0.0f;
}

std::string vertexProgram(const VertexKey& key) {
    std::string g = "#version 450 compatibility\n";
    g += kVertexUniforms;
    g += kVertexInterface;
    g += kVertexEnd;
    g += "void main() {\n";
    if (key.positionT) {
        // Screen position in pixels (Direct3D's centres, moved by d3d_finish),
        // depth, 1 / w.
        g += "    vec4 p = d3d_Position;\n"
             "    float w = p.w != 0.0 ? 1.0 / p.w : 1.0;\n"
             "    vec2 ndc = vec2((p.x - ff_Viewport.x) / ff_Viewport.z * 2.0 - 1.0,\n"
             "                    1.0 - (p.y - ff_Viewport.y) / ff_Viewport.w * 2.0);\n"
             "    gl_Position = vec4(ndc * w, p.z * w, w);\n"
             "    vec3 eye = vec3(0.0, 0.0, p.z);\n"
             "    vec3 n = vec3(0.0, 0.0, -1.0);\n";
    } else {
        g += "    vec4 position = vec4(d3d_Position.xyz, 1.0);\n"
             "    gl_Position = ff_WorldViewProjection * position;\n"
             "    vec3 eye = (ff_WorldView * position).xyz;\n";
        if (key.hasNormal)
            g += std::string("    vec3 n = mat3(ff_WorldView) * d3d_Normal.xyz;\n") +
                 (key.normalize ? "    n = normalize(n);\n" : "");
        else
            g += "    vec3 n = vec3(0.0);\n";
    }
    const char* color0 = key.hasColor[0] ? "d3d_Color0" : "vec4(1.0)";
    const char* color1 = key.hasColor[1] ? "d3d_Color1" : "vec4(0.0)";
    if (key.lighting) {
        auto materialOf = [&](std::uint8_t source, const char* material) -> std::string {
            return source == D3DMCS_COLOR1 ? "d3d_Color0" : source == D3DMCS_COLOR2 ? "d3d_Color1" : material;
        };
        append(g, "    vec4 md = %s, ma = %s, ms = %s, me = %s;\n",
               materialOf(key.diffuseSource, "ff_MaterialDiffuse").c_str(),
               materialOf(key.ambientSource, "ff_MaterialAmbient").c_str(),
               materialOf(key.specularSource, "ff_MaterialSpecular").c_str(),
               materialOf(key.emissiveSource, "ff_MaterialEmissive").c_str());
        g += "    vec3 ambient = ff_Ambient.rgb, diffuse = vec3(0.0), specular = vec3(0.0);\n";
        g += key.localViewer ? "    vec3 toEye = normalize(-eye);\n" : "    vec3 toEye = vec3(0.0, 0.0, -1.0);\n";
        for (int i = 0; i < 8; ++i) {
            const int type = key.lightType[i];
            if (!type) continue;
            g += "    {\n";
            if (type == D3DLIGHT_DIRECTIONAL) {
                append(g, "        vec3 l = -ff_LightDirection[%d].xyz;\n        float att = 1.0;\n", i);
            } else {
                append(g,
                       "        vec3 d = ff_LightPosition[%d].xyz - eye;\n"
                       "        float dist = length(d);\n"
                       "        vec3 l = dist > 0.0 ? d / dist : vec3(0.0);\n"
                       "        vec4 a = ff_LightAttenuation[%d];\n"
                       "        float att = dist > a.w ? 0.0 : 1.0 / max(a.x + a.y * dist + a.z * dist * dist, 1e-6);\n",
                       i, i);
                if (type == D3DLIGHT_SPOT)
                    append(g,
                           "        vec4 spot = ff_LightSpot[%d];\n"
                           "        float rho = dot(-l, ff_LightDirection[%d].xyz);\n"
                           "        att *= rho > spot.x ? 1.0 : rho <= spot.y ? 0.0 :\n"
                           "               pow(max((rho - spot.y) / max(spot.x - spot.y, 1e-6), 0.0), spot.z);\n",
                           i, i);
            }
            append(g,
                   "        float ndl = max(dot(n, l), 0.0);\n"
                   "        ambient += att * ff_LightAmbient[%d].rgb;\n"
                   "        diffuse += att * ndl * ff_LightDiffuse[%d].rgb;\n",
                   i, i);
            if (key.specular)
                append(g,
                       "        if (ndl > 0.0) specular += att * pow(max(dot(n, normalize(l + toEye)), 0.0),"
                       " ff_FogParameters.w) * ff_LightSpecular[%d].rgb;\n",
                       i);
            g += "    }\n";
        }
        g += "    d3d_Diffuse = clamp(vec4(me.rgb + ma.rgb * ambient + md.rgb * diffuse, md.a), 0.0, 1.0);\n"
             "    d3d_Specular = clamp(vec4(ms.rgb * specular, ms.a), 0.0, 1.0);\n";
    } else {
        append(g, "    d3d_Diffuse = %s;\n    d3d_Specular = %s;\n", color0, color1);
    }
    // Fog factor from the camera distance (depth, or range).
    const char* distance = key.rangeFog ? "length(eye)" : "abs(eye.z)";
    switch (key.fogMode) {
        case D3DFOG_LINEAR:
            append(g,
                   "    d3d_Fog = (ff_FogParameters.y - %s) / max(ff_FogParameters.y - ff_FogParameters.x, 1e-6);\n",
                   distance);
            break;
        case D3DFOG_EXP: append(g, "    d3d_Fog = exp(-ff_FogParameters.z * %s);\n", distance); break;
        case D3DFOG_EXP2:
            append(g, "    float fd = ff_FogParameters.z * %s;\n    d3d_Fog = exp(-fd * fd);\n", distance);
            break;
        default: g += "    d3d_Fog = 1.0;\n"; break;
    }
    for (int stage = 0; stage < 8; ++stage) {
        const int set = key.coordIndex[stage] & 7, generation = key.coordIndex[stage] >> 4;
        std::string coords;
        switch (generation) {
            case D3DTSS_TCI_CAMERASPACENORMAL >> 16: coords = "vec4(n, 1.0)"; break;
            case D3DTSS_TCI_CAMERASPACEPOSITION >> 16: coords = "vec4(eye, 1.0)"; break;
            case D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR >> 16:
                coords = "vec4(reflect(normalize(eye), normalize(n)), 1.0)";
                break;
            case D3DTSS_TCI_SPHEREMAP >> 16:
                coords = "vec4(reflect(normalize(eye), normalize(n)).xy * 0.5 + 0.5, 0.0, 1.0)";
                break;
            default: {
                const int dims = key.texDims[set];
                const std::string c = "d3d_TexCoord" + std::to_string(set);
                // The component after the last is 1, so a matrix's row after
                // the coordinates translates them.
                coords = dims == 0   ? "vec4(0.0)"
                         : dims == 1 ? "vec4(" + c + ".x, 1.0, 0.0, 0.0)"
                         : dims == 2 ? "vec4(" + c + ".xy, 1.0, 0.0)"
                         : dims == 3 ? "vec4(" + c + ".xyz, 1.0)"
                                     : c;
            }
        }
        if (key.transform[stage] & 7)
            append(g, "    d3d_Texture[%d] = ff_TextureMatrix[%d] * %s;\n", stage, stage, coords.c_str());
        else
            append(g, "    d3d_Texture[%d] = %s;\n", stage, coords.c_str());
    }
    g += key.positionT ? "    d3d_finish(vec4(0.0, 0.0, 0.0, 1.0));\n" : "    d3d_finish(ff_World * position);\n";
    g += "}\n";
    return g;
}

std::string pixelProgram(const PixelKey& key) {
    std::string g = "#version 450 compatibility\n";
    g += kPixelUniforms;
    g += kPixelInterface;
    g += kPixelEnd;
    for (int stage = 0; stage < key.stageCount; ++stage) {
        const StageKey& k = key.stages[stage];
        if (k.texture)
            append(g, "layout(binding = %d) uniform %s ff_Sampler%d;\n", stage,
                   k.texture == 2 ? "samplerCube" : "sampler2D", stage);
    }
    g += "void main() {\n"
         "    vec4 current = d3d_Diffuse, temp = vec4(0.0);\n";
    for (int stage = 0; stage < key.stageCount; ++stage) {
        const StageKey& k = key.stages[stage];
        const std::string coords = "d3d_Texture[" + std::to_string(stage) + "]";
        if (k.texture == 2)
            append(g, "    vec4 t%d = texture(ff_Sampler%d, %s.xyz);\n", stage, stage, coords.c_str());
        else if (k.texture == 1 && k.projected)
            append(g, "    vec4 t%d = texture(ff_Sampler%d, %s.xy / %s[%d]);\n", stage, stage, coords.c_str(),
                   coords.c_str(), k.projected - 1);
        else if (k.texture == 1)
            append(g, "    vec4 t%d = texture(ff_Sampler%d, %s.xy);\n", stage, stage, coords.c_str());
        else
            append(g, "    vec4 t%d = vec4(0.0, 0.0, 0.0, 1.0);\n", stage);
        std::string color[3], alpha[3];
        for (int i = 0; i < 3; ++i) {
            color[i] = argument(k.colorArg[i], stage, false);
            alpha[i] = argument(k.alphaArg[i], stage, true);
        }
        const bool dot = k.colorOp == D3DTOP_DOTPRODUCT3;
        if (dot)
            append(g, "    float dp3 = clamp(dot((%s - 0.5) * 2.0, (%s - 0.5) * 2.0), 0.0, 1.0);\n", color[1].c_str(),
                   color[2].c_str());
        append(g, "    vec3 c%d = clamp(%s, 0.0, 1.0);\n", stage, operation(k.colorOp, color, stage, false).c_str());
        // DOTPRODUCT3 fills alpha too; a disabled alpha operation passes it on.
        if (dot)
            append(g, "    float a%d = dp3;\n", stage);
        else if (k.alphaOp == D3DTOP_DISABLE)
            append(g, "    float a%d = current.a;\n", stage);
        else if (k.alphaOp == D3DTOP_DOTPRODUCT3)
            append(g, "    float a%d = clamp(dot((%s - 0.5) * 2.0, (%s - 0.5) * 2.0), 0.0, 1.0);\n", stage,
                   argument(k.alphaArg[1] | D3DTA_ALPHAREPLICATE, stage, false).c_str(),
                   argument(k.alphaArg[2] | D3DTA_ALPHAREPLICATE, stage, false).c_str());
        else
            append(g, "    float a%d = clamp(%s, 0.0, 1.0);\n", stage,
                   operation(k.alphaOp, alpha, stage, true).c_str());
        append(g, "    %s = vec4(c%d, a%d);\n", k.resultTemp ? "temp" : "current", stage, stage);
    }
    if (key.specular) g += "    current.rgb = clamp(current.rgb + d3d_Specular.rgb, 0.0, 1.0);\n";
    g += "    d3d_FragColor = current;\n"
         "    d3d_finish();\n"
         "}\n";
    return g;
}

std::string shaderProgram(const ShaderBody& body, const std::string& source) {
    std::string g = "#version 450 compatibility\n";
    for (const auto& [name, value] : body.defines) g += "#define " + name + " " + value + "\n";
    if (body.kind == 0) {
        g += kVertexUniforms;
        g += kVertexInterface;
        g += kVertexEnd;
        g += "layout(std140, binding = 1) uniform D3DVertexConstants { vec4 vc[256]; };\n"
             "uniform ivec4 vi[16];\n"
             "uniform bool vb[16];\n";
    } else {
        g += kPixelUniforms;
        g += kPixelInterface;
        g += kPixelEnd;
        g += "layout(std140, binding = 2) uniform D3DPixelConstants { vec4 pc[32]; };\n"
             "uniform ivec4 pi[16];\n"
             "uniform bool pb[16];\n";
    }
    // The text's main runs inside ours, which adds what Direct3D does after
    // the shader (pixel centres, clip distances; alpha test and fog).
    g += "#define main d3d_main\n#line 1\n";
    g += source;
    g += "\n#undef main\n";
    g += body.kind == 0 ? "void main() {\n    d3d_main();\n    d3d_finish(gl_Position);\n}\n"
                        : "void main() {\n    d3d_main();\n    d3d_finish();\n}\n";
    return g;
}

}  // namespace platform::d3d9
