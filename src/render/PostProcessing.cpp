#include "render/PostProcessing.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Log.h"
#include "platform/d3d9/ShaderBody.h"
#include "render/RenderSettings.h"
#include "render/VideoDevice.h"

namespace {

// The programs of the post-processing source, one part of the text chosen
// by a define named after the program. Constants: vertex c0-c3 the
// world-view-projection matrix; pixel c0 the colour, c1 the source's texel
// size, c2 onwards the pass's filter. Samplers: 0 the source, 1 the second
// source of the depth-of-field composite. Registered only when no other
// text was registered under the id.
const char* const kPostProcessingSource = R"(
#if defined(VS_HDR_plain)
#define mWorldViewProjection mat4(vc[0], vc[1], vc[2], vc[3])
void main() {
    gl_Position = vec4(d3d_Position.xyz, 1.0) * mWorldViewProjection;
    d3d_Diffuse = d3d_Color0;
    d3d_Texture[0] = vec4(d3d_TexCoord0.xy, 0.0, 1.0);
}
#else
#define vColorMain pc[0]
layout(binding = 0) uniform sampler2D sDiffuseMap;
layout(binding = 1) uniform sampler2D sLightMap;
vec2 uv() { return d3d_Texture[0].xy; }
vec4 source(vec2 at) { return texture(sDiffuseMap, at); }
vec4 second(vec2 at) { return texture(sLightMap, at); }
#if defined(PS_HDR_blur) || defined(PS_HDR_blursmall)
#if defined(PS_HDR_blur)
#define TAPS GaussianFilterLength
#else
#define TAPS GaussianFilterSmallLength
#endif
void main() {
    vec4 sum = vec4(0.0);
    for (int i = 0; i < TAPS; ++i) sum += source(uv() + pc[2 + i].xy) * pc[2 + i].z;
    d3d_FragColor = sum * vColorMain;
}
#endif
#if defined(PS_HDR_bright)
void main() {
    vec4 c = source(uv());
    d3d_FragColor = vec4(max(c.rgb - vec3(pc[2].x), vec3(0.0)) * pc[3].x, 1.0);
}
#endif
#if defined(PS_HDR_PoissonDOF)
void main() {
    vec4 sharp = source(uv());
    vec4 blurred = second(uv());
    for (int i = 0; i < 6; ++i) {
        blurred += second(uv() + pc[2 + i].xy * sharp.a);
        blurred += second(uv() + pc[2 + i].zw * sharp.a);
    }
    blurred /= 13.0;
    d3d_FragColor = vec4(mix(sharp.rgb, blurred.rgb, clamp(sharp.a, 0.0, 1.0)), 1.0) * vColorMain;
}
#endif
#endif
)";

const char* const kProgramNames[PostProcessing::ProgramCount] = {"PS_HDR_blur", "PS_HDR_blursmall", "PS_HDR_bright",
                                                                  "PS_HDR_PoissonDOF"};

struct QuadVertex {
    float x, y, z;
    D3DCOLOR color;
    float u, v;
};

const D3DVERTEXELEMENT9 kQuadElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
    {0, 16, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

std::vector<std::uint8_t> programBody(std::uint8_t kind, const char* entry) {
    platform::d3d9::ShaderBody body;
    body.kind = kind;
    body.profile = kind == 0 ? "vs_2_0" : "ps_2_0";
    body.entryPoint = entry;
    body.sourceId = PostProcessing::kSourceId;
    body.defines = {{entry, "1"}, {"GaussianFilterLength", "13"}, {"GaussianFilterSmallLength", "5"}};
    return platform::d3d9::writeShaderBody(body);
}

// Render states a pass sets, restored afterwards.
constexpr D3DRENDERSTATETYPE kPassStates[] = {D3DRS_ZENABLE,        D3DRS_ZWRITEENABLE,    D3DRS_CULLMODE,
                                              D3DRS_ALPHABLENDENABLE, D3DRS_ALPHATESTENABLE, D3DRS_FOGENABLE,
                                              D3DRS_LIGHTING,       D3DRS_COLORWRITEENABLE};
constexpr DWORD kPassValues[] = {FALSE, FALSE, D3DCULL_NONE, FALSE, FALSE, FALSE, FALSE, 15};

}  // namespace

