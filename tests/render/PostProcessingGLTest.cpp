// The post-processing passes drawn on the GL backend of our Direct3D 9 with
// the carried post-processing programs: a blurred checkerboard keeps its
// mean brightness, and bloom spreads a bright region into its neighbours.
// Pictures are checked by their read-back texels, never against stored
// images.
#include <gtest/gtest.h>

#include <algorithm>

#include "render/PostProcessing.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderSettings.h"
#include "render/TextureTestSupport.h"
#include "render/states/DXStateCache.h"
#include "scene/CameraCore.h"

namespace {

class PostProcessingGLTest : public texture_test::TextureTest {
protected:
    void SetUp() override {
        environment.backend = platform::d3d9::BackendKind::GL;
        TextureTest::SetUp();
        ASSERT_NE(device, nullptr) << allLines();
        library().allocated = true;
    }
    void TearDown() override {
        render_->targetLinks().releaseAll();
        render_->postPasses.release();
        TextureTest::TearDown();
    }

    // The red channel of every pixel of a surface, row by row.
    std::vector<int> reds(IDirect3DSurface9* surface, D3DSURFACE_DESC& desc) {
        std::vector<std::uint8_t> bytes;
        EXPECT_TRUE(platform::d3d9::readSurface(surface, bytes, desc));
        std::vector<int> out;
        for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) out.push_back(bytes[i + 2]);
        return out;
    }
    std::vector<int> reds(ProcRenderTarget& target, D3DSURFACE_DESC& desc) {
        IDirect3DSurface9* surface = nullptr;
        EXPECT_EQ(target.texture2D()->GetSurfaceLevel(0, &surface), S_OK);
        std::vector<int> out = reds(surface, desc);
        surface->Release();
        return out;
    }
};

double mean(const std::vector<int>& values) {
    double sum = 0.0;
    for (int v : values) sum += v;
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

}  // namespace

TEST_F(PostProcessingGLTest, ABlurredCheckerboardKeepsItsMean) {
    // 32 x 32 texels in cells of 4 x 4, black and white.
    texture_tools::DdsImage checker;
    checker.width = checker.height = 32;
    std::vector<std::uint8_t> texels;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const std::uint8_t v = ((x / 4 + y / 4) % 2) ? 255 : 0;
            texels.insert(texels.end(), {v, v, v, 255});
        }
    checker.blocks.push_back(texels);
    env().files["checker.dds"] = texture_tools::writeDds(checker);
    TextureLink source;
    source.init("checker");
    ASSERT_TRUE(source.allocateDefault(0, false)) << allLines();

    ProcHDR blurred("blurred");
    blurred.width = blurred.height = 32;
    blurred.format = D3DFMT_A8R8G8B8;
    ASSERT_TRUE(blurred.allocate()) << allLines();
    ASSERT_TRUE(render_->postPasses.create(device)) << allLines();
    for (const int taps : {13, 5}) {
        SCOPED_TRACE(taps);
        ASSERT_TRUE(blurred.generateBlur(render_->postPasses, source, 1.0f, 0.0f, 5.0f, taps, 0)) << allLines();
        D3DSURFACE_DESC desc{};
        const std::vector<int> picture = reds(blurred, desc);
        ASSERT_EQ(picture.size(), 32u * 32u);
        // The mean stays within 2 % of the checkerboard's (127.5) ...
        EXPECT_NEAR(mean(picture), 127.5, 0.02 * 127.5);
        // ... while the cells' contrast along a row is smoothed away.
        const auto row = picture.begin() + 16 * 32;
        const auto [low, high] = std::minmax_element(row + 4, row + 28);
        EXPECT_LT(*high - *low, 200);
        EXPECT_GT(*low, 10);
    }
    source.release(false);
}

