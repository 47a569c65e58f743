#include "d3d9/TestScenes.h"

#include "platform/d3d9/ShaderBody.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace d3d9_scenes {

const D3DVERTEXELEMENT9 kVertexElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
    {0, 28, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

SceneContext::~SceneContext() {
    for (IUnknown* object : objects_) object->Release();
}

bool SceneContext::draw(const std::vector<Vertex>& vertices, D3DPRIMITIVETYPE type) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    const UINT bytes = UINT(vertices.size() * sizeof(Vertex));
    if (FAILED(device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &buffer, nullptr)))
        return false;
    void* data = nullptr;
    if (SUCCEEDED(buffer->Lock(0, 0, &data, 0))) {
        std::memcpy(data, vertices.data(), bytes);
        buffer->Unlock();
    }
    device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
    const UINT primitives = type == D3DPT_TRIANGLELIST ? UINT(vertices.size() / 3) : UINT(vertices.size() - 2);
    const HRESULT hr = device->DrawPrimitive(type, 0, primitives);
    buffer->Release();
    return SUCCEEDED(hr);
}

IDirect3DTexture9* SceneContext::texture(UINT width, UINT height, D3DFORMAT format,
                                         const std::vector<std::uint8_t>& texels) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(device->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, &t, nullptr))) return nullptr;
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(t->LockRect(0, &locked, nullptr, 0))) {
        std::memcpy(locked.pBits, texels.data(), texels.size());
        t->UnlockRect(0);
    }
    keep(t);
    return t;
}

IDirect3DTexture9* SceneContext::solidTexture(D3DCOLOR color) {
    std::vector<std::uint8_t> texels;
    for (int i = 0; i < 16; ++i)
        for (int b = 0; b < 4; ++b) texels.push_back(std::uint8_t(color >> (8 * b)));
    return texture(4, 4, D3DFMT_A8R8G8B8, texels);
}

