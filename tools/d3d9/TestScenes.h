// Small scenes drawn through our Direct3D 9, shared by the GL backend's
// picture tests (which check regions of the result) and the smoke tool
// (which writes them as PNG images). Each scene draws into a 64 x 64
// back buffer that was cleared to black, inside BeginScene, with lighting
// off and the scene vertex declaration set; it ends the scene itself.
#pragma once

#include "platform/d3d9/D3D9.h"

#include <cstdint>
#include <vector>

namespace d3d9_scenes {

struct Vertex {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR color;
    float u, v;
};

// Position, normal, colour and one 2D coordinate set, as in Vertex.
extern const D3DVERTEXELEMENT9 kVertexElements[];

struct Rgb {
    int r, g, b;
};

// One case of the texture-stage scene: a vertical strip drawn with the
// operation and its two arguments, and the colour Direct3D gives it.
struct StageCase {
    const char* name;
    DWORD colorOp;
    DWORD arg1, arg2;
    Rgb wanted;
};
const std::vector<StageCase>& stageCases();

// What a scene draws with; releases what it created when it goes.
class SceneContext {
public:
    explicit SceneContext(IDirect3DDevice9* device) : device(device) {}
    ~SceneContext();
    SceneContext(const SceneContext&) = delete;
    SceneContext& operator=(const SceneContext&) = delete;

    // Draws the vertices from a fresh vertex buffer; false when refused.
    bool draw(const std::vector<Vertex>& vertices, D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST);
    // A texture of one level from the format's own bytes.
    IDirect3DTexture9* texture(UINT width, UINT height, D3DFORMAT format, const std::vector<std::uint8_t>& texels);
    IDirect3DTexture9* solidTexture(D3DCOLOR color);
    void stage(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
        device->SetTextureStageState(stage, type, value);
    }
    // Stage 0 shows the diffuse colour.
    void diffuseOnly();
    // Keeps object until the context goes.
    void keep(IUnknown* object) { objects_.push_back(object); }

    IDirect3DDevice9* device;

private:
    std::vector<IUnknown*> objects_;
};

// A quad over (x0, y0) to (x1, y1) in clip space (y up), clockwise on
// screen, texture coordinates 0 to 1 from the top left, facing -z.
std::vector<Vertex> quad(float x0, float y0, float x1, float y1, float z, D3DCOLOR color);

struct Scene {
    const char* name;
    // False when a call was refused.
    bool (*draw)(SceneContext& context);
};
const std::vector<Scene>& scenes();

// Prepares the device as the scenes expect and draws the named scene;
// false for an unknown name or a refused call.
bool drawScene(IDirect3DDevice9* device, const char* name);

// A windowed 64 x 64 X8R8G8B8 device with a D24S8 depth buffer.
D3DPRESENT_PARAMETERS sceneParameters();

// How many pixels of two BGRA pictures differ by more than 2 in a colour
// channel (every pixel of the larger when their sizes differ).
std::size_t differingPixels(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace d3d9_scenes
