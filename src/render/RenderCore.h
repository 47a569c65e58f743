// The render core: the frame's passes, the splash screen and the
// device-dependent render data.
//
// The device comes from the video core's device part, created by
// initialize once the main window exists. Everything made on the device is
// made by allocate_device and released by releaseDeviceData, so that a lost
// device can be released whole and created anew.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "effects/SkyDome.h"
#include "foundation/Smoother.h"
#include "platform/d3d9/D3D9.h"
#include "render/PostProcessing.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderTargets.h"
#include "render/QuadBatch.h"
#include "render/RenderList.h"
#include "render/FontData.h"
#include "render/TextureLibrary.h"
#include "render/TextureLink.h"

struct StillFrameRenderer;
class CameraCore;
struct SkyEnvironment;
class RainMapDataManager;
class LightDataManager;
class ModelDataManager;
class ResourceManagerBase;

// The resource managers whose records the renderer allocates, releases and
// collects, in the order the render core walks them.
enum class RenderDataManager : std::int32_t { Model, Sprite, Movie, Particle, SceneData, Count };

// The current camera's matrices (4-by-4, row vectors) as the frame's passes
// read them.
struct CameraFrame {
    float view[16] = {};
    float projection[16] = {};
    float viewProjection[16] = {};
    float world[16] = {};
    float position[3] = {};
    // The depth-of-field focus values.
    float focus[2] = {};
    bool valid = false;
};
class StillFrameScriptDataItem;
class DXStateCache;
class DXStreamDeclarations;
class ShaderCore;

// What a still-frame slot points to; its first field is the still-frame item.
struct StillFrameSlotHolder {
    StillFrameScriptDataItem* item = nullptr;
};

// The still-frame slot block: 32 slots for still-frame items the renderer
// places, a record of counters and flags, the background colour (refreshed
// by the sky's render each frame; render targets without a clear colour of
// their own are cleared with it) and a two-stage smoother.
struct StillFrameSlotBlock {
    static constexpr int kSlotCount = 32;
    static constexpr std::uint32_t kDefaultBackground = 0xFF406080;

    // Counters and flags; clear() zeroes all but the kept words and frees
    // the buffer.
    struct Counters {
        std::uint32_t words[10] = {};
        std::uint32_t keptWords[4] = {};  // zero at construction only
        std::uint32_t moreWords[5] = {};
        std::uint8_t flags[3] = {};
        std::uint32_t word = 0;
        std::vector<std::uint8_t> buffer;

        void clear();
    };

    std::uint32_t first = 0;
    StillFrameSlotHolder* slots[kSlotCount] = {};
    Counters counters;
    std::uint8_t slotFlags[kSlotCount] = {};
    std::uint32_t further = 0;
    std::uint32_t moreWords[3] = {};
    std::uint32_t background = kDefaultBackground;  // ARGB
    FloatSmooth smoother;
};

// The 26 built-in texture links (load screens, computed maps, render
// targets), made with the render core.
struct RenderBuiltinTextures {
    static constexpr int kCount = 26;
    RenderBuiltinTextures();
    void release();
    TextureLink* find(const char* name);
    TextureLink links[kCount];
};

class RenderCore {
public:
    RenderCore();
    ~RenderCore();
    RenderCore(const RenderCore&) = delete;
    RenderCore& operator=(const RenderCore&) = delete;

    // Reads section "render" of the settings into renderSettings.
    void readConfig();
    // Reads the render settings, creates the device ("Can't initialize video
    // device") and sets it up ("Can't initialize render device").
    bool initialize();
    // The set-up of a device just created; runs after every creation.
    bool initializeDevice();
    // Run by the device part after every device creation (start and
    // restore): the full render-state set-up of a new device belongs here.
    void deviceCreated();
    // Creates the objects made on the device (the still-frame vertex
    // stream ...) and sets the device-objects-allocated flag; the texture
    // library counts as allocated from then on.
    bool allocate_device();
    // Re-creates the device-dependent render data after a load (texture
    // handlers, render managers' data, rain-map buffers); false on failure.
    bool allocateDeviceData(std::int32_t flag);
    // Draws and presents the splash screen once; a missing splash is no
    // failure.
    bool renderSplash();
    // The colour a frame is cleared to (ARGB), kept in the still-frame slot
    // block for the render targets without a clear colour of their own: the
    // current scene's sky gives its horizon colour, with an alpha of
    // min((v + 1) / 2, 1) x 255 for its depth value v ("depth" argument 5);
    // without a scene (or while one loads) or a sky record, 0xFF406080.
    std::uint32_t refreshBackground();
    // One frame of the still frames alone: begin (clear), the still frames,
    // present. Used by the splash and the loading progress.
    bool renderUIFrame();
    // The render part of the frame: checks the device (one state step when
    // it is not ready), allocates the device objects when they are missing,
    // begins the frame and draws it. False when nothing was drawn; the
    // frame step presents a drawn frame.
    bool mainLoop();
    // Copies the matrices of camera into cameraFrame (invalid without one).
    void takeCamera();
    // The sky's values of the frame (fog, bloom) while the camera's scene
    // has a sky that publishes them; null without.
    const SkyEnvironment* cameraSkyEnvironment() const;