bool PostProcessing::create(IDirect3DDevice9* device) {
    if (!device) return false;
    if (device_ && device_ != device) release();
    device_ = device;
    if (!platform::d3d9::shaderSource(kSourceId)) platform::d3d9::registerShaderSource(kSourceId, kPostProcessingSource);
    if (!vertexProgram_) {
        const auto code = programBody(0, "VS_HDR_plain");
        if (FAILED(device->CreateVertexShader(reinterpret_cast<const DWORD*>(code.data()), &vertexProgram_))) {
            vertexProgram_ = nullptr;
            return false;
        }
    }
    for (int i = 0; i < ProgramCount; ++i) {
        if (pixelPrograms_[i]) continue;
        const auto code = programBody(1, kProgramNames[i]);
        if (FAILED(device->CreatePixelShader(reinterpret_cast<const DWORD*>(code.data()), &pixelPrograms_[i]))) {
            pixelPrograms_[i] = nullptr;
            return false;
        }
    }
    if (!declaration_ && FAILED(device->CreateVertexDeclaration(kQuadElements, &declaration_))) {
        declaration_ = nullptr;
        return false;
    }
    if (!quad_ && FAILED(device->CreateVertexBuffer(4 * sizeof(QuadVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                                    D3DPOOL_DEFAULT, &quad_, nullptr))) {
        quad_ = nullptr;
        return false;
    }
    return true;
}

void PostProcessing::release() {
    auto drop = [](auto*& object) {
        if (object) object->Release();
        object = nullptr;
    };
    drop(vertexProgram_);
    for (auto*& program : pixelPrograms_) drop(program);
    drop(declaration_);
    drop(quad_);
    device_ = nullptr;
}

bool PostProcessing::drawPass(Program program, IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* second,
                              std::int32_t width, std::int32_t height, const float* constants, std::uint32_t count) {
    IDirect3DDevice9* device = device_;
    if (!device || !quad_ || !pixelPrograms_[program] || width <= 0 || height <= 0) return false;
    // The quad covers the target, shifted by the texel offsets (in pixels)
    // so that texels land on pixels.
    const float dx = 2.0f * renderSettings.hdrTexelOffsetX / static_cast<float>(width);
    const float dy = -2.0f * renderSettings.hdrTexelOffsetY / static_cast<float>(height);
    const QuadVertex corners[4] = {{-1.0f + dx, 1.0f + dy, 0.5f, 0xFFFFFFFFu, 0.0f, 0.0f},
                                   {1.0f + dx, 1.0f + dy, 0.5f, 0xFFFFFFFFu, 1.0f, 0.0f},
                                   {-1.0f + dx, -1.0f + dy, 0.5f, 0xFFFFFFFFu, 0.0f, 1.0f},
                                   {1.0f + dx, -1.0f + dy, 0.5f, 0xFFFFFFFFu, 1.0f, 1.0f}};
    void* data = nullptr;
    if (FAILED(quad_->Lock(0, sizeof corners, &data, D3DLOCK_DISCARD))) return false;
    std::memcpy(data, corners, sizeof corners);
    quad_->Unlock();

    DWORD saved[std::size(kPassStates)];
    for (std::size_t i = 0; i < std::size(kPassStates); ++i) {
        device->GetRenderState(kPassStates[i], &saved[i]);
        device->SetRenderState(kPassStates[i], kPassValues[i]);
    }
    for (DWORD stage = 0; stage < 2; ++stage) {
        device->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        device->SetSamplerState(stage, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(stage, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(stage, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    }
    static constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    device->SetVertexShaderConstantF(0, kIdentity, 4);
    const float texel[4] = {1.0f / static_cast<float>(width), 1.0f / static_cast<float>(height), 0.0f, 0.0f};
    device->SetPixelShaderConstantF(0, color, 1);
    device->SetPixelShaderConstantF(1, texel, 1);
    if (constants && count) device->SetPixelShaderConstantF(2, constants, count);
    device->SetTexture(0, source);
    device->SetTexture(1, second);
    device->SetVertexDeclaration(declaration_);
    device->SetStreamSource(0, quad_, 0, sizeof(QuadVertex));
    device->SetVertexShader(vertexProgram_);
    device->SetPixelShader(pixelPrograms_[program]);
    const HRESULT hr = device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetTexture(0, nullptr);
    device->SetTexture(1, nullptr);
    for (std::size_t i = 0; i < std::size(kPassStates); ++i) device->SetRenderState(kPassStates[i], saved[i]);
    if (FAILED(hr)) return engineLog().error("Post-processing pass failed: %s", d3dErrorText(hr));
    return true;
}