TEST_F(PostProcessingGLTest, BloomSpreadsABrightRegionIntoItsNeighbours) {
    // The back buffer (64 x 32): black with a white block in the middle;
    // blurs one texel wide, so that the block stays above the bright
    // pass's threshold.
    const RenderSettings saved = renderSettings;
    renderSettings.hdrBloomBlurOffsetX = renderSettings.hdrBloomBlurOffsetY = 1.0f;
    const RECT square{24, 12, 40, 20};
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0), S_OK);
    ASSERT_EQ(device->Clear(1, &square, D3DCLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0), S_OK);
    env().setup.details = 2;
    env().setup.pp_bloom = 1;
    ASSERT_TRUE(render_->allocateHDRTargets()) << allLines();
    CameraCore camera(nullptr, "test");
    render_->camera = &camera;
    ASSERT_TRUE(render_->renderEffects(env().setup)) << allLines();
    render_->camera = nullptr;
    renderSettings = saved;
    ASSERT_TRUE(render_->effectFrames[1].shown);

    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
    D3DSURFACE_DESC backDesc{};
    const std::vector<int> scene = reds(back, backDesc);
    back->Release();
    auto* bloom = dynamic_cast<ProcRenderTarget*>(render_->targetLinks().hdr5.handler());
    ASSERT_NE(bloom, nullptr);
    D3DSURFACE_DESC desc{};
    const std::vector<int> glow = reds(*bloom, desc);
    ASSERT_EQ(desc.Width, 32u);  // half the back buffer
    ASSERT_EQ(desc.Height, 16u);
    auto sceneAt = [&](int x, int y) { return scene[static_cast<std::size_t>(y) * backDesc.Width + x]; };
    auto glowAt = [&](int x, int y) { return glow[static_cast<std::size_t>(y) * desc.Width + x]; };
    EXPECT_GT(glowAt(16, 8), 40);  // the bright region itself
    // Beside the square, where the scene is black, bloom adds light: the
    // frame with the bloom frame over it is brighter there.
    for (const auto& [x, y] : {std::pair{20, 16}, std::pair{44, 16}, std::pair{32, 8}}) {
        SCOPED_TRACE(testing::Message() << x << ", " << y);
        EXPECT_EQ(sceneAt(x, y), 0);
        EXPECT_GT(glowAt(x / 2, y / 2), 8);
    }
    // Far away it stays dark.
    EXPECT_LT(glowAt(1, 1), 4);
}

// A pass binds its own declaration, stream and programs on the device: the
// state cache then sends the drawing's own again, so a draw after the
// effects does not run on the pass's quad or without its programs.
class PostProcessingBindingsTest : public texture_test::TextureTest {
protected:
    void SetUp() override {
        environment.callLog = calls;
        TextureTest::SetUp();
        ASSERT_NE(device, nullptr) << allLines();
    }
    void TearDown() override {
        render_->targetLinks().releaseAll();
        render_->postPasses.release();
        TextureTest::TearDown();
    }
    std::shared_ptr<platform::d3d9::CallLog> calls = std::make_shared<platform::d3d9::CallLog>();
};

TEST_F(PostProcessingBindingsTest, ADrawAfterAPassGetsItsOwnBindingsBack) {
    attachStateCache();
    DXStateCache& cache = render_->stateCache();
    IDirect3DVertexShader9* shader = createTestVertexShader();
    ASSERT_NE(shader, nullptr);
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(6 * 24, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), S_OK);
    auto draw = [&] {
        cache.setVertexShader(shader);
        cache.setStream(buffer, 24);
        cache.setDeclaration(2);
        cache.apply();
    };
    draw();

    ASSERT_TRUE(render_->postPasses.create(device)) << allLines();
    ASSERT_EQ(device->BeginScene(), S_OK);
    ASSERT_TRUE(render_->postPasses.drawPass(PostProcessing::Blur, nullptr, nullptr, 8, 8, nullptr, 0)) << allLines();
    ASSERT_EQ(device->EndScene(), S_OK);

    const std::size_t mark = calls->lines.size();
    draw();
    std::string sent;
    for (std::size_t i = mark; i < calls->lines.size(); ++i) sent += calls->lines[i] + "\n";
    EXPECT_NE(sent.find(std::string("SetVertexShader(") + shader->GetDebugName() + ")"), std::string::npos) << sent;
    EXPECT_NE(sent.find(std::string("SetStreamSource(0, ") + buffer->GetDebugName() + ", 0, 24)"), std::string::npos)
        << sent;
    EXPECT_NE(sent.find("SetVertexDeclaration("), std::string::npos) << sent;
    buffer->Release();
    shader->Release();
}