    // The render-list passes; all but broadcastToContexts hold the engine
    // lock for their walk, and every one holds the render list locked.
    // updateContexts stores each context's cull answer as its render
    // object's visible flag and lets it queue its items; drawBucket draws
    // queue 1 first to last, queue 0 last to first; the shader pass runs the
    // visible contexts' second pass; broadcastToContexts their rain-map
    // pass.
    void updateContexts();
    // The frame's shadow map after the context update: the current camera's
    // scene draws every shadow record's caster into its cell and blurs the
    // map for soft shadows. False when nothing was drawn or a pass failed.
    bool renderShadows();
    void renderObjectContexts();
    void drawBucket(std::int32_t pass);
    void renderContextsShaderPass();
    void resetShadersIfFixed();
    void broadcastToContexts(float a, float b, float c);
    // At release: every context reports the instances it still holds; true
    // when none did.
    bool reportContextReferences();
    // The game state as the frame reads it: 11 while the camera override
    // flag is set.
    static std::int32_t stateIndex();
    // Whether a state index draws the scene (0 to 11 but 6).
    static bool drawsScene(std::int32_t index) { return index >= 0 && index <= 11 && index != 6; }
    // The object pass of a camera render mode: 10 takes the mode of the
    // state index.
    static std::int32_t objectPassMode(std::int32_t cameraMode, std::int32_t index);
    // When the scene changes: the quad batch's counters and the render
    // list's draw items of the last frame.
    void clearRenderLists();
    // The render core's own texture links let their textures go: the
    // built-in ones and the still frames' images.
    void releaseBuiltinTextures();
    // The per-frame resource step: the texture cache, then the collectors
    // of the model, sprite, movie, particle and scene-data managers.
    void updateResources();
    // Before a load's allocation pass: releases the textures and the
    // managers' records that nothing references, puts back the state
    // cache's resource slots (declaration, stream, indices, shaders) and
    // unbinds the sixteen texture stages of the shader pass.
    void resetResources();
    // The shader core's pass state and current programs into the state
    // cache, then the cache onto the device (the draw paths' last step
    // before a draw call). The programs are handled when a pixel program
    // is current with a vertex program, or alone when force is set.
    void applyShaderPass(bool force);
    // Releases every device-dependent resource (shaders, the managers'
    // allocations, declarations, buffers, textures) and clears the
    // device-objects-allocated flag.
    void releaseDeviceData();
    // Releases the data managers and render targets.
    void release();

    // The render data managers. The model, sprite, movie and particle
    // managers are registered by their owners (null before they go); the
    // scene data are the manager the save game installs.
    void registerDataManager(RenderDataManager role, ResourceManagerBase* manager);
    ResourceManagerBase* dataManager(RenderDataManager role) const;

    // Every field of the still-frame slot block at its start value; the
    // smoother gets two stages (time constants 1.0 and 1.5). Run by the
    // constructor.
    void initStillFrameSlots();
    // Empties the block when a scene is left and when the device data are
    // released: the smoother loses its stages for good, the first word
    // becomes 0, and the item of every set slot goes back to the still
    // frames (StillFrameData::deleteObject) before the slot is emptied. The
    // holders, slot flags, counters and colour stay.
    void clearStillFrameSlots();

    // The texture handlers by name (the screenshot targets among them).
    TextureLibrary textures;
    // The bitmap fonts of the still frames' text, by name.
    FontData& fonts() { return *fonts_; }

    // ---- render targets and post-processing (RenderTargets.cpp,
    // PostProcessing.cpp) ----
    // Attach (or release) the links to the built-in targets by the video
    // options and size the targets; true when every needed link attached.
    bool allocateHDRTargets();
    // Depth of field by the options: pp_depth on, details above minimum and
    // no veto of the video core (a back buffer without alpha).
    static bool depthOfFieldWanted(const VideoSetup& mode);
    bool allocateReflectionTarget();
    bool allocateShadowTargets();
    bool allocateScreenshotTarget();
    // All four above; true when all succeeded.
    bool allocateRenderTargets();
    // The built-in links of the render targets.
    RenderTargetLinks targetLinks();
    ShadowTargetLimits shadowLimits;
    // The post step after the scene pass of a frame with a camera: the
    // depth pass, then the effects between the scene's end and its resume.
    // A frame whose effects fail is shown without them; when they fail
    // kLastingEffectFailures frames in a row, pp_bloom and pp_depth of mode
    // are switched off ("Failed Post-processing effects disabled"). False
    // when the scene cannot be ended or resumed.
    bool postProcess(VideoSetup& mode, bool scenePassRan);
    static constexpr std::int32_t kLastingEffectFailures = 8;
    // Frames in a row whose effects failed.
    std::int32_t failedEffectFrames = 0;
    // Depth of field and bloom into their targets, shown as the effect
    // frames; true when done or nothing to do.
    bool renderEffects(const VideoSetup& mode);
    void removeHDREffectFrames();
    // The frame's post step: on the shader path above details "minimum",
    // with the active video record; true without one.
    bool postProcessFrame(std::int32_t stateIndex);
    // Draws the current camera's frame into the render target in use (the
    // scene pass, then the visible still frames when asked).
    void renderTargetFrame(bool withStillFrames);
    // Before a frame drawn outside the frame step (the save's screenshot):
    // the scene's shadow records follow its casters as they stand now (a
    // step of no time), the contexts queue their items again and the shadow
    // map is redrawn, so that a model moved or hidden since the last frame
    // shows where it is and casts no stale shadow. Nothing without a camera
    // whose scene is drawn in the game state.
    void refreshSceneFrame();
    PostProcessing postPasses;

