// The video device on the null backend with fixture adapter profiles:
// adapter choice, card class, presentation parameters, device creation,
// loss and restore.
#include "render/VideoDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/SkyDataManager.h"
#include "effects/Y3Sky.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "model/DXStreams.h"
#include "platform/d3d9/AdapterProfile.h"
#include "render/ProcRenderTarget.h"
#include "effects/RenderObject.h"
#include "render/RenderCore.h"
#include "render/RenderManagerSupport.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "ui/StillFrameData.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

using platform::d3d9::AdapterProfile;
using testing_support::ScopedCoreMember;
using testing_support::ScopedGameCore;

namespace {

const char* const kShaderCard =
    "adapter NVIDIA GeForce FX 5700\n"
    "desktop 1024 768 60\n"
    "mode 640 480 60\n"
    "mode 800 600 60\n"
    "mode 800 600 100\n"
    "mode 1024 768 60\n"
    "vs 2.0\n"
    "ps 2.0\n"
    "multisample 0 1\n"
    "adapter Second Card\n"
    "mode 1024 768 60\n";

const char* const kFixedCard =
    "adapter Old Card 1234\n"
    "mode 640 480 60\n"
    "mode 1024 768 60\n"
    "vs 1.1\n"
    "ps 1.4\n";

// A video core and a render core in the game core, over a Direct3D whose
// adapters come from a profile text and whose refusals and leak reports
// are collected.
class VideoDeviceTest : public ::testing::Test {
protected:
    void TearDown() override {
        // The device goes before the environment it was made in.
        render.releaseDeviceData();
        video.release();
        platform::d3d9::setEnvironment({});
    }

    // Installs the profile and detects the system with a desktop rate.
    void install(const char* profileText, std::int32_t desktopRate = 60) {
        auto profile = std::make_shared<AdapterProfile>();
        std::string error;
        ASSERT_TRUE(profile->parse(profileText, error)) << error;
        environment.profile = profile;
        environment.sink = [this](const char* line) { d3dLines.emplace_back(line); };
        environment.faults = faults;
        platform::d3d9::setEnvironment(environment);
        video.desktopWidth = 1024;
        video.desktopHeight = 768;
        video.refreshRate = desktopRate;
        video.detectSystem();
    }

    // A device made through the state machine, with the render objects.
    void createDevice() {
        ASSERT_TRUE(video.initialize());
        ASSERT_TRUE(device().initialize());
        ASSERT_TRUE(render.allocate_device());
        ASSERT_NE(render.stillFrameVertexBuffer(), nullptr);
    }

