// The fixed-function pipeline as GLSL: the device state a draw depends on
// becomes a vertex key and a pixel key; each key gives one generated
// program text, which the GL backend compiles once and caches by key.
// The generated texts and the prelude of our own shader sources share one
// interface (inputs at fixed locations, the d3d_* values passed between the
// stages, and the fixed-state uniform blocks), so a shader of ours pairs with
// the generated other half.
#pragma once

#include "platform/d3d9/DeviceLocal.h"

#include <cstdint>
#include <string>

namespace platform::d3d9 {

// Attribute locations of the declaration usages (fixed: the preludes name them).
enum AttributeLocation : std::uint8_t {
    kAttribPosition = 0,
    kAttribBlendWeight = 1,
    kAttribBlendIndices = 2,
    kAttribNormal = 3,
    kAttribColor0 = 4,
    kAttribColor1 = 5,
    kAttribTexCoord0 = 6,  // to 13
    kAttribTangent = 14,
    kAttribBinormal = 15,
    kAttribNone = 0xFF,
};
// The location an element feeds, or kAttribNone for one we do not pass.
std::uint8_t attributeLocation(const D3DVERTEXELEMENT9& element);

// What the generated vertex program depends on. Bytes only, so that the
// struct itself is the cache key.
struct VertexKey {
    std::uint8_t positionT = 0;    // pretransformed (POSITIONT) vertices
    std::uint8_t hasNormal = 0;
    std::uint8_t hasColor[2] = {};
    std::uint8_t texDims[8] = {};  // components of each coordinate set (0: absent)
    std::uint8_t lighting = 0;
    std::uint8_t lightType[8] = {};  // D3DLIGHTTYPE of the enabled lights, 0 for off
    // Resolved material sources: D3DMCS_MATERIAL, COLOR1 or COLOR2.
    std::uint8_t diffuseSource = 0, ambientSource = 0, specularSource = 0, emissiveSource = 0;
    std::uint8_t specular = 0, localViewer = 0, normalize = 0;
    std::uint8_t fogMode = 0;  // D3DFOG_*, 0 without fog
    std::uint8_t rangeFog = 0;
    std::uint8_t coordIndex[8] = {};  // D3DTSS_TEXCOORDINDEX >> 16 << 4 | set
    std::uint8_t transform[8] = {};   // count | 0x80 when projected
};

struct StageKey {
    std::uint8_t colorOp = 0, colorArg[3] = {}, alphaOp = 0, alphaArg[3] = {};
    std::uint8_t resultTemp = 0;
    std::uint8_t texture = 0;    // 0 none, 1 2D, 2 cube
    std::uint8_t projected = 0;  // divide by this component (1 to 4), 0 not
};

struct PixelKey {
    std::uint8_t stageCount = 0;
    StageKey stages[kMaxFixedStages];
    std::uint8_t specular = 0;
};

// The std140 uniform blocks of the fixed state: D3DFixedVertex (binding 0)
// for vertex programs, D3DFixedPixel (binding 3) for pixel programs. Kept
// apart so a draw that changes a matrix leaves the pixel stage's
// constants alone (llvmpipe copies a changed block for every draw).
struct VertexUniforms {
    float worldView[16], projection[16], worldViewProjection[16], world[16];
    float textureMatrix[8][16];
    float lightDiffuse[8][4], lightSpecular[8][4], lightAmbient[8][4];
    float lightPosition[8][4], lightDirection[8][4];
    float lightAttenuation[8][4];  // a0, a1, a2, range
    float lightSpot[8][4];         // cos(theta / 2), cos(phi / 2), falloff
    float materialDiffuse[4], materialAmbient[4], materialSpecular[4], materialEmissive[4];
    float ambient[4];
    float fogParameters[4];  // start, end, density, material power
    float clipPlane[6][4];
    float viewport[4];  // x, y, width, height
};

struct PixelUniforms {
    float textureFactor[4];
    float stageConstant[8][4];
    float fogColor[4];
    // Alpha reference (0..255), D3DCMP_* (ALWAYS when the test is off),
    // 1 when fog is on, 1 when the target is alpha-only (see below).
    float output[4];
};

// An A8 target lives in GL's red channel (sampled through a swizzle that
// moves red to alpha): what Direct3D writes into its alpha, clears,
// draws, colour masks and blends included, goes to red there.
inline bool alphaOnlyTarget(const SurfaceImpl* target) { return target && target->desc.Format == D3DFMT_A8; }

VertexKey vertexKey(const DeviceState& state);
PixelKey pixelKey(const DeviceState& state);
void fixedUniforms(const DeviceState& state, VertexUniforms& vertex, PixelUniforms& pixel);

// Whole program texts (version line included).
std::string vertexProgram(const VertexKey& key);
std::string pixelProgram(const PixelKey& key);
// Our shader source with its version line, defines, prelude and (pixel
// programs) the alpha test and fog after main.
std::string shaderProgram(const ShaderBody& body, const std::string& source);

}  // namespace platform::d3d9