    // ---- the mirror and object passes (FramePasses.cpp) ----
    // The object contexts drawn for a camera render mode (10: the mode of
    // the state index); mode 7 draws none.
    void renderObjectPass(std::uint32_t cameraMode, std::int32_t index);
    // The water's mirror target (the handler of "ProcMirror"), null while
    // the link holds none.
    ProcMirror* mirrorTarget();
    // Whether the mirror pass drew the reflection of this frame: only then
    // does the water show the mirror target.
    bool mirrorDrawn();
    // Whether the device has a user clip plane (the mirror pass needs one).
    bool userClipPlanes();
    // User clip plane 0 (clip space, four floats) on, or off for null; the
    // state cache records the switch.
    void setUserClipPlane(const float* plane);
    // The soft shadows: the shadow map ("ProcSHADOW1") blurred offset
    // texels wide across into the second shadow target and back down into
    // the map (5 taps, coefficient "HDR_shadow_blur_Gaussian_Coeff"). A
    // failing pass ("Can't render blur X in Soft shadow", "... Y ...")
    // releases the shadow map's link; false then.
    bool blurSoftShadows(float offset);
    HdrEffectFrame effectFrames[2] = {namedEffectFrame("hdr_effect_depth_of_field"), namedEffectFrame("hdr_effect_bloom")};

    // The still frames and their input box, owned here.
    StillFrameRenderer& stillFrames() { return *stillFrames_; }

    // The render-state cache and the shader core (its programs load once a
    // render device exists).
    DXStateCache& stateCache() { return *stateCache_; }
    ShaderCore& shaders() { return *shaders_; }
    // The vertex declarations of the 49 vertex formats, which the state
    // cache sets by format code.
    DXStreamDeclarations& streamDeclarations() { return *streamDeclarations_; }

    // The still-frame slot block; emptied when a scene is left.
    StillFrameSlotBlock stillFrameSlots;

    // Set by the frame step before mainLoop: 1 when the video core's first
    // state flag is set, else 0.
    std::int32_t frameMode = 0;
    // Set by the frame step before mainLoop: the current scene's current
    // camera, or null.
    CameraCore* camera = nullptr;
    CameraFrame cameraFrame;

    bool deviceObjectsAllocated() const { return deviceObjectsAllocated_; }
    // Frames drawn, back to 0 at 1000.
    std::int32_t frameCounter = 0;
    // Set by the frame step: the video core's post-processing switch.
    std::int32_t postProcessing = 0;
    // 0 while the scene pass draws the object contexts; the depth and mirror
    // passes set it for their own drawing.
    bool secondaryPass = false;
    // Set while the mirror pass draws its reflected picture: the faces of
    // what it draws turn the other way round.
    bool drawingMirror = false;
    // Game-clock seconds of the last mesh-cache step (-1 before the first).
    double lastMeshCacheTime = -1.0;
    // Object-pass modes run this frame (the last one), -1 when none ran.
    std::int32_t lastObjectPassMode = -1;

    RenderList renderList;
    QuadBatch quadBatch;
    // The dome every sky draws: built at initialisation, its buffers made
    // with the device objects and released with them.
    SkyDome skyDome;
    RenderBuiltinTextures builtinTextures;
    // The vertex stream of the still frames' screen quad (null while the
    // device objects are released).
    IDirect3DVertexBuffer9* stillFrameVertexBuffer() const;

private:
    bool deviceObjectsAllocated_ = false;
    // The object pass of the current camera. The scene's render hook
    // (update phase 2) runs in the frame's own scene pass only, once a
    // frame; passes drawing the scene again into targets leave it out.
    void scenePass(std::int32_t index, bool sceneHook = true);
    void meshCacheStep();

    std::unique_ptr<StillFrameRenderer> stillFrames_;
    std::unique_ptr<DXStateCache> stateCache_;
    std::unique_ptr<ShaderCore> shaders_;
    // After the cache: it goes first and leaves the cache without it.
    std::unique_ptr<DXStreamDeclarations> streamDeclarations_;
    // The scenes' rain maps; installed for the scenes while the core lives.
    std::unique_ptr<RainMapDataManager> rainData_;
    // The light database: its records hold projected textures, so they go
    // before the texture library.
    std::unique_ptr<LightDataManager> lightData_;
    // The model resources; registered as the model data manager and
    // installed for the model objects while the core lives.
    std::unique_ptr<ModelDataManager> modelData_;
    std::unique_ptr<FontData> fonts_;
    ResourceManagerBase* dataManagers_[static_cast<int>(RenderDataManager::Count)] = {};
};