void SceneContext::diffuseOnly() {
    stage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    stage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    stage(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    stage(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
}

std::vector<Vertex> quad(float x0, float y0, float x1, float y1, float z, D3DCOLOR color) {
    const Vertex tl{x0, y1, z, 0, 0, -1, color, 0, 0}, tr{x1, y1, z, 0, 0, -1, color, 1, 0};
    const Vertex br{x1, y0, z, 0, 0, -1, color, 1, 1}, bl{x0, y0, z, 0, 0, -1, color, 0, 1};
    return {tl, tr, br, tl, br, bl};
}

const std::vector<StageCase>& stageCases() {
    // Texture (128, 64, 32, alpha 64), diffuse (128, 128, 128, alpha 255),
    // factor (255, 0, 0, alpha 192).
    static const std::vector<StageCase> cases = {
        {"MODULATE", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, {64, 32, 16}},
        {"MODULATE2X", D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, {128, 64, 32}},
        {"MODULATE4X", D3DTOP_MODULATE4X, D3DTA_TEXTURE, D3DTA_DIFFUSE, {255, 128, 64}},
        {"ADD", D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE, {255, 192, 160}},
        {"ADDSIGNED", D3DTOP_ADDSIGNED, D3DTA_TEXTURE, D3DTA_DIFFUSE, {128, 64, 32}},
        {"SUBTRACT", D3DTOP_SUBTRACT, D3DTA_DIFFUSE, D3DTA_TEXTURE, {0, 64, 96}},
        {"SELECTARG1", D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, {128, 64, 32}},
        {"SELECTARG2 of TFACTOR", D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_TFACTOR, {255, 0, 0}},
        {"BLENDFACTORALPHA", D3DTOP_BLENDFACTORALPHA, D3DTA_TFACTOR, D3DTA_DIFFUSE, {224, 32, 32}},
        {"BLENDTEXTUREALPHA", D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_DIFFUSE, {128, 112, 104}},
        {"BLENDDIFFUSEALPHA", D3DTOP_BLENDDIFFUSEALPHA, D3DTA_TEXTURE, D3DTA_TFACTOR, {128, 64, 32}},
        {"complement", D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_DIFFUSE, {127, 191, 223}},
        {"alpha replicate", D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_DIFFUSE, {64, 64, 64}},
        // The factor's signed components (1, -1, -1) dot themselves: 3, clamped to 1.
        {"DOTPRODUCT3", D3DTOP_DOTPRODUCT3, D3DTA_TFACTOR, D3DTA_TFACTOR, {255, 255, 255}},
    };
    return cases;
}

namespace {

bool texturedQuad(SceneContext& c) {
    // 4 x 4 texels: left half red, right half blue, bottom row green.
    std::vector<std::uint8_t> texels;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const D3DCOLOR color = y == 3 ? 0xFF00FF00u : x < 2 ? 0xFFFF0000u : 0xFF0000FFu;
            for (int b = 0; b < 4; ++b) texels.push_back(std::uint8_t(color >> (8 * b)));
        }
    c.device->SetTexture(0, c.texture(4, 4, D3DFMT_A8R8G8B8, texels));
    return c.draw(quad(-1, -1, 1, 1, 0.5f, 0xFF808080u));
}

bool stageOperations(SceneContext& c) {
    c.device->SetTexture(0, c.solidTexture(0x40804020u));
    c.device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xC0FF0000u);
    const auto& cases = stageCases();
    const float width = 2.0f / float(cases.size());
    float x = -1.0f;
    bool ok = true;
    for (const StageCase& stageCase : cases) {
        c.stage(0, D3DTSS_COLOROP, stageCase.colorOp);
        c.stage(0, D3DTSS_COLORARG1, stageCase.arg1);
        c.stage(0, D3DTSS_COLORARG2, stageCase.arg2);
        ok = c.draw(quad(x, -1, x + width, 1, 0.5f, 0xFF808080u)) && ok;
        x += width;
    }
    return ok;
}

bool tempResult(SceneContext& c) {
    // Stage 0 puts the texture into TEMP; stage 1 selects diffuse, stage 2
    // adds TEMP to it; stage 3 modulates by its constant.
    c.device->SetTexture(0, c.solidTexture(0xFF400000u));
    c.stage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    c.stage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    c.stage(0, D3DTSS_RESULTARG, D3DTA_TEMP);
    c.stage(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    c.stage(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    c.stage(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    c.stage(1, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    c.stage(2, D3DTSS_COLOROP, D3DTOP_ADD);
    c.stage(2, D3DTSS_COLORARG1, D3DTA_CURRENT);
    c.stage(2, D3DTSS_COLORARG2, D3DTA_TEMP);
    c.stage(2, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    c.stage(2, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    c.stage(3, D3DTSS_COLOROP, D3DTOP_MODULATE);
    c.stage(3, D3DTSS_COLORARG1, D3DTA_CURRENT);
    c.stage(3, D3DTSS_COLORARG2, D3DTA_CONSTANT);
    c.stage(3, D3DTSS_CONSTANT, 0xFF80FF80u);
    c.stage(3, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    c.stage(3, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    return c.draw(quad(-1, -1, 1, 1, 0.5f, 0xFF004080u));
}

// A white 16 x 16 grid of quads over the left half, facing the camera
// (lighting is computed at its vertices).
std::vector<Vertex> leftGrid() {
    std::vector<Vertex> grid;
    const int n = 16;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const float x0 = -1 + 1.0f * i / n, x1 = -1 + 1.0f * (i + 1) / n;
            const float y0 = -1 + 2.0f * j / n, y1 = -1 + 2.0f * (j + 1) / n;
            for (const Vertex& v : quad(x0, y0, x1, y1, 0.5f, 0xFFFFFFFFu)) grid.push_back(v);
        }
    return grid;
}

// Lighting on, with a white material (specular too).
void whiteMaterial(SceneContext& c) {
    c.device->SetRenderState(D3DRS_LIGHTING, TRUE);
    c.device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    c.device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    D3DMATERIAL9 material{};
    material.Diffuse = {1, 1, 1, 1};
    material.Specular = {1, 1, 1, 1};
    material.Power = 1;
    c.device->SetMaterial(&material);
}

// Enables a directional light shining along +z (onto the quads, which face -z).
void headOnLight(SceneContext& c, DWORD index, D3DCOLORVALUE diffuse, D3DCOLORVALUE specular) {
    D3DLIGHT9 sun{};
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = diffuse;
    sun.Specular = specular;
    sun.Direction = {0, 0, 1};
    c.device->SetLight(index, &sun);
    c.device->LightEnable(index, TRUE);
}

bool lights(SceneContext& c) {
    whiteMaterial(c);
    std::vector<Vertex> grid = leftGrid();
    // Left: a directional light of (0.5, 0.25, 0) shining along +z.
    headOnLight(c, 0, {0.5f, 0.25f, 0.0f, 1}, {});
    bool ok = c.draw(grid);
    // Right: a blue point light in front of the top right corner.
    c.device->LightEnable(0, FALSE);
    D3DLIGHT9 lamp{};
    lamp.Type = D3DLIGHT_POINT;
    lamp.Diffuse = {0, 0, 1, 1};
    lamp.Position = {1.0f, 1.0f, 0.3f};
    lamp.Range = 10;
    lamp.Attenuation0 = 1;
    c.device->SetLight(1, &lamp);
    c.device->LightEnable(1, TRUE);
    for (auto& v : grid) v.x += 1.0f;
    return c.draw(grid) && ok;
}

void setFloat(IDirect3DDevice9* device, D3DRENDERSTATETYPE state, float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    device->SetRenderState(state, bits);
}

bool linearFog(SceneContext& c) {
    // Red fog from depth 0 to 1 over white quads at 0.25 and 0.75.
    c.device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    c.device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    c.device->SetRenderState(D3DRS_FOGCOLOR, 0xFFFF0000u);
    setFloat(c.device, D3DRS_FOGSTART, 0.0f);
    setFloat(c.device, D3DRS_FOGEND, 1.0f);
    return c.draw(quad(-1, -1, 0, 1, 0.25f, 0xFFFFFFFFu)) && c.draw(quad(0, -1, 1, 1, 0.75f, 0xFFFFFFFFu));
}

bool expFogAndColourSource(SceneContext& c) {
    // Left: white under red EXP fog of density 1 at depth 0.5 (factor
    // e^-0.5). Right: a white light head on, the diffuse colour taken from
    // the vertex (the default COLOR1 source).
    c.device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    c.device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_EXP);
    c.device->SetRenderState(D3DRS_FOGCOLOR, 0xFFFF0000u);
    setFloat(c.device, D3DRS_FOGDENSITY, 1.0f);
    bool ok = c.draw(quad(-1, -1, 0, 1, 0.5f, 0xFFFFFFFFu));
    c.device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    c.device->SetRenderState(D3DRS_LIGHTING, TRUE);
    headOnLight(c, 0, {1, 1, 1, 1}, {});
    return c.draw(quad(0, -1, 1, 1, 0.5f, 0xFF0080FFu)) && ok;
}

bool alphaTest(SceneContext& c) {
    // Alpha 127 and 128 against the reference 128: GREATEREQUAL, then LESS.
    c.device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    c.device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    c.device->SetRenderState(D3DRS_ALPHAREF, 0x80);
    c.diffuseOnly();
    bool ok = c.draw(quad(-1, -1, -0.5f, 1, 0.5f, 0x7FFFFFFFu)) && c.draw(quad(-0.5f, -1, 0, 1, 0.5f, 0x80FFFFFFu));
    c.device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_LESS);
    return c.draw(quad(0, -1, 0.5f, 1, 0.5f, 0x7F00FF00u)) && c.draw(quad(0.5f, -1, 1, 1, 0.5f, 0x8000FF00u)) && ok;
}

bool alphaBlending(SceneContext& c) {
    // Half-transparent red over blue on the left; blue taken away on the right.
    c.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FFu, 1.0f, 0);
    c.device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    c.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    c.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    c.diffuseOnly();
    const bool ok = c.draw(quad(-1, -1, 0, 1, 0.5f, 0x80FF0000u));
    c.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    c.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    c.device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_REVSUBTRACT);
    return c.draw(quad(0, -1, 1, 1, 0.5f, 0xFF000040u)) && ok;
}

bool depthOrder(SceneContext& c) {
    // Left: near green first; right: far red first. Then a blue band that
    // passes only where it is farther (GREATER).
    c.diffuseOnly();
    bool ok = c.draw(quad(-1, -1, 0, 1, 0.2f, 0xFF00FF00u)) && c.draw(quad(-1, -1, 0, 1, 0.8f, 0xFFFF0000u));
    ok = c.draw(quad(0, -1, 1, 1, 0.8f, 0xFFFF0000u)) && c.draw(quad(0, -1, 1, 1, 0.2f, 0xFF00FF00u)) && ok;
    c.device->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    return c.draw(quad(-1, -1, 1, -0.5f, 0.9f, 0xFF0000FFu)) && ok;
}

bool culling(SceneContext& c) {
    // White: a clockwise quad (left) and a counter-clockwise one (right)
    // under the default CULL_CCW; red: both again, nearer, under CULL_CW.
    c.diffuseOnly();
    std::vector<Vertex> clockwise = quad(-1, -1, 0, 1, 0.5f, 0xFFFFFFFFu);
    std::vector<Vertex> counter = quad(0, -1, 1, 1, 0.5f, 0xFFFFFFFFu);
    std::swap(counter[1], counter[2]);
    std::swap(counter[4], counter[5]);
    bool ok = c.draw(clockwise) && c.draw(counter);
    c.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    for (auto* part : {&clockwise, &counter})
        for (auto& v : *part) v.color = 0xFFFF0000u, v.z = 0.1f;
    return c.draw(clockwise) && c.draw(counter) && ok;
}

bool clipPlane(SceneContext& c) {
    // Keeps world x >= 0.5; the world matrix moves the quad onto the target.
    c.diffuseOnly();
    const float plane[4] = {1, 0, 0, -0.5f};
    c.device->SetClipPlane(0, plane);
    c.device->SetRenderState(D3DRS_CLIPPLANEENABLE, 1);
    const D3DMATRIX world{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0.5f, 0, 0, 1}}};
    c.device->SetTransform(D3DTS_WORLD, &world);
    return c.draw(quad(-1.5f, -1, 0.5f, 1, 0.5f, 0xFFFFFFFFu));
}

bool luminanceAndDxt1(SceneContext& c) {
    // Left: L8 of 0x40; right: one DXT1 block of colour 0 red, colour 1
    // blue, every index 0.
    c.stage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    c.stage(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    c.device->SetTexture(0, c.texture(4, 4, D3DFMT_L8, std::vector<std::uint8_t>(16, 0x40)));
    const bool ok = c.draw(quad(-1, -1, 0, 1, 0.5f, 0xFFFFFFFFu));
    c.device->SetTexture(0, c.texture(4, 4, D3DFMT_DXT1, {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0}));
    return c.draw(quad(0, -1, 1, 1, 0.5f, 0xFFFFFFFFu)) && ok;
}

bool renderTarget(SceneContext& c) {
    // A 16 x 16 target: green, its top half yellow. Stretched into the
    // right half of the back buffer, and drawn as a texture on the left.
    IDirect3DTexture9* target = nullptr;
    if (FAILED(c.device->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target,
                                       nullptr)))
        return false;
    c.keep(target);
    IDirect3DSurface9 *surface = nullptr, *back = nullptr, *depth = nullptr;
    target->GetSurfaceLevel(0, &surface);
    c.device->GetRenderTarget(0, &back);
    c.device->GetDepthStencilSurface(&depth);
    c.device->SetRenderTarget(0, surface);
    c.device->SetDepthStencilSurface(nullptr);
    c.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00u, 1.0f, 0);
    c.diffuseOnly();
    bool ok = c.draw(quad(-1, 0, 1, 1, 0.5f, 0xFFFFFF00u));
    c.device->EndScene();
    c.device->SetRenderTarget(0, back);
    c.device->SetDepthStencilSurface(depth);
    const RECT right{32, 0, 64, 64};
    ok = SUCCEEDED(c.device->StretchRect(surface, nullptr, back, &right, D3DTEXF_POINT)) && ok;
    c.device->BeginScene();
    c.device->SetTexture(0, target);
    c.stage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    ok = c.draw(quad(-1, -1, 0, 1, 0.5f, 0xFFFFFFFFu)) && ok;
    surface->Release();
    back->Release();
    if (depth) depth->Release();
    return ok;
}

bool screenshotColours(SceneContext& c) {
    // A known background and a bottom-left quarter of (192, 128, 64).
    c.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030u, 1.0f, 0);
    c.diffuseOnly();
    return c.draw(quad(-1, -1, 0, 0, 0.5f, 0xFFC08040u));
}