    VideoDevice& device() { return video.videoDevice; }
    VideoSetup& user() { return video.setups[1]; }
    bool logged(const char* text) { return gameCore.log->contains(text); }
    bool d3dLogged(const std::string& text) const {
        for (const auto& line : d3dLines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
    std::uint64_t presents() { return platform::d3d9::statistics(device().device())->presents; }
    // The back buffer's pixel at (512, 384) as ARGB (a 1024 x 768 buffer of
    // four bytes a pixel).
    std::uint32_t centrePixel() {
        IDirect3DSurface9* backBuffer = nullptr;
        EXPECT_EQ(device().device()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer), S_OK);
        if (!backBuffer) return 0;
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        EXPECT_TRUE(platform::d3d9::readSurface(backBuffer, bytes, desc));
        backBuffer->Release();
        EXPECT_EQ(desc.Width, 1024u);
        EXPECT_EQ(desc.Height, 768u);
        std::uint32_t pixel = 0;
        if (bytes.size() >= 1024u * 768u * 4u) std::memcpy(&pixel, bytes.data() + (384u * 1024u + 512u) * 4u, 4);
        return pixel;
    }

    ScopedGameCore core;
    IniFile settings;
    VideoCore video;
    RenderCore render;
    ScopedCoreMember<IniFile> useSettings{gameCore.settings, &settings};
    ScopedCoreMember<VideoCore> useVideo{gameCore.video, &video};
    ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    platform::d3d9::Environment environment;
    std::shared_ptr<platform::d3d9::FaultPlan> faults = std::make_shared<platform::d3d9::FaultPlan>();
    std::vector<std::string> d3dLines;
};

}  // namespace

TEST(VideoDeviceClass, CardClassFromTheDescription) {
    const struct {
        const char* description;
        std::int32_t expected;
    } cases[] = {
        {"NVIDIA GeForce FX 5700", 1},
        {"NVIDIA GeForce 6800 GT", 2},
        {"NVIDIA GeForce FX 5100", 0},
        {"ATI RADEON 9600 SERIES", 1},
        {"ATI Radeon 9000", 1},
        {"ATI Radeon 8500", 0},
        {"ATI Radeon 9850", 2},
        {"NVIDIA GeForce 12345", 2},   // five digits
        {"Generic adapter", 2},         // no digits
        {"Card 0000", 2},               // a zero number
        {"Some Card 5700", 0},          // no known vendor
        // "Corporation" holds "ati" inside a word: the nvidia limits apply.
        {"NVIDIA Corporation GeForce FX 5200", 1},
        {"Radeon 9600 Integrated by ATI", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(VideoDevice::classifyAdapter(c.description), c.expected) << c.description;

    // Our GL adapter names a software rasteriser's GL_RENDERER and is then a
    // limited card (post-processing off by default); on hardware it is a
    // full one, whatever model number the renderer's name holds.
    using platform::d3d9::BackendKind;
    const struct {
        const char* renderer;
        bool software;
    } stacks[] = {
        {"llvmpipe (LLVM 15.0.7, 256 bits)", true},
        {"softpipe", true},
        {"Software Rasterizer", true},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
        {"NVIDIA GeForce RTX 3080/PCIe/SSE2", false},
        {"AMD Radeon RX 6800 XT (navi21, LLVM 15.0.7, DRM 3.49, 6.1.0)", false},
    };
    for (const auto& s : stacks) {
        platform::d3d9::GLStack gl;
        gl.available = true;
        gl.renderer = s.renderer;
        gl.software = platform::d3d9::isSoftwareRenderer(s.renderer);
        EXPECT_EQ(gl.software, s.software) << s.renderer;
        const std::string description = platform::d3d9::adapterDescription(BackendKind::GL, gl);
        EXPECT_EQ(description.find(s.renderer) != std::string::npos, s.software) << description;
        EXPECT_EQ(VideoDevice::classifyAdapter(description.c_str()) < 2, s.software) << description;
    }
    EXPECT_EQ(VideoDevice::classifyAdapter(platform::d3d9::adapterDescription(BackendKind::GL, {}).c_str()), 2);
}

TEST(VideoDeviceText, ErrorTextsAndPackedColours) {
    EXPECT_STREQ(d3dErrorText(D3DERR_DEVICELOST),
                 "The device has been lost but cannot be reset at this time. Therefore, rendering is not possible");
    EXPECT_STREQ(d3dErrorText(E_OUTOFMEMORY), "Direct3D could not allocate sufficient memory to complete the call.");
    EXPECT_STREQ(d3dErrorText(S_OK), "Unknown Error");
    EXPECT_EQ(packColorRGB(1.0f, 0.5f, 0.0f), 0x00FF8000u);
    EXPECT_EQ(packColorRGB(2.0f, 0.0f, 1.0f / 255.0f), 0x00FF0001u);
}

TEST_F(VideoDeviceTest, ShaderModelTwoConnectsToTheShaderDevice) {
    install(kShaderCard);
    ASSERT_TRUE(video.initialize());
    EXPECT_TRUE(logged("Find video adapter..."));
    EXPECT_TRUE(logged("Detected vs2.0 and ps2.0"));
    EXPECT_TRUE(logged("Found Video accelerator: [NVIDIA GeForce FX 5700]"));
    EXPECT_TRUE(logged("DirectX render device connected to [0:NVIDIA GeForce FX 5700]"));
    EXPECT_FALSE(video.fixedPipeline);
    EXPECT_TRUE(device().limitedCard);  // a 5700 is class 1
    EXPECT_EQ(video.detailsLimit, 1);
    EXPECT_EQ(device().deviceType, D3DDEVTYPE_HAL);

    // One entry a size and adapter, smallest first, the second adapter
    // labelled with its number.
    ASSERT_EQ(video.resolutions.size(), 4u);
    EXPECT_STREQ(video.resolutions[0].label, "640x480");
    EXPECT_STREQ(video.resolutions[1].label, "800x600");
    EXPECT_STREQ(video.resolutions[2].label, "1024x768");
    EXPECT_STREQ(video.resolutions[3].label, "2) 1024x768");
    EXPECT_EQ(video.resolutions[3].adapter, 1);
}

TEST_F(VideoDeviceTest, WithoutShaderModelTwoTheFixedPipelineIsUsed) {
    install(kFixedCard);
    ASSERT_TRUE(video.initialize());
    EXPECT_TRUE(logged("Try connect to fixed pipeline"));
    EXPECT_TRUE(logged("DirectX render device connected to FIXED PIPELINE adapter [0:Old Card 1234]"));
    EXPECT_FALSE(logged("Detected vs"));
    EXPECT_TRUE(video.fixedPipeline);
    EXPECT_TRUE(device().isFixedPipeline());
    EXPECT_EQ(user().details, VideoDetailsMinimum);
    EXPECT_EQ(user().water, 0);
    EXPECT_EQ(user().waterReflection, 0);
    EXPECT_EQ(user().shadows, 0);

    ASSERT_TRUE(device().initialize());
    EXPECT_TRUE(logged("[render] Select pure device hardware FFP"));
    EXPECT_EQ(device().state(), DeviceStateReady);
}

TEST_F(VideoDeviceTest, NoDirect3DFailsTheStart) {
    environment.present = false;
    install(kShaderCard);
    EXPECT_TRUE(logged("DirectX9 not present on this PC"));
    EXPECT_EQ(device().state(), DeviceStateFailed);
    EXPECT_FALSE(video.initialize());
    EXPECT_TRUE(logged("Can't initialize DirectX9"));
    EXPECT_TRUE(logged("Can't enumerate video adapter modes"));
}

TEST_F(VideoDeviceTest, PresentationParametersFromTheActiveRecord) {
    install(kShaderCard, 100);
    ASSERT_TRUE(video.initialize());
    const D3DPRESENT_PARAMETERS& p = device().presentParameters;

    // Full screen: a 100 Hz desktop is no aim, AUTO aims at 60; "8x" on a
    // device that offers no multisampling gives none.
    user().res_width = 800;
    user().res_height = 600;
    user().aa = 3;
    ASSERT_TRUE(device().buildPresentParameters());
    EXPECT_TRUE(logged("Use user frequency aim [60]"));
    EXPECT_EQ(p.FullScreen_RefreshRateInHz, 60u);
    EXPECT_EQ(p.MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(p.BackBufferWidth, 800u);
    EXPECT_FALSE(p.Windowed);
    EXPECT_EQ(p.BackBufferCount, 2u);
    EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(p.AutoDepthStencilFormat, D3DFMT_D32);
    EXPECT_EQ(p.PresentationInterval, D3DPRESENT_INTERVAL_ONE);  // vSync "one"

    // A chosen rate is the aim.
    user().frequency = 7;  // "100"
    ASSERT_TRUE(device().buildPresentParameters());
    EXPECT_EQ(p.FullScreen_RefreshRateInHz, 100u);

    // Windowed: the desktop mode, whatever the size asked.
    user().windowMode = 1;
    user().res_width = 640;
    user().res_height = 480;
    ASSERT_TRUE(device().buildPresentParameters());
    EXPECT_TRUE(p.Windowed);
    EXPECT_EQ(p.BackBufferWidth, 1024u);
    EXPECT_EQ(p.BackBufferHeight, 768u);
    EXPECT_EQ(p.FullScreen_RefreshRateInHz, 0u);
    EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_COPY);
    EXPECT_TRUE(logged("Screen [22][71](1)+[1] (AA [0][0]) 1024x768, 0 Hz, 32bit, Window mode"));

    // No mode of the size: no parameters.
    user().windowMode = 0;
    user().res_width = 1280;
    user().res_height = 1024;
    EXPECT_FALSE(device().buildPresentParameters());
}

TEST_F(VideoDeviceTest, DeviceIsCreatedAndPresentsFrames) {
    install(kShaderCard);
    createDevice();
    EXPECT_TRUE(logged("Screen [22][71](2)+[1] (AA [0][0]) 1024x768, 60 Hz, 32bit"));
    EXPECT_TRUE(logged("[render] Select pure device hardware VP"));
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_TRUE(render.mainLoop());
        if (frame == 0) {
            // Without a scene the frame begins cleared to the constant
            // background colour inside the picture's viewport.
            EXPECT_EQ(centrePixel() & 0xFFFFFFu, 0x406080u);
        }
        ASSERT_TRUE(device().presentScene());
    }
    EXPECT_EQ(presents(), 3u);
    EXPECT_EQ(render.frameCounter, 3);
    EXPECT_TRUE(d3dLines.empty()) << d3dLines.front();
}

// The frame clears to the current scene's sky: the horizon colour of the
// record of its weather and time of day, with the alpha its depth value
// gives, (v + 1) / 2 of full; without a scene again the constant.
TEST_F(VideoDeviceTest, FrameClearsToTheCurrentSkysHorizonAndDepth) {
    install(kShaderCard);
    user().pp_depth = 1;  // the back buffer keeps alpha for the depth of field
    createDevice();
    EXPECT_EQ(device().presentParameters.BackBufferFormat, D3DFMT_A8R8G8B8);
    // The sky description "lagoon": 16 records of 27 floats; each record's
    // horizon colour and depth value tell the records apart.
    std::vector<float> records(kSkyRecordCount * kSkyRecordFields, 0.0f);
    for (int r = 0; r < kSkyRecordCount; ++r) {
        float* record = records.data() + r * kSkyRecordFields;
        record[SkyFieldHorizon] = r / 16.0f;
        record[SkyFieldHorizon + 1] = 0.5f;
        record[SkyFieldHorizon + 2] = 1.5f;  // clamped to 1
        record[SkyFieldDepth4] = -1.0f + r / 8.0f;
    }
    testing_support::TempDir dir;
    testing_support::FixturePackage package;
    package.files = {{".sky", "lagoon",
                      std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(float)), ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());

    ObjectRepository objects;
    SkyDataManager skies;
    SaveGame game;
    ScopedCoreMember<ObjectRepository> useObjects{gameCore.objects, &objects};
    ScopedCoreMember<SkyDataManager> useSkies{gameCore.skyData, &skies};
    ScopedCoreMember<SaveGame> useGame{gameCore.game, &game};
    std::unique_ptr<Scene> scene(SceneContext::createScene(game.sceneData().get("lagoon", false)));
    ASSERT_NE(scene, nullptr);
    ASSERT_NE(scene->sky, nullptr);
    game.scenes.push_back(scene->id);
    game.currentIndex = 0;

    struct Case {
        std::int32_t weather, timeOfDay;
        std::uint32_t colour;
    };
    // Record r = 4 x time + weather: red r / 16, green 0.5, blue 1 (rounded);
    // alpha (v + 1) / 2 = r / 16 of 255 (truncated).
    const Case cases[] = {{SkyClear, 1, 0x3F4080FFu},   // record 4
                          {SkyRain, 3, 0xDFDF80FFu},    // record 14
                          {SkyClear, 0, 0x000080FFu},   // record 0: depth -1, no alpha
                          {SkyFog, 3, 0xEFEF80FFu}};    // record 15
    for (const Case& c : cases) {
        scene->setSkyWeather(c.weather);
        scene->setSkyLightMode(c.timeOfDay);
        ASSERT_TRUE(device().beginFrame());
        EXPECT_EQ(centrePixel(), c.colour) << c.weather << " " << c.timeOfDay;
        EXPECT_EQ(render.stillFrameSlots.background, c.colour);
        ASSERT_TRUE(device().presentScene());
    }

    // No current scene: the constant again.
    game.currentIndex = -1;
    ASSERT_TRUE(device().beginFrame());
    EXPECT_EQ(centrePixel(), 0xFF406080u);
    ASSERT_TRUE(device().presentScene());
    scene->release();
    game.scenes.clear();
}

// The picture (960 x 768 at the camera's 1.25 inside 1024 x 768) takes the
// background, the border strips black with its alpha: the whole back buffer
// is cleared once, with its depth, and only the border a second time.
TEST_F(VideoDeviceTest, FrameClearsTheWholeBufferOnceAndTheBorderBlack) {
    auto calls = std::make_shared<platform::d3d9::CallLog>();
    environment.callLog = calls;
    install(kShaderCard);
    createDevice();
    calls->lines.clear();
    ASSERT_TRUE(device().beginFrame());
    std::vector<std::string> clears;
    for (const std::string& line : calls->lines)
        if (line.rfind("Clear(", 0) == 0) clears.push_back(line);
    EXPECT_EQ(clears, (std::vector<std::string>{"Clear(0, 0x3, 0xFF406080, 1, 0)", "Clear(2, 0x1, 0xFF000000, 1, 0)"}));

    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device().device()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    ASSERT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
    back->Release();
    ASSERT_EQ(desc.Width, 1024u);
    auto pixel = [&](std::size_t x, std::size_t y) {
        std::uint32_t value = 0;
        std::memcpy(&value, bytes.data() + (y * desc.Width + x) * 4, 4);
        return value;
    };
    for (const std::size_t x : {0u, 31u, 992u, 1023u}) EXPECT_EQ(pixel(x, 384), 0xFF000000u) << x;
    for (const std::size_t x : {32u, 512u, 991u}) EXPECT_EQ(pixel(x, 384), 0xFF406080u) << x;
    D3DVIEWPORT9 viewport{};
    device().device()->GetViewport(&viewport);
    EXPECT_EQ(viewport.X, 32u);
    EXPECT_EQ(viewport.Width, 960u);
    ASSERT_TRUE(device().presentScene());
}

TEST_F(VideoDeviceTest, LostDeviceIsCreatedAnewWithItsObjects) {
    install(kShaderCard);
    std::vector<std::string> events;
    device().hooks.startReload = [&] {
        // The old device and its objects are gone, the new device is there.
        events.push_back(device().device() && !render.deviceObjectsAllocated() ? "start" : "start too early");
    };
    device().hooks.finishReload = [&] {
        events.push_back(render.stillFrameVertexBuffer() ? "finish" : "finish without objects");
    };
    createDevice();
    ASSERT_TRUE(render.mainLoop());
    ASSERT_TRUE(device().presentScene());

    platform::d3d9::loseDevice(device().device(), 1);
    EXPECT_FALSE(render.mainLoop());  // the test finds it lost
    EXPECT_EQ(device().state(), DeviceStateRestore);
    EXPECT_FALSE(render.mainLoop());  // one Restore step
    EXPECT_EQ(device().state(), DeviceStateReady);
    EXPECT_EQ(events, (std::vector<std::string>{"start", "finish"}));
    EXPECT_FALSE(d3dLogged("Leaked")) << d3dLines.front();

    ASSERT_TRUE(render.mainLoop());
    ASSERT_TRUE(device().presentScene());
    EXPECT_EQ(presents(), 1u);  // on the new device
    EXPECT_EQ(video.activeSetup, 1);
}

// The resources a manager registered with the render core lose their device
// objects with the device and get them again on the new one; those without
// users are not made again.
TEST_F(VideoDeviceTest, ALostDeviceTakesTheRegisteredResourcesAlong) {
    install(kShaderCard);
    createDevice();
    render_test::CountingManager meshes;
    render_test::ScopedRenderManager registered(render, RenderDataManager::Model, meshes);
    render_test::CountingRecord* used = meshes.loaded("boat");
    render_test::CountingRecord* unused = meshes.loaded("crate");
    ASSERT_TRUE(used && unused);
    render_test::CountingUser user;
    ASSERT_TRUE(ResourceManagerBase::push(used, &user));
    ASSERT_TRUE(render.allocateDeviceData(1));  // as after a load
    EXPECT_EQ(used->allocations, 1);
    EXPECT_EQ(unused->allocations, 0);

    platform::d3d9::loseDevice(device().device(), 1);
    EXPECT_FALSE(render.mainLoop());
    EXPECT_FALSE(render.mainLoop());  // released and created anew
    ASSERT_EQ(device().state(), DeviceStateReady);
    EXPECT_EQ(used->deallocations, 1);
    EXPECT_EQ(used->allocations, 2);
    EXPECT_TRUE(used->has(kResourceAllocated));
    EXPECT_EQ(unused->allocations, 0);

    ASSERT_TRUE(ResourceManagerBase::pop(used, &user));
}

// A device without a back buffer with alpha vetoes the depth of field: the
// device is made with the plain format and the depth-of-field targets are
// left out, the bloom's are there.
TEST_F(VideoDeviceTest, WithoutABackBufferWithAlphaTheDepthOfFieldIsVetoed) {
    faults->answer(platform::d3d9::FormatCheck::DeviceType, D3DFMT_A8R8G8B8, D3DERR_NOTAVAILABLE);
    install(kShaderCard);
    user().details = VideoDetailsHigh;
    user().pp_depth = 1;
    user().pp_bloom = 1;
    createDevice();
    EXPECT_TRUE(video.depthOfFieldVeto);
    EXPECT_EQ(device().presentParameters.BackBufferFormat, D3DFMT_X8R8G8B8);
    RenderTargetLinks links = render.targetLinks();
    EXPECT_EQ(links.hdr1.handler(), nullptr);
    EXPECT_EQ(links.hdr2.handler(), nullptr);
    EXPECT_EQ(links.poissonDof.handler(), nullptr);
    EXPECT_NE(links.hdr3.handler(), nullptr);
    EXPECT_NE(links.hdr5.handler(), nullptr);
    links.releaseAll();
}

TEST_F(VideoDeviceTest, FailingRestoreFallsToSafeThenEndsTheGameAsAFailure) {
    install(kShaderCard);
    std::int32_t reloads = 0;
    device().hooks.startReload = [&] { ++reloads; };
    createDevice();
    faults->failCreation(1);
    faults->failCreation(2);
    platform::d3d9::loseDevice(device().device(), 1);

    EXPECT_FALSE(device().beginFrame());
    EXPECT_EQ(device().state(), DeviceStateRestore);
    EXPECT_FALSE(device().beginFrame());
    EXPECT_TRUE(logged("Can't restore D3D device: Back to safe settings"));
    EXPECT_EQ(device().state(), DeviceStateRestoreSafe);
    EXPECT_FALSE(device().beginFrame());
    EXPECT_TRUE(logged("Can't restore safe D3D device"));
    EXPECT_EQ(device().state(), DeviceStateFailed);
    EXPECT_EQ(video.activeSetup, 0);
    EXPECT_EQ(device().device(), nullptr);
    EXPECT_FALSE(render.deviceObjectsAllocated());
    EXPECT_EQ(reloads, 0);
    EXPECT_FALSE(d3dLogged("Leaked"));

    // Failed ends the message loop on the failure road (exit code 3).
    gameCore.runState = -1;
    gameCore.gameState = 2;
    EXPECT_FALSE(device().beginFrame());
    EXPECT_TRUE(logged("Critical D3D error: Can't create D3D Device"));
    EXPECT_EQ(gameCore.gameState, 13);
    EXPECT_GE(gameCore.runState, 0);
}

TEST_F(VideoDeviceTest, CreationFoundLostIsTriedABoundedNumberOfTimes) {
    install(kShaderCard);
    ASSERT_TRUE(video.initialize());
    for (int i = 1; i <= VideoDevice::kLostCreationTries; ++i) faults->failCreation(i, D3DERR_DEVICELOST);
    ASSERT_TRUE(device().initialize());
    EXPECT_TRUE(logged("(try 20 of 20)"));
    EXPECT_FALSE(logged("(try 21"));
    // The next state, the safe record, made the device.
    EXPECT_EQ(video.activeSetup, 0);
    EXPECT_EQ(device().presentParameters.BackBufferWidth, 640u);
    EXPECT_EQ(device().state(), DeviceStateReady);
}

TEST_F(VideoDeviceTest, SamplerFiltersAndAddressesFromTheCaps) {
    install(
        "adapter Filter Card 1234\n"
        "mode 640 480 60\n"
        "filtercaps 0x00030300\n"  // min point+linear, mip point+linear, no mag bits
        "addresscaps 0x1\n"        // wrap only
        "maxanisotropy 8\n");
    ASSERT_TRUE(video.initialize());
    user().texture = 1;
    device().setupFromCaps();
    EXPECT_EQ(device().userAnisotropy, 4);
    EXPECT_EQ(device().maxAnisotropy, 8);
    const SamplerFilters& user0 = device().samplerFilters[0][0];
    EXPECT_EQ(user0.min, D3DTEXF_LINEAR);  // anisotropic not offered
    EXPECT_EQ(user0.mip, D3DTEXF_LINEAR);
    EXPECT_EQ(user0.mag, D3DTEXF_NONE);
    EXPECT_EQ(device().samplerFilters[17][0].min, D3DTEXF_POINT);
    EXPECT_EQ(device().samplerFilters[15][1].mip, D3DTEXF_NONE);
    // Classes 6, 9 and 10 keep their values.
    EXPECT_EQ(device().samplerFilters[6][0].mag, D3DTEXF_LINEAR);
    // Clamp, mirror and border fall back to wrap.
    for (const DWORD address : device().textureAddress) EXPECT_EQ(address, D3DTADDRESS_WRAP);
}

TEST_F(VideoDeviceTest, RenderObjectsThatCannotBeMadeEndTheGame) {
    install(kShaderCard);
    ASSERT_TRUE(video.initialize());
    ASSERT_TRUE(device().initialize());
    EXPECT_TRUE(logged("CPU(s)") || logged("Processor(s) architecture unknown"));
    EXPECT_TRUE(logged("Detected desktop frequency 60Hz") || logged("Can't get current desktop settings"));
    faults->failCreation(kVertexFormatCount + 1);  // the still-frame vertex buffer, after the declarations
    gameCore.runState = -1;
    gameCore.gameState = 2;
    EXPECT_FALSE(render.mainLoop());
    EXPECT_TRUE(logged("Can't allocate render objects"));
    EXPECT_FALSE(render.deviceObjectsAllocated());
    EXPECT_EQ(gameCore.gameState, 13);
    EXPECT_GE(gameCore.runState, 0);
}

// The render objects hold the vertex declarations and the sky dome's
// buffers; a device reset (release, then allocate) makes them again.
TEST_F(VideoDeviceTest, RenderObjectsHoldTheVertexDeclarationsAndTheSkyDomesBuffers) {
    install(kShaderCard);
    ASSERT_TRUE(video.initialize());
    ASSERT_TRUE(device().initialize());
    ASSERT_TRUE(render.skyDome.build());  // as the render core's start builds it
    DXStreamDeclarations& declarations = render.streamDeclarations();
    EXPECT_EQ(declarations.fallback(9), 4);  // the table is filled from the start
    EXPECT_EQ(declarations.declaration(4), nullptr);
    EXPECT_FALSE(render.skyDome.buffersReady());
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(render.allocate_device());
        EXPECT_NE(declarations.declaration(4), nullptr);
        EXPECT_TRUE(render.skyDome.buffersReady()) << round;
        render.releaseDeviceData();
        EXPECT_EQ(declarations.declaration(4), nullptr);
        EXPECT_FALSE(render.skyDome.buffersReady()) << round;
    }
}

TEST_F(VideoDeviceTest, GamePlatformOffersShaderModelTwoSoTheGameTakesTheShaderDevice) {
    VideoCore::installGamePlatform();
    platform::d3d9::Environment installed = platform::d3d9::environment();
    EXPECT_EQ(installed.backend, platform::d3d9::BackendKind::GL);
    ASSERT_NE(installed.profile, nullptr);
    ASSERT_FALSE(installed.profile->adapters.empty());
    EXPECT_EQ(installed.profile->adapters[0].caps.VertexShaderVersion, D3DVS_VERSION(2, 0));
    EXPECT_EQ(installed.profile->adapters[0].caps.PixelShaderVersion, D3DPS_VERSION(2, 0));
    // The game's profile and log, on the null backend of the unit tests.
    installed.backend = platform::d3d9::BackendKind::Null;
    platform::d3d9::setEnvironment(installed);
    video.refreshRate = 60;
    video.detectSystem();
    ASSERT_TRUE(video.initialize());
    EXPECT_TRUE(logged("Detected vs2.0 and ps2.0"));
    EXPECT_FALSE(video.fixedPipeline);
    ASSERT_TRUE(device().initialize());
    // Refused calls reach the log.
    device().device()->SetRenderState(D3DRENDERSTATETYPE(9999), 0);
    EXPECT_TRUE(logged("Direct3D: "));
}

TEST_F(VideoDeviceTest, EnumerationKeepsUsableModesAndCombinations) {
    install(
        "adapter Filter Card 1234\n"
        "mode 320 240 60\n"        // too small
        "mode 640 480 60\n"
        "mode 640 480 60\n"        // a duplicate
        "mode 800 600 60 23\n"     // not X8R8G8B8
        "mode 1024 768 75\n"
        "depthformats 80 75\n"     // D16, D24S8
        "multisample 0 1\n"
        "multisample 2 3\n"
        "intervals 0x80000003\n"  // immediate, one, two
        "devcaps 0x10000\n");     // hardware T&L, no pure device
    ASSERT_TRUE(video.initialize());
    const VideoAdapterRecord& adapter = device().enumeration.adapters.at(0);
    ASSERT_EQ(adapter.displayModes.size(), 2u);
    EXPECT_EQ(adapter.displayModes[0].Width, 640u);
    EXPECT_EQ(adapter.displayModes[1].RefreshRate, 75u);

    // Two modes x two back-buffer formats x full screen and windowed.
    const VideoDeviceRecord& hal = adapter.devices[0];
    ASSERT_EQ(hal.combinations.size(), 8u);
    const VideoAdapterInfo& full = hal.combinations[0];
    EXPECT_FALSE(full.windowed);
    EXPECT_EQ(full.backBufferFormat, D3DFMT_A8R8G8B8);
    EXPECT_EQ(full.depthFormats, (std::vector<D3DFORMAT>{D3DFMT_D16, D3DFMT_D24S8}));
    ASSERT_EQ(full.multiSamples.size(), 2u);
    EXPECT_EQ(full.multiSamples[1].type, D3DMULTISAMPLE_2_SAMPLES);
    EXPECT_EQ(full.multiSamples[1].qualityLevels, 3u);
    EXPECT_EQ(full.depthMultiSamples.size(), 4u);
    EXPECT_EQ(full.vertexProcessing, (std::vector<std::int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(full.presentIntervals, (std::vector<UINT>{D3DPRESENT_INTERVAL_IMMEDIATE, D3DPRESENT_INTERVAL_DEFAULT,
                                                        D3DPRESENT_INTERVAL_ONE, D3DPRESENT_INTERVAL_TWO}));
    // A windowed combination never waits more than one refresh.
    EXPECT_EQ(hal.combinations[1].presentIntervals,
              (std::vector<UINT>{D3DPRESENT_INTERVAL_IMMEDIATE, D3DPRESENT_INTERVAL_DEFAULT, D3DPRESENT_INTERVAL_ONE}));
    // Device types the adapter lacks answer "not available": their
    // combinations are made without capabilities.
    const VideoDeviceRecord& reference = adapter.devices[1];
    ASSERT_EQ(reference.combinations.size(), 8u);
    EXPECT_EQ(reference.combinations[0].depthFormats, (std::vector<D3DFORMAT>{D3DFMT_D16}));
    EXPECT_TRUE(logged("Can't get device(0,2) [REF] caps: This device does not support the queried technique"));
}

TEST_F(VideoDeviceTest, ANewDeviceGetsTheStateCacheDefaultsAndMissingShadersLeaveTheFixedPipeline) {
    install(kShaderCard);
    createDevice();
    ASSERT_FALSE(video.fixedPipeline);
    // The creation forced the known state through the render core's cache.
    DXStateCache& cache = render.stateCache();
    EXPECT_EQ(cache.device(), device().device());
    DWORD value = 0;
    ASSERT_EQ(device().device()->GetRenderState(D3DRS_COLORWRITEENABLE, &value), S_OK);
    EXPECT_EQ(value, 0xFu);
    EXPECT_EQ(cache.renderCurrent[DXStateCache::RsZFunc], D3DCMP_LESSEQUAL);

    // No shader package: the device still starts, on the fixed pipeline.
    EXPECT_TRUE(render.initializeDevice());
    EXPECT_TRUE(logged("Fail to load shaders data package at ["));
    EXPECT_TRUE(logged("Shaders are not available: drawing with the fixed pipeline"));
    EXPECT_TRUE(video.fixedPipeline);
    EXPECT_TRUE(device().isFixedPipeline());
    EXPECT_EQ(cache.stageFixedPipeline, 1u);
}

// The render core's frame on the device.
namespace {

// A context whose items are its own numbers (their instance field); it
// records what it is asked.
class RecordingContext : public ObjectContext {
public:
    explicit RecordingContext(RenderList& list) : list_(list) {}
    void update(const Matrix34&) override {
        ++updates;
        for (int queue = 0; queue < 2; ++queue)
            for (int i = 0; i < 3; ++i)
                list_.queues[queue].insert(0, DrawItem{object, queue * 10 + i, 0, 0, 0, float(i), float(i)});
    }
    bool cull() override {
        // A render pass holds the list: the release is refused.
        if (releaseOnCull) released = releaseRenderObject(*object);
        return true;
    }
    std::int32_t render(const DrawItem* items, std::int32_t, std::int32_t index, std::int32_t step) override {
        drawn.push_back(items[index].instance);
        secondary.push_back(gameCore.render->secondaryPass);
        return index + step;
    }
    RenderList& list_;
    RenderObject* object = nullptr;
    int updates = 0;
    bool releaseOnCull = false;
    bool released = false;
    // The three values of each rain-map pass, and the shader core's
    // view-projection then.
    bool renderRainMap(float a, float b, float c) override {
        broadcasts.push_back({a, b, c});
        const D3DMATRIX& m = gameCore.render->shaders().frame.viewProjection;
        std::memcpy(broadcastViewProjection, &m.m[0][0], sizeof broadcastViewProjection);
        return true;
    }
    std::vector<std::int32_t> drawn;
    // Whether each drawn item was drawn in a secondary pass.
    std::vector<bool> secondary;
    std::vector<std::vector<float>> broadcasts;
    float broadcastViewProjection[16] = {};
};

// A recording context in the render list, its items 10 to 12 in queue 1
// and 0 to 2 in queue 0, seen by a camera that the frame draws through.
struct RecordingScene {
    explicit RecordingScene(RenderCore& render)
        : made(new RecordingContext(render.renderList)), context(*made), camera(nullptr, "test") {
        object.name = "recorder";
        context.object = &object;
        createRenderObject(object, made);
        camera.initialize(-1.0f);
        render.camera = &camera;
    }
    ~RecordingScene() {
        releaseRenderObject(object);
        if (gameCore.render) gameCore.render->renderList.clearQueues();
    }
    RenderObject object;
    RecordingContext* made;
    RecordingContext& context;
    CameraCore camera;
};

}  // namespace

TEST_F(VideoDeviceTest, FrameDrawsTheSceneByStateAndRenderMode) {
    install(kShaderCard);
    createDevice();
    RecordingScene scene(render);
    RecordingContext& context = scene.context;

    // State 0, render mode 10: object pass 2; bucket 1 forward, then bucket 0 backward.
    gameCore.gameState = 0;
    const std::uint64_t before = presents();
    ASSERT_TRUE(render.mainLoop());
    EXPECT_EQ(context.updates, 1);
    EXPECT_EQ(render.lastObjectPassMode, 2);
    EXPECT_EQ(context.drawn, (std::vector<std::int32_t>{10, 11, 12, 2, 1, 0}));
    EXPECT_EQ(render.renderList.flags & RenderList::FlagLocked, 0u);
    ASSERT_TRUE(device().presentScene());

    // State 6 (and above 11): no update, no scene pass; the frame is still drawn.
    for (std::int32_t state : {6, 12}) {
        gameCore.gameState = state;
        context.drawn.clear();
        ASSERT_TRUE(render.mainLoop()) << state;
        EXPECT_EQ(context.updates, 1) << state;
        EXPECT_EQ(render.lastObjectPassMode, -1) << state;
        EXPECT_TRUE(context.drawn.empty()) << state;
        ASSERT_TRUE(device().presentScene());
    }
    EXPECT_EQ(presents() - before, 3u);

    // State 9 gives mode 7: contexts are updated but none is drawn.
    gameCore.gameState = 9;
    context.drawn.clear();
    ASSERT_TRUE(render.mainLoop());
    EXPECT_EQ(render.lastObjectPassMode, 7);
    EXPECT_TRUE(context.drawn.empty());
    ASSERT_TRUE(device().presentScene());

    // A context that tries to leave during the frame is refused: the list
    // is locked, and the context goes on being updated and drawn.
    gameCore.gameState = 0;
    context.releaseOnCull = true;
    context.drawn.clear();
    const int updates = context.updates;
    ASSERT_TRUE(render.mainLoop());
    EXPECT_TRUE(logged("Can't release render object [recorder]: Render context locked"));
    EXPECT_FALSE(context.released);
    EXPECT_EQ(context.updates, updates + 1);
    EXPECT_EQ(context.drawn, (std::vector<std::int32_t>{10, 11, 12, 2, 1, 0}));
    EXPECT_EQ(render.renderList.head, &scene.object);
    ASSERT_TRUE(device().presentScene());
}

TEST_F(VideoDeviceTest, AFrameDrawsTheRequestedMirrorBeforeTheScene) {
    install(kShaderCard);
    createDevice();
    // The default video options ("high") use the water reflection; its
    // target is made with the render data (as after a scene load).
    ASSERT_TRUE(render.allocateDeviceData(0));
    ASSERT_NE(render.mirrorTarget(), nullptr);
    ASSERT_NE(render.mirrorTarget()->texture, nullptr);
    RecordingScene scene(render);
    RecordingContext& context = scene.context;
    CameraCore& camera = scene.camera;
    gameCore.gameState = 0;
    const std::vector<std::int32_t> order = {10, 11, 12, 2, 1, 0};

    // No surface asks for a mirror: the scene alone, and no mirror for water.
    ASSERT_TRUE(render.mainLoop());
    EXPECT_EQ(context.updates, 1);
    EXPECT_EQ(context.drawn, order);
    EXPECT_FALSE(render.mirrorDrawn());
    ASSERT_TRUE(device().presentScene());

    // A reflecting surface asks for it: the mirror pass draws the contexts
    // as a secondary pass from the reflected camera, then the scene pass
    // draws them from the camera itself.
    const float point[3] = {0.0f, -1.0f, 0.0f}, normal[3] = {0.0f, 1.0f, 0.0f};
    float view[16];
    std::memcpy(view, camera.viewMatrix, sizeof view);
    camera.setMirrorPlane(point, normal);
    context.drawn.clear();
    context.secondary.clear();
    ASSERT_TRUE(render.mainLoop());
    EXPECT_EQ(context.updates, 3);
    std::vector<std::int32_t> twice = order;
    twice.insert(twice.end(), order.begin(), order.end());
    EXPECT_EQ(context.drawn, twice);
    EXPECT_EQ(context.secondary, (std::vector<bool>{true, true, true, true, true, true, false, false, false, false,
                                                    false, false}));
    EXPECT_TRUE(render.mirrorDrawn());
    EXPECT_EQ(std::memcmp(view, camera.viewMatrix, sizeof view), 0);
    EXPECT_EQ(std::memcmp(view, render.cameraFrame.view, sizeof view), 0);
    EXPECT_FALSE(camera.clipPlaneSet);
    EXPECT_EQ(render.renderList.flags & RenderList::FlagLocked, 0u);
    ASSERT_TRUE(device().presentScene());

    // Drawn once for each request: the next frame has no mirror again.
    ASSERT_TRUE(render.mainLoop());
    EXPECT_EQ(context.updates, 4);
    EXPECT_FALSE(render.mirrorDrawn());
    ASSERT_TRUE(device().presentScene());
}

// The soft shadows blur the shadow map across into the second shadow
// target and back; when drawing into either cannot begin, the failing pass
// is named and the shadow map's link is released (its users skip it).
TEST_F(VideoDeviceTest, SoftShadowBlurFailuresReleaseTheShadowMap) {
    install(kShaderCard);
    const struct {
        const char* target;  // loses its render-to-surface object
        const char* message;
    } cases[] = {{nullptr, nullptr},
                 {"ProcSHADOW2", "Can't render blur X in Soft shadow: procshadow2"},
                 {"ProcSHADOW1", "Can't render blur Y in Soft shadow: procshadow1"}};
    video.activeVideoSetup().shadows = 2;  // "soft", with details "high"
    createDevice();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target ? c.target : "none");
        ASSERT_TRUE(render.allocateDeviceData(0));
        RenderTargetLinks links = render.targetLinks();
        ASSERT_TRUE(links.shadow1.handler() && links.shadow2.handler());
        if (c.target)
            dynamic_cast<ProcRenderTarget*>(render.builtinTextures.find(c.target)->handler())->releaseTargetObjects();
        EXPECT_EQ(render.blurSoftShadows(2.0f), c.target == nullptr);
        EXPECT_EQ(links.shadow1.handler() != nullptr, c.target == nullptr);
        if (c.message) EXPECT_TRUE(logged(c.message));
        // The device data made anew: the targets attached and drawable again.
        render.releaseDeviceData();
        ASSERT_TRUE(render.allocate_device());
    }
}

// The rain map's scene pass: the scene seen from above over the area, the
// contexts updated and handed the area's values under the orthographic
// top-down view; the frame's camera is back afterwards. A target without a
// texture is made one it can be drawn into.
TEST_F(VideoDeviceTest, TheTopDownScenePassHandsTheAreaToTheContexts) {
    install(kShaderCard);
    createDevice();
    RecordingScene scene(render);
    render.takeCamera();
    ProcHDR rainMap("procrainmap");
    rainMap.width = rainMap.height = 32;
    TopDownArea area;
    area.minX = -10.0f, area.maxX = 30.0f, area.minZ = 5.0f, area.maxZ = 25.0f;
    area.bottom = -2.0f, area.top = 18.0f;
    area.values[0] = 1.5f, area.values[1] = 2.5f, area.values[2] = 3.5f;
    ASSERT_TRUE(rainMap.renderScenePass(area));
    ASSERT_NE(rainMap.texture, nullptr);
    EXPECT_EQ(rainMap.usage, DWORD(D3DUSAGE_RENDERTARGET));
    EXPECT_EQ(scene.context.updates, 1);
    ASSERT_EQ(scene.context.broadcasts.size(), 1u);
    EXPECT_EQ(scene.context.broadcasts[0], (std::vector<float>{1.5f, 2.5f, 3.5f}));
    // Corners of the area: west-north-top to the picture's upper left at
    // depth 0, east-south-bottom to its lower right at depth 1.
    auto project = [&](float x, float y, float z, float* out) {
        const float p[4] = {x, y, z, 1.0f};
        for (int c = 0; c < 4; ++c) {
            out[c] = 0.0f;
            for (int k = 0; k < 4; ++k) out[c] += p[k] * scene.context.broadcastViewProjection[k * 4 + c];
        }
    };
    float clip[4];
    project(area.minX, area.top, area.minZ, clip);
    EXPECT_NEAR(clip[0], -1.0f, 1e-5f);
    EXPECT_NEAR(clip[1], 1.0f, 1e-5f);
    EXPECT_NEAR(clip[2], 0.0f, 1e-5f);
    EXPECT_NEAR(clip[3], 1.0f, 1e-5f);
    project(area.maxX, area.bottom, area.maxZ, clip);
    EXPECT_NEAR(clip[0], 1.0f, 1e-5f);
    EXPECT_NEAR(clip[1], -1.0f, 1e-5f);
    EXPECT_NEAR(clip[2], 1.0f, 1e-5f);
    EXPECT_EQ(render.renderList.flags & RenderList::FlagLocked, 0u);
    EXPECT_EQ(std::memcmp(&render.shaders().frame.viewProjection, scene.camera.viewProjection, 64), 0);
}

TEST_F(VideoDeviceTest, AUserClipPlaneIsRecordedInTheStateCache) {
    install(kShaderCard);
    const float plane[4] = {0.0f, 1.0f, 0.0f, 2.0f};
    EXPECT_FALSE(device().setClipPlane(plane));  // no device yet
    createDevice();
    DXStateCache& cache = render.stateCache();
    ASSERT_TRUE(device().setClipPlane(plane));
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsClipPlaneEnable], 1u);
    ASSERT_TRUE(device().setClipPlane(nullptr));
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsClipPlaneEnable], 0u);
}

