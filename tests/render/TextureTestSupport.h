// Textures on the null Direct3D 9 backend: a device, a texture environment
// with package files in memory, a manual clock and a chosen video mode, and
// a render core whose library is the game core's.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Image.h"
#include "model/DXStreams.h"
#include "platform/D3D9TestSupport.h"
#include "render/RenderCore.h"
#include "render/TextureLibrary.h"
#include "render/TextureLink.h"
#include "render/VideoSetup.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "support/TestSupport.h"
#include "textures/DdsWriter.h"
#include "textures/MemoryTextureEnvironment.h"
#include "ui/StillFrameData.h"

namespace texture_test {

// A colour read back from a picture, and its check within a tolerance.
struct Rgb {
    int r, g, b;
};

inline ::testing::AssertionResult near(const Rgb& seen, const Rgb& wanted, int tolerance) {
    if (std::abs(seen.r - wanted.r) <= tolerance && std::abs(seen.g - wanted.g) <= tolerance &&
        std::abs(seen.b - wanted.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "seen (" << seen.r << ", " << seen.g << ", " << seen.b << "), wanted ("
                                         << wanted.r << ", " << wanted.g << ", " << wanted.b << ")";
}

using FakeEnvironment = texture_tools::MemoryTextureEnvironment;

class TextureTest : public d3d9_test::D3D9Test {
protected:
    void SetUp() override {
        D3D9Test::SetUp();
        open();
        environment_.deviceInUse = device;
        environment_.setup.quality = 2;  // loaded as stored (no DXT), so texels read back
        setTextureEnvironment(&environment_);
        savedRender_ = gameCore.render;
        render_ = std::make_unique<RenderCore>();
        gameCore.render = render_.get();
        TextureLibrary::mutableSettings() = TextureLibrarySettings();
    }
    void TearDown() override {
        // Still-frame items hold texture links: they go before the textures.
        render_->stillFrames().data.releaseAll();
        render_->textures.releaseAll();
        render_.reset();
        gameCore.render = savedRender_;
        setTextureEnvironment(nullptr);
        TextureLibrary::mutableSettings() = TextureLibrarySettings();
        D3D9Test::TearDown();
    }

    TextureLibrary& library() { return render_->textures; }
    // The render core's state cache and shader core draw on the device (as
    // after a device creation), for tests that draw through them.
    void attachStateCache() {
        render_->stateCache().setDevice(device);
        render_->shaders().attach(device, &render_->stateCache());
        // The vertex formats' declarations, made with the device objects.
        EXPECT_TRUE(render_->streamDeclarations().allocate(device));
    }
    FakeEnvironment& env() { return environment_; }

    // Encoded images for the package files.
    static std::vector<std::uint8_t> encode(TgaImage& image, int format) {
        MemoryStream stream;
        EXPECT_TRUE(encodeImage(format, image, stream, 100));
        return std::vector<std::uint8_t>(stream.data(), stream.data() + stream.size());
    }
    static TgaImage solid(std::uint32_t width, std::uint32_t height, std::uint8_t red, std::uint8_t green,
                          std::uint8_t blue) {
        TgaImage image;
        image.create(false, width, height);
        image.fillRgb(red, green, blue);
        return image;
    }
    void addDds(const std::string& name, UINT width = 16, UINT height = 16,
                D3DFORMAT format = D3DFMT_A8R8G8B8) {
        environment_.files[name + ".dds"] =
            texture_tools::writeDds(texture_tools::countingDds(format, width, height, 1));
    }
    // The texel (x, y) of level 0 of a 2D texture: 4 bytes, or 1 for L8.
    static std::uint32_t texel(IDirect3DBaseTexture9* texture, UINT x, UINT y) {
        auto* flat = static_cast<IDirect3DTexture9*>(texture);
        D3DSURFACE_DESC desc{};
        flat->GetLevelDesc(0, &desc);
        D3DLOCKED_RECT locked{};
        if (FAILED(flat->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return 0xDEADBEEF;
        const auto* row = static_cast<const std::uint8_t*>(locked.pBits) + static_cast<std::size_t>(y) * locked.Pitch;
        std::uint32_t value = 0;
        if (desc.Format == D3DFMT_L8)
            value = row[x];
        else
            std::memcpy(&value, row + x * 4, 4);
        flat->UnlockRect(0);
        return value;
    }

    testing_support::ScopedGameCore core_;
    FakeEnvironment environment_;
    std::unique_ptr<RenderCore> render_;
    RenderCore* savedRender_ = nullptr;
};

}  // namespace texture_test