std::vector<std::uint8_t> shaderCode(std::uint8_t kind, std::int32_t source) {
    platform::d3d9::ShaderBody body;
    body.kind = kind;
    body.profile = kind == 0 ? "vs_2_0" : "ps_2_0";
    body.entryPoint = "main";
    body.sourceId = source;
    body.defines = {{"SCALE", "0.5"}};
    return platform::d3d9::writeShaderBody(body);
}

bool shaders(SceneContext& c) {
    // A vertex shader scaling by its define and constant 4, a pixel shader
    // tinting by constant 2: an orange middle; then the vertex shader with
    // the fixed pixel stages: a blue strip on the left edge.
    platform::d3d9::registerShaderSource(9001, R"(
void main() {
    gl_Position = vec4(d3d_Position.xy * SCALE, d3d_Position.z, 1.0) * vc[4].x;
    d3d_Diffuse = d3d_Color0;
    d3d_Texture[0] = d3d_TexCoord0;
})");
    platform::d3d9::registerShaderSource(9002, "void main() { d3d_FragColor = d3d_Diffuse * pc[2]; }");
    IDirect3DVertexShader9* vs = nullptr;
    IDirect3DPixelShader9* ps = nullptr;
    const auto vertexCode = shaderCode(0, 9001), pixelCode = shaderCode(1, 9002);
    if (FAILED(c.device->CreateVertexShader(reinterpret_cast<const DWORD*>(vertexCode.data()), &vs))) return false;
    c.keep(vs);
    if (FAILED(c.device->CreatePixelShader(reinterpret_cast<const DWORD*>(pixelCode.data()), &ps))) return false;
    c.keep(ps);
    const float one[4] = {1, 1, 1, 1}, orange[4] = {1, 0.5f, 0, 1};
    c.device->SetVertexShaderConstantF(4, one, 1);
    c.device->SetPixelShaderConstantF(2, orange, 1);
    c.device->SetVertexShader(vs);
    c.device->SetPixelShader(ps);
    bool ok = c.draw(quad(-1, -1, 1, 1, 0.5f, 0xFFFFFFFFu));
    c.device->SetPixelShader(nullptr);
    c.diffuseOnly();
    ok = c.draw(quad(-2, -2, -1.5f, 2, 0.5f, 0xFF0000FFu)) && ok;
    c.device->SetVertexShader(nullptr);
    return ok;
}


