// The post-processing passes' device objects: the screen-quad vertex
// program and the blur, bright-pass and depth-of-field pixel programs of
// the carried post-processing source (id 255), the screen quad's vertex
// stream and its declaration. A pass draws the screen quad into the render
// target in use with one program and one or two source textures.
#pragma once

#include <cstdint>
#include <string>

#include "platform/d3d9/D3D9.h"

// A full-screen still frame that shows an effect's result over the scene:
// colour, position and size in still-frame units (1024 x 768 cover the
// screen), the texture shown, the draw order and the image item's flags.
struct HdrEffectFrame {
    const char* name = "";
    bool shown = false;
    float color[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    float position[2] = {0.0f, 0.0f};
    float size[2] = {1024.0f, 768.0f};
    std::string source;
    std::int32_t order = 0;
    std::uint32_t itemFlags = 0;
};

// An effect frame of that name with the defaults above.
inline HdrEffectFrame namedEffectFrame(const char* name) {
    HdrEffectFrame frame;
    frame.name = name;
    return frame;
}

class PostProcessing {
public:
    enum Program { Blur, BlurSmall, Bright, PoissonDof, PoissonDofDebug, ProgramCount };
    // The source id of the post-processing programs.
    static constexpr std::int32_t kSourceId = 255;

    PostProcessing() = default;
    ~PostProcessing() { release(); }
    PostProcessing(const PostProcessing&) = delete;
    PostProcessing& operator=(const PostProcessing&) = delete;

    // Creates what is missing on device; false when anything fails.
    bool create(IDirect3DDevice9* device);
    void release();

    // Draws the screen quad of a width x height target with program,
    // source on stage 0 and second (may be null) on stage 1, and count
    // pixel constants of four floats from register 2 (register 0 holds the
    // colour, register 1 the source's texel size). The quad is shifted by
    // the texel offsets of the settings. Render states are restored.
    bool drawPass(Program program, IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* second, std::int32_t width,
                  std::int32_t height, const float* constants, std::uint32_t count);

    // The post-processing colour of the passes (register 0).
    float color[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    // The bright pass's threshold and exposure: the sky's bloom values
    // while the camera's scene has a sky, these defaults without.
    static constexpr float kBrightThreshold = 0.5f;
    static constexpr float kBrightExposure = 2.0f;
    float brightThreshold = kBrightThreshold;
    float brightExposure = kBrightExposure;

private:
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DVertexShader9* vertexProgram_ = nullptr;
    IDirect3DPixelShader9* pixelPrograms_[ProgramCount] = {};
    IDirect3DVertexDeclaration9* declaration_ = nullptr;
};
