// A scene with a sky drawn on the GL backend as the game draws it: the
// render core started with the shader package and the sky dome, the scene
// pushed as the game's current scene, frames stepped and read back (64 x 64).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/SkyDataManager.h"
#include "effects/Y3Sky.h"
#include "foundation/TimeCore.h"
#include "model/DXStreams.h"
#include "platform/D3D9TestSupport.h"
#include "render/RenderCore.h"
#include "render/ShaderPackageSupport.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "scene/CameraCore.h"
#include "scene/CameraFixture.h"
#include "support/TestSupport.h"
#include "textures/MemoryTextureEnvironment.h"

namespace sky_test {

class SkySceneGLFixture : public d3d9_test::D3D9Test {
protected:
    // The GL device and the render core as its start and device allocation
    // leave them for the sky; texture files may be added until the scene
    // is entered.
    void startRender() {
        environment.backend = platform::d3d9::BackendKind::GL;
        D3D9Test::SetUp();
        device = createDevice(parameters);
        ASSERT_NE(device, nullptr) << allLines();
        ASSERT_TRUE(testing_support::installShaderPackage(core, folder));
        textures.deviceInUse = device;
        textures.setup.details = 1;
        setTextureEnvironment(&textures);
        render = std::make_unique<RenderCore>();
        savedRender = gameCore.render;
        gameCore.render = render.get();
        ASSERT_TRUE(testing_support::startRenderOnDevice(*render, device)) << allLines();
        render->textures.allocated = true;
        ASSERT_TRUE(render->skyDome.build());
        ASSERT_TRUE(render->skyDome.createBuffers(device)) << allLines();
    }

    // The scene "camroom" with the given stored files (and the models of the
    // model writer's descriptions beside the fixture's boxes), pushed as the game's
    // current scene (whose sky the game core's services set and whose
    // record gives the frame's clear colour); the camera keeps the pose the
    // frames place.
    void enterScene(std::vector<testing_support::FixtureFile> files, std::initializer_list<std::string> models = {}) {
        world = std::make_unique<testing_support::CameraScene>(models, std::move(files));
        ASSERT_TRUE(world->scene->sky && world->scene->sky->description);
        ASSERT_TRUE(world->scene->push()) << allLines();
        game = std::make_unique<SaveGame>();
        useGame.emplace(gameCore.game, game.get());
        game->scenes.push_back(world->scene->id);
        game->currentIndex = 0;
        savedCameraMode = gameCore.cameraMode;
        gameCore.cameraMode = 1;
        render->camera = &world->camera();
    }

    void TearDown() override {
        if (render) {
            render->renderList.clearQueues();
            render->camera = nullptr;
        }
        if (game) game->scenes.clear();
        useGame.reset();
        game.reset();
        if (world) {
            world->scene->dropRain();
            for (TextureLink& layer : world->scene->sky->layers) layer.release(false);
            if (world->scene->onStack()) world->scene->pop(0);
        }
        world.reset();
        gameCore.cameraMode = savedCameraMode;
        if (render) {
            render->skyDome.releaseBuffers();
            render->releaseBuiltinTextures();
            render->textures.releaseAll();
            render->shaders().release();
        }
        render.reset();
        gameCore.render = savedRender;
        setTextureEnvironment(nullptr);
        D3D9Test::TearDown();
    }

    // One frame of the game after step seconds, the camera at the origin
    // looking level along +z: the scene's step (its sky scrolls and
    // publishes), the render core's context update and the object pass into
    // the frame cleared as the video device clears it, to the sky's
    // background colour. The frame's bytes, and the primitives and draws it
    // made when asked.
    std::vector<std::uint8_t> frame(double step, std::uint64_t* primitives = nullptr, std::uint64_t* draws = nullptr) {
        Scene& scene = *world->scene;
        world->camera().pose = testing_support::poseAt(0.0f, 0.0f, 0.0f);
        frameTime += step;
        const CurrentTime sample = testing_support::frameAt(frameTime, step);
        EXPECT_TRUE(scene.updatePhase0(sample, 0));
        EXPECT_TRUE(scene.updatePhase1(sample, 0));
        EXPECT_TRUE(scene.updatePhase3(sample, 0));
        render->takeCamera();
        render->updateContexts();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, render->refreshBackground(), 1.0f, 0);
        const platform::d3d9::DeviceStatistics before = *platform::d3d9::statistics(device);
        device->BeginScene();
        render->shaders().resetPass();
        render->renderObjectContexts();
        device->EndScene();
        const platform::d3d9::DeviceStatistics& after = *platform::d3d9::statistics(device);
        if (primitives) *primitives = after.primitives - before.primitives;
        if (draws) *draws = after.draws - before.draws;
        std::vector<std::uint8_t> bytes;
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        D3DSURFACE_DESC desc{};
        EXPECT_TRUE(back && platform::d3d9::readSurface(back, bytes, desc));
        if (back) back->Release();
        bytes.resize(std::size_t(64) * 64 * 4);
        return bytes;
    }

    D3DPRESENT_PARAMETERS parameters = windowed(64, 64);
    testing_support::TempDir folder;
    testing_support::ScopedGameCore core{true};
    VideoCore video;
    testing_support::ScopedCoreMember<VideoCore> useVideo{gameCore.video, &video};
    SkyDataManager skies;
    testing_support::ScopedCoreMember<SkyDataManager> useSkies{gameCore.skyData, &skies};
    texture_tools::MemoryTextureEnvironment textures;
    std::unique_ptr<RenderCore> render;
    RenderCore* savedRender = nullptr;
    std::unique_ptr<testing_support::CameraScene> world;
    std::unique_ptr<SaveGame> game;
    std::optional<testing_support::ScopedCoreMember<SaveGame>> useGame;
    std::int32_t savedCameraMode = 0;
    double frameTime = 0.0;
};

}  // namespace sky_test