bool indexedDynamic(SceneContext& c) {
    // A dynamic vertex buffer and 16-bit indices: quad 1 from a discarding
    // lock, quad 2 appended without overwriting (base vertex 4), then the
    // buffer discarded and refilled for quad 3 (it must not change 1 or 2).
    c.diffuseOnly();
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DIndexBuffer9* indices = nullptr;
    if (FAILED(c.device->CreateVertexBuffer(8 * sizeof(Vertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                            D3DPOOL_DEFAULT, &vertices, nullptr)) ||
        FAILED(c.device->CreateIndexBuffer(6 * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices,
                                           nullptr)))
        return false;
    c.keep(vertices);
    c.keep(indices);
    void* data = nullptr;
    const WORD order[6] = {0, 1, 3, 0, 3, 2};
    if (FAILED(indices->Lock(0, 0, &data, 0))) return false;
    std::memcpy(data, order, sizeof order);
    indices->Unlock();
    auto corners = [](float x0, float x1, D3DCOLOR color) {
        const std::vector<Vertex> q = quad(x0, -1, x1, 1, 0.5f, color);
        return std::vector<Vertex>{q[0], q[1], q[5], q[2]};  // tl, tr, bl, br
    };
    auto fill = [&](UINT first, const std::vector<Vertex>& four, DWORD flags) {
        void* at = nullptr;
        if (FAILED(vertices->Lock(first * sizeof(Vertex), 4 * sizeof(Vertex), &at, flags))) return false;
        std::memcpy(at, four.data(), 4 * sizeof(Vertex));
        return SUCCEEDED(vertices->Unlock());
    };
    c.device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
    c.device->SetIndices(indices);
    bool ok = fill(0, corners(-1, -0.5f, 0xFFFF0000u), D3DLOCK_DISCARD);
    ok = SUCCEEDED(c.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2)) && ok;
    ok = fill(4, corners(-0.5f, 0, 0xFF00FF00u), D3DLOCK_NOOVERWRITE) && ok;
    ok = SUCCEEDED(c.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2)) && ok;
    ok = fill(0, corners(0, 1, 0xFF0000FFu), D3DLOCK_DISCARD) && ok;
    return SUCCEEDED(c.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2)) && ok;
}

