// The dome every sky draws: rings of vertices from the horizon up to the
// zenith on a sphere around the eye, its texture coordinates jittered by the
// engine's random generator, indexed as a triangle list of 16-bit indices.
#pragma once

#include <cstdint>
#include <vector>

class IniFile;
struct IDirect3DDevice9;
struct IDirect3DVertexBuffer9;
struct IDirect3DIndexBuffer9;

// Section "sky".
struct SkyDomeSettings {
    std::int32_t hSegments = 30;  // rings, from the horizon to the zenith
    std::int32_t wSegments = 20;  // vertices on each ring
    float radius = 2000.0f;
    float height = 200.0f;     // of the cap above its lowest ring
    float eyeHeight = 200.0f;  // the dome is lowered by radius - eyeHeight
    float noise = 0.1f;        // texture jitter, a fraction of the angular step
};

extern SkyDomeSettings skyDomeSettings;

// Reads the six keys. Segment counts are kept at 2 or more (the steps
// divide by one less) and at most 255 (w x h stays within the 16-bit
// indices); a count moved into that range is logged.
void readSkyDomeSettings(IniFile& settings);

struct SkyDomeVertex {
    float x, y, z;
    float u, v;
};

class SkyDome {
public:
    SkyDome() = default;
    ~SkyDome() { releaseBuffers(); }
    SkyDome(const SkyDome&) = delete;
    SkyDome& operator=(const SkyDome&) = delete;

    // Builds the vertices and indices from the settings. True.
    bool build(const SkyDomeSettings& settings = skyDomeSettings);

    // The device's vertex and index buffers of the built dome: true when
    // ready; false without a device or when one cannot be made (logged),
    // none kept then. Made again after each device reset.
    bool createBuffers(IDirect3DDevice9* device);
    // Before a device reset and at release.
    void releaseBuffers();
    bool buffersReady() const { return ready_; }
    // Draws the dome as an indexed triangle list through the render core's
    // state cache, with the shader core's pass state and current programs
    // that the caller set; false without buffers or a render core, or when
    // the device refuses.
    bool draw();

    std::int32_t vertexCount() const { return static_cast<std::int32_t>(vertices.size()); }
    std::int32_t triangleCount() const { return static_cast<std::int32_t>(indices.size() / 3); }

    std::vector<SkyDomeVertex> vertices;
    std::vector<std::uint16_t> indices;

private:
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DVertexBuffer9* vertexBuffer_ = nullptr;
    IDirect3DIndexBuffer9* indexBuffer_ = nullptr;
    bool ready_ = false;
};
