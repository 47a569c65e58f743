// Render targets: texture handlers whose texture the renderer draws into
// through a D3DX render-to-surface object (or copies the back buffer into).
// The built-in ones serve the post-processing chain ("prochdr1" ...
// "prochdr5", "procpoissondof"), the shadow maps ("procshadow1",
// "procshadow2"), the water reflection ("procmirror") and the depth target
// ("procdepth"); the screenshot targets are in ProcScreenShot.h.
//
// Sizes are set by the render core's allocation (RenderTargets.cpp) before
// the library creates the textures; the targets live in the default pool
// and are released with the device and created anew after it.
#pragma once

#include <cstdint>
#include <functional>

#include "render/ProcTexMap.h"

class CameraCore;
class PostProcessing;
class TextureLink;
class VideoSetup;

// The area a top-down scene pass covers (the rain map's): the world
// rectangle in x and z, the heights between which it sees, and the three
// values handed to every object context.
struct TopDownArea {
    float minX = 0.0f, minZ = 0.0f, maxX = 1.0f, maxZ = 1.0f;
    float bottom = 0.0f, top = 1.0f;
    float values[3] = {};
};

class ProcRenderTarget : public ProcTexMap {
public:
    explicit ProcRenderTarget(const char* name);
    ~ProcRenderTarget() override;

    // Creation on the library's request: the subclass's allocation.
    bool load() override { return allocate(); }
    virtual bool allocate() = 0;
    // Runs after the texture release: drops surface and render-to-surface.
    void freeSourceData() override { releaseTargetObjects(); }
    void releaseTargetObjects();

    std::uint32_t imageWidth() const override { return width > 0 ? static_cast<std::uint32_t>(width) : 0; }
    std::uint32_t imageHeight() const override { return height > 0 ? static_cast<std::uint32_t>(height) : 0; }

    // Creates the texture (into out when given, else as the handler's) and
    // the render-to-surface object of a target that draws; shrinks the size
    // when the device is short of memory. True on success.
    bool createTexture(IDirect3DTexture9** out = nullptr);
    // Starts drawing into level 0 (cleared when asked); true when drawing
    // may go on.
    bool beginScene(bool clear);
    // Ends drawing; true when a scene was open.
    bool endScene();
    // The generating passes: each draws the screen quad into this target
    // from its source link(s) with a post-processing program. False (the
    // caller's fall-back runs) when this target or a source has no texture
    // or drawing into this target cannot begin.
    // Gaussian blur of size taps (13, else the small 5) with offsets in
    // texels and coefficient sigma; a negative power divides the offsets
    // by 2^-power.
    bool generateBlur(PostProcessing& passes, const TextureLink& source, float offsetX, float offsetY, float sigma,
                      std::int32_t size, std::int32_t power);
    // What is brighter than the bright pass's threshold.
    bool generateBright(PostProcessing& passes, const TextureLink& source);
    // The depth-of-field composite of the full image (alpha = blur amount)
    // and the blurred one.
    bool generatePoissonDOF(PostProcessing& passes, const TextureLink& full, const TextureLink& blurred);
    // The scene seen from above over area into this target (made an
    // A8R8G8B8 render target when it has no texture): the object contexts
    // are updated and handed the area's three values, with the shader
    // core's view and projection the orthographic top-down ones. False
    // without a device or when the texture cannot be made; true, with
    // nothing drawn, when drawing cannot begin.
    bool renderScenePass(const TopDownArea& area);
    // The character-shadow pass into a shadow map: begins with a clear
    // (nothing covered), lets drawProjections draw every caster's
    // projection into its cell with all four channels written, ends. False
    // without a texture or a device, or when drawing cannot begin.
    bool renderCharacterShadow(const std::function<void()>& drawProjections);
    // Copies the finished back buffer's picture (the fixed-aspect viewport)
    // onto the whole target without filtering; true when copied.
    bool copyBackBuffer();
    // "Can't twice allocate %s texture" when the texture exists; "Setup
    // texture [%s] first. Fail allocate" for a size never set (mustBeSized);
    // format 0 becomes the back buffer's. Creates a one-level render target.
    bool allocateSized(bool mustBeSized);

    ID3DXRenderToSurface* renderToSurface() const { return renderToSurface_; }
    IDirect3DTexture9* texture2D() const { return static_cast<IDirect3DTexture9*>(texture); }

    std::uint32_t clearColor = 0;  // ARGB, used with ownClearColor
    bool ownClearColor = false;    // else the render core's clear colour
    std::uint32_t targetKind = 3;  // 1 for ProcDepth
    std::int32_t width = -1;       // -1 until a size rule sets it
    std::int32_t height = -1;
    bool dynamic = false;  // dynamic usage instead of a render target
    bool depth = false;    // the render-to-surface object has a depth buffer
    bool draws = true;     // drawn into (0: only copied into)

private:
    IDirect3DSurface9* surface_ = nullptr;
    ID3DXRenderToSurface* renderToSurface_ = nullptr;
};

// Back-buffer-sized target with depth, format A8R8G8B8.
class ProcDepth : public ProcRenderTarget {
public:
    explicit ProcDepth(const char* name);
    bool allocate() override;
};

// Post-processing, shadow and other sized targets.
class ProcHDR : public ProcRenderTarget {
public:
    explicit ProcHDR(const char* name);
    bool allocate() override { return allocateSized(true); }
};

// The water reflection: as ProcHDR with depth, drawn once per request.
class ProcMirror : public ProcHDR {
public:
    explicit ProcMirror(const char* name);
    // Draws the requested reflection once: the scene's object contexts as
    // the secondary pass of the camera reflected about the mirror plane,
    // clipped to the side the normal points to. False without a texture or
    // when drawing cannot begin; rendered tells whether it was drawn.
    bool renderReflection(CameraCore* camera);
    // Set by the camera's mirror plane; cleared when drawn.
    bool renderRequested = false;
    // The reflection was drawn this frame.
    bool rendered = false;
    float mirrorPoint[3] = {0.0f, 0.0f, 0.0f};
    float mirrorNormal[3] = {0.0f, 1.0f, 0.0f};
};

// The shadow-map limits of section "shadow".
struct ShadowTargetLimits {
    std::int32_t maxWidth = 4096;
    std::int32_t maxHeight = 4096;
    std::int32_t softMax = 1024;
};

// The back buffer's size and format; false without a device or back buffer.
bool backBufferSize(std::int32_t& width, std::int32_t& height, D3DFORMAT* format = nullptr);
// A size shifted right n times (arithmetic); n <= 0 copies it.
std::int32_t shiftedSize(std::int32_t size, std::int32_t power);
// The shadow map's size for a video mode.
void shadowTargetSize(const VideoSetup& mode, const ShadowTargetLimits& limits, std::int32_t& width,
                      std::int32_t& height);

// One tap of a filter: offsets in texture coordinates and the weight.
struct FilterTap {
    float x = 0.0f, y = 0.0f, weight = 0.0f;
};
// The Gaussian taps of a blur of count taps (13 or 5): tap 0 in the centre,
// then +k and -k for k = 1, 3, ...; weights normalised to sum 1.
void gaussianTaps(int count, float sigma, float offsetX, float offsetY, std::int32_t width, std::int32_t height,
                  FilterTap* taps);
// The twelve Poisson-disc offsets of the depth of field, scaled by the
// texel offsets over the target size: x, y pairs.
void poissonTaps(float texelX, float texelY, std::int32_t width, std::int32_t height, float* offsets24);