bool dynamicWindows(SceneContext& c) {
    // Eight quads side by side, each from a discarding lock of a dynamic
    // vertex buffer and of a dynamic index buffer, drawn before the next
    // discard: every quad must keep its own vertices and indices, whether a
    // discard moved the buffer on within its store or gave it a new one.
    c.diffuseOnly();
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DIndexBuffer9* indices = nullptr;
    if (FAILED(c.device->CreateVertexBuffer(64 * sizeof(Vertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                            D3DPOOL_DEFAULT, &vertices, nullptr)) ||
        FAILED(c.device->CreateIndexBuffer(1024 * 2, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                           D3DPOOL_DEFAULT, &indices, nullptr)))
        return false;
    c.keep(vertices);
    c.keep(indices);
    c.device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
    c.device->SetIndices(indices);
    bool ok = true;
    for (int i = 0; i < 8; ++i) {
        const float x0 = -1 + i * 0.25f;
        const D3DCOLOR color = (i % 2) ? 0xFF00FF00u : 0xFFFF0000u;
        const std::vector<Vertex> q = quad(x0, -1, x0 + 0.25f, 1, 0.5f, color);
        const Vertex four[4] = {q[0], q[1], q[5], q[2]};  // tl, tr, bl, br
        // Quads after the first start their indices at a later entry, so
        // that the index offset counts too.
        const WORD first = WORD(i % 3);
        WORD order[9] = {};
        const WORD turn[6] = {0, 1, 3, 0, 3, 2};
        for (int k = 0; k < 6; ++k) order[first + k] = turn[k];
        void* at = nullptr;
        ok = SUCCEEDED(vertices->Lock(0, sizeof four, &at, D3DLOCK_DISCARD)) && ok;
        if (at) std::memcpy(at, four, sizeof four);
        ok = SUCCEEDED(vertices->Unlock()) && ok;
        at = nullptr;
        ok = SUCCEEDED(indices->Lock(0, sizeof order, &at, D3DLOCK_DISCARD)) && ok;
        if (at) std::memcpy(at, order, sizeof order);
        ok = SUCCEEDED(indices->Unlock()) && ok;
        ok = SUCCEEDED(c.device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, first, 2)) && ok;
    }
    return ok;
}