TEST_F(VideoDeviceTest, FrameCounterWrapsAtAThousand) {
    install(kShaderCard);
    createDevice();
    render.frameCounter = 998;
    ASSERT_TRUE(render.mainLoop());
    EXPECT_EQ(render.frameCounter, 999);
    ASSERT_TRUE(device().presentScene());
    ASSERT_TRUE(render.mainLoop());
    EXPECT_EQ(render.frameCounter, 0);
    ASSERT_TRUE(device().presentScene());
}

TEST_F(VideoDeviceTest, AMissingSplashDrawsNothing) {
    install(kShaderCard);
    createDevice();
    const std::uint64_t before = presents();
    EXPECT_TRUE(render.renderSplash());
    EXPECT_EQ(presents(), before);
    EXPECT_TRUE(logged("Texture import failed: Expected external texture"));
    EXPECT_EQ(render.stillFrames().data.itemCount(), 0);
}

TEST(RenderCoreTables, ObjectPassByStateAndBuiltinLinks) {
    const std::int32_t expected[12] = {2, 4, 4, 4, 6, 0, 1, 1, 2, 7, 8, 5};
    for (std::int32_t state = 0; state < 12; ++state) EXPECT_EQ(RenderCore::objectPassMode(10, state), expected[state]);
    EXPECT_EQ(RenderCore::objectPassMode(3, 0), 3);
    RenderBuiltinTextures builtins;
    TextureLink* cube = builtins.find("procNormalizerCubeMap");
    ASSERT_NE(cube, nullptr);
    EXPECT_EQ(cube->type, 1u);
    EXPECT_EQ(cube->addressU, 3u);
    TextureLink* mirror = builtins.find("ProcMirror");
    ASSERT_NE(mirror, nullptr);
    EXPECT_STREQ(mirror->baseName(), "procmirror");
    EXPECT_EQ(mirror->addressV, 0u);
    EXPECT_NE(builtins.find("procsavescreenshot"), nullptr);
}