bool pretransformed(SceneContext& c) {
    // Screen-space vertices (pixel centres on integers) in the right half's
    // viewport: a quad over pixels 40 to 47 and one reaching left of the
    // viewport, which ends at its edge (pixel 32).
    struct Screen {
        float x, y, z, rhw;
        D3DCOLOR color;
    };
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_POSITIONT, 0},
                                          {0, 16, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
                                          D3DDECL_END()};
    IDirect3DVertexDeclaration9* declaration = nullptr;
    if (FAILED(c.device->CreateVertexDeclaration(elements, &declaration))) return false;
    c.keep(declaration);
    c.device->SetVertexDeclaration(declaration);
    const D3DVIEWPORT9 right{32, 0, 32, 64, 0, 1};
    c.device->SetViewport(&right);
    c.diffuseOnly();
    auto rect = [](float x0, float y0, float x1, float y1, D3DCOLOR color) {
        const Screen tl{x0 - 0.5f, y0 - 0.5f, 0.5f, 1, color}, tr{x1 - 0.5f, y0 - 0.5f, 0.5f, 1, color};
        const Screen br{x1 - 0.5f, y1 - 0.5f, 0.5f, 1, color}, bl{x0 - 0.5f, y1 - 0.5f, 0.5f, 1, color};
        return std::vector<Screen>{tl, tr, br, tl, br, bl};
    };
    bool ok = true;
    for (const auto& shape : {rect(40, 8, 48, 16, 0xFFFFFFFFu), rect(0, 40, 40, 48, 0xFFFF0000u)}) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        if (FAILED(c.device->CreateVertexBuffer(UINT(shape.size() * sizeof(Screen)), D3DUSAGE_WRITEONLY, 0,
                                                D3DPOOL_MANAGED, &buffer, nullptr)))
            return false;
        void* data = nullptr;
        buffer->Lock(0, 0, &data, 0);
        std::memcpy(data, shape.data(), shape.size() * sizeof(Screen));
        buffer->Unlock();
        c.device->SetStreamSource(0, buffer, 0, sizeof(Screen));
        ok = SUCCEEDED(c.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2)) && ok;
        buffer->Release();
    }
    return ok;
}

bool stencilAndMask(SceneContext& c) {
    // The middle band writes stencil 1 without colour; a white quad over all
    // then passes only where the stencil is 1. A quad on the bottom rows
    // writes only green.
    c.diffuseOnly();
    c.device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0);
    c.device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    c.device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    c.device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    c.device->SetRenderState(D3DRS_STENCILREF, 1);
    c.device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    c.device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    bool ok = c.draw(quad(-0.5f, -1, 0.5f, 1, 0.5f, 0xFFFF0000u));
    c.device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    c.device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    c.device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    ok = c.draw(quad(-1, -0.5f, 1, 1, 0.5f, 0xFFFFFFFFu)) && ok;
    c.device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    c.device->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_GREEN);
    return c.draw(quad(-1, -1, 1, -0.5f, 0.5f, 0xFFFFFFFFu)) && ok;
}

bool spotAndSpecular(SceneContext& c) {
    // Left: a narrow red spot light at the middle of the left half, from
    // in front; right: a red directional light with a green specular part
    // (material power 1), head on: diffuse plus specular is yellow.
    whiteMaterial(c);
    const std::vector<Vertex> grid = leftGrid();
    D3DLIGHT9 spot{};
    spot.Type = D3DLIGHT_SPOT;
    spot.Diffuse = {1, 0, 0, 1};
    spot.Position = {-0.5f, 0, -1};
    spot.Direction = {0, 0, 1};
    spot.Range = 100;
    spot.Attenuation0 = 1;
    spot.Theta = 0.2f;
    spot.Phi = 0.4f;
    spot.Falloff = 1;
    c.device->SetLight(0, &spot);
    c.device->LightEnable(0, TRUE);
    bool ok = c.draw(grid);
    c.device->LightEnable(0, FALSE);
    headOnLight(c, 1, {1, 0, 0, 1}, {0, 1, 0, 1});
    c.device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    c.device->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
    return c.draw(quad(0, -1, 1, 1, 0.5f, 0xFFFFFFFFu)) && ok;
}

bool textureCoordinates(SceneContext& c) {
    // Left: a texture transform that takes the texture's left half (red)
    // over the whole quad. Middle: a cube map sampled by the camera-space
    // normal (toward -z: the negative Z face, blue). Right: two levels,
    // red 8 x 8 and green 4 x 4, minified onto a 4-pixel-wide quad: level 1
    // with a mip filter.
    std::vector<std::uint8_t> halves;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const D3DCOLOR color = x < 2 ? 0xFFFF0000u : 0xFF00FF00u;
            for (int b = 0; b < 4; ++b) halves.push_back(std::uint8_t(color >> (8 * b)));
        }
    c.device->SetTexture(0, c.texture(4, 4, D3DFMT_A8R8G8B8, halves));
    c.stage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    c.stage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    c.stage(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    const D3DMATRIX half{{{0.5f, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    c.device->SetTransform(D3DTS_TEXTURE0, &half);
    bool ok = c.draw(quad(-1, -1, -0.34f, 1, 0.5f, 0xFFFFFFFFu));
    c.stage(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);

    IDirect3DCubeTexture9* cube = nullptr;
    if (FAILED(c.device->CreateCubeTexture(4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr))) return false;
    c.keep(cube);
    const D3DCOLOR faces[6] = {0xFF400000u, 0xFF004000u, 0xFF000040u, 0xFF404000u, 0xFF004040u, 0xFF0000FFu};
    for (UINT face = 0; face < 6; ++face) {
        D3DLOCKED_RECT locked{};
        if (FAILED(cube->LockRect(D3DCUBEMAP_FACES(face), 0, &locked, nullptr, 0))) return false;
        for (int i = 0; i < 16; ++i) std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + i * 4, &faces[face], 4);
        cube->UnlockRect(D3DCUBEMAP_FACES(face), 0);
    }
    c.device->SetTexture(0, cube);
    c.stage(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    ok = c.draw(quad(-0.34f, -1, 0.34f, 1, 0.5f, 0xFFFFFFFFu)) && ok;
    c.stage(0, D3DTSS_TEXCOORDINDEX, 0);

    IDirect3DTexture9* mips = nullptr;
    if (FAILED(c.device->CreateTexture(8, 8, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &mips, nullptr))) return false;
    c.keep(mips);
    for (UINT level = 0; level < 2; ++level) {
        D3DLOCKED_RECT locked{};
        if (FAILED(mips->LockRect(level, &locked, nullptr, 0))) return false;
        const D3DCOLOR color = level == 0 ? 0xFFFF0000u : 0xFF00FF00u;
        const UINT side = 8 >> level;
        for (UINT y = 0; y < side; ++y)
            for (UINT x = 0; x < side; ++x)
                std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * UINT(locked.Pitch) + x * 4, &color, 4);
        mips->UnlockRect(level);
    }
    c.device->SetTexture(0, mips);
    c.device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    // 8 texels over 4 pixels, 4 rows high, at pixels 48 to 51.
    return c.draw(quad(0.5f, 0.75f, 0.625f, 0.875f, 0.5f, 0xFFFFFFFFu)) && ok;
}

bool scissor(SceneContext& c) {
    // A full quad held to pixels 16..39 x 8..23, a clear held to
    // 48..55 x 40..55, then a quad in the bottom-left corner with the test
    // off again.
    c.diffuseOnly();
    const RECT drawArea{16, 8, 40, 24}, clearArea{48, 40, 56, 56};
    bool ok = SUCCEEDED(c.device->SetScissorRect(&drawArea));
    c.device->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
    ok = c.draw(quad(-1, -1, 1, 1, 0.5f, 0xFFFFFFFFu)) && ok;
    ok = SUCCEEDED(c.device->SetScissorRect(&clearArea)) && ok;
    ok = SUCCEEDED(c.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000u, 1.0f, 0)) && ok;
    c.device->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
    return c.draw(quad(-1, -1, -0.5f, -0.5f, 0.5f, 0xFF0000FFu)) && ok;
}

}  // namespace

const std::vector<Scene>& scenes() {
    static const std::vector<Scene> all = {
        {"textured_quad", texturedQuad},   {"stage_operations", stageOperations},
        {"temp_result", tempResult},       {"lights", lights},
        {"linear_fog", linearFog},         {"alpha_test", alphaTest},
        {"alpha_blending", alphaBlending}, {"depth_order", depthOrder},
        {"culling", culling},              {"clip_plane", clipPlane},
        {"l8_and_dxt1", luminanceAndDxt1}, {"render_target", renderTarget},
        {"screenshot", screenshotColours}, {"shaders", shaders},
        {"indexed_dynamic", indexedDynamic}, {"dynamic_windows", dynamicWindows}, {"pretransformed", pretransformed},
        {"stencil_and_mask", stencilAndMask}, {"spot_and_specular", spotAndSpecular},
        {"texture_coordinates", textureCoordinates}, {"exp_fog_and_colour_source", expFogAndColourSource},
        {"scissor", scissor},
    };
    return all;
}

bool drawScene(IDirect3DDevice9* device, const char* name) {
    for (const Scene& scene : scenes()) {
        if (std::string(scene.name) != name) continue;
        IDirect3DVertexDeclaration9* declaration = nullptr;
        if (FAILED(device->CreateVertexDeclaration(kVertexElements, &declaration))) return false;
        SceneContext context(device);
        context.keep(declaration);
        device->SetVertexDeclaration(declaration);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        const bool ok = scene.draw(context);
        device->EndScene();
        return ok;
    }
    return false;
}

std::size_t differingPixels(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size()) return std::max(a.size(), b.size()) / 4;
    std::size_t count = 0;
    for (std::size_t i = 0; i + 3 < a.size(); i += 4)
        for (std::size_t c = 0; c < 3; ++c)
            if (std::abs(int(a[i + c]) - int(b[i + c])) > 2) {
                ++count;
                break;
            }
    return count;
}

D3DPRESENT_PARAMETERS sceneParameters() {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 64;
    p.BackBufferHeight = 64;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_COPY;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    return p;
}

}  // namespace d3d9_scenes
