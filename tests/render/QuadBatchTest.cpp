#include "render/QuadBatch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "effects/ParticlePoint.h"
#include "model/DXStreams.h"
#include "render/Material.h"
#include "render/TextureTestSupport.h"
#include "ui/StillFrameItem.h"

namespace {

class QuadBatchTest : public texture_test::TextureTest {
protected:
    void SetUp() override {
        TextureTest::SetUp();
        attachStateCache();
        batch.attach(&render_->stateCache(), &render_->shaders());
        ASSERT_EQ(device->BeginScene(), S_OK);
    }
    void TearDown() override {
        batch.release();
        if (device) device->EndScene();
        EXPECT_EQ(platform::d3d9::statistics(device)->refused, 0u) << allLines();
        TextureTest::TearDown();
    }
    std::uint64_t draws() const { return platform::d3d9::statistics(device)->draws; }
    // A run of count triangle vertices at z = 0.5, one colour.
    bool append(std::int32_t count, Material* material = nullptr,
                const StillFrameItemState* state = nullptr) {
        std::vector<float> positions(std::size_t(count) * 3, 0.5f);
        const std::uint32_t colour = 0xFF00FF00;
        return batch.addVertices(QuadBatch::KindTriangles, nullptr, nullptr, positions.data(), nullptr, count, &colour,
                                 1, material, state);
    }

    QuadBatch batch;
};

TEST_F(QuadBatchTest, RunsWithTheSameStatesShareOneDraw) {
    StillFrameItemState a, b;  // two records that compare equal
    ASSERT_TRUE(append(6, nullptr, &a));
    ASSERT_TRUE(append(6, nullptr, &b));
    EXPECT_EQ(batch.used(), 12);
    const std::uint64_t before = draws();
    ASSERT_TRUE(batch.flush());
    EXPECT_EQ(draws() - before, 1u);
    EXPECT_EQ(platform::d3d9::statistics(device)->primitives, 4u);
    EXPECT_EQ(batch.drawn(), 12);
    EXPECT_EQ(batch.kind(), QuadBatch::KindNone);
    EXPECT_TRUE(batch.flush());  // nothing pending
    EXPECT_EQ(draws() - before, 1u);

    // Another state mode cannot merge: the pending run is drawn first.
    StillFrameItemState other;
    other.mode = 1;
    ASSERT_TRUE(append(3, nullptr, &a));
    ASSERT_TRUE(append(3, nullptr, &other));
    EXPECT_EQ(draws() - before, 2u);
}

TEST_F(QuadBatchTest, ANewMaterialDiscardsAndStartsAtZero) {
    Material first, second;
    second.blendMode = 2;
    ASSERT_TRUE(append(6, &first));
    ASSERT_TRUE(batch.flush());
    ASSERT_TRUE(append(6, &first));  // same material: continues after the run
    EXPECT_EQ(batch.used(), 12);
    EXPECT_EQ(batch.drawn(), 6);
    ASSERT_TRUE(append(3, &second));  // flushes, discards, starts over
    EXPECT_EQ(batch.used(), 3);
    EXPECT_EQ(batch.drawn(), 0);
}

TEST_F(QuadBatchTest, OverflowFlushesAndDiscards) {
    ASSERT_TRUE(append(30000));
    const std::uint64_t before = draws();
    ASSERT_TRUE(append(30000));
    EXPECT_EQ(draws() - before, 1u);
    EXPECT_EQ(batch.used(), 30000);
    EXPECT_EQ(batch.drawn(), 0);
    EXPECT_FALSE(append(QuadBatch::kCapacity + 3));  // larger than the buffer
}

TEST_F(QuadBatchTest, ARunWithoutColoursIsRefused) {
    const float positions[9] = {};
    EXPECT_FALSE(batch.addVertices(QuadBatch::KindTriangles, nullptr, nullptr, positions, nullptr, 3, nullptr, 0,
                                   nullptr, nullptr));
    const std::uint32_t colour = 0;
    EXPECT_FALSE(batch.addVertices(QuadBatch::KindTriangles, nullptr, nullptr, positions, nullptr, 3, &colour, 0,
                                   nullptr, nullptr));
    EXPECT_EQ(batch.used(), 0);
}

TEST_F(QuadBatchTest, ReleaseForgetsTheRunAndTheNextAppendMakesTheBuffer) {
    EXPECT_FALSE(batch.release());
    ASSERT_TRUE(append(6));
    ASSERT_NE(batch.buffer(), nullptr);
    EXPECT_TRUE(batch.release());
    EXPECT_EQ(batch.buffer(), nullptr);
    EXPECT_EQ(batch.kind(), QuadBatch::KindNone);
    ASSERT_TRUE(append(6));
    EXPECT_NE(batch.buffer(), nullptr);
}

// The vertices a still-frame list wrote, read back from the buffer.
std::vector<QuadVertex> bufferVertices(const QuadBatch& batch, std::int32_t count) {
    std::vector<QuadVertex> out(static_cast<std::size_t>(count));
    void* data = nullptr;
    if (FAILED(batch.buffer()->Lock(0, 0, &data, D3DLOCK_READONLY))) return {};
    std::memcpy(out.data(), data, out.size() * sizeof(QuadVertex));
    batch.buffer()->Unlock();
    return out;
}

TEST_F(QuadBatchTest, StillFrameItemsBecomeQuads) {
    StillFrameQuad plain;
    plain.position[0] = 100.0f;
    plain.position[1] = 50.0f;
    plain.widthFactor = 200.0f;
    plain.heightFactor = 100.0f;
    plain.alpha = 2.0f;  // capped at 1
    plain.color[0] = 1.0f;
    plain.color[1] = 0.0f;
    plain.color[2] = 0.0f;
    StillFrameFrame frames[2];
    frames[1].texCoords[2] = 0.5f;
    StillFrameQuad framed;
    framed.frames = frames;
    framed.frameCount = 2;
    std::vector<StillFrameQuad> items = {plain, framed};
    const std::uint64_t before = draws();
    batch.drawList(items);
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(batch.used(), 18);  // one quad, then one per frame
    EXPECT_EQ(draws() - before, 1u);  // all three share one state

    const std::vector<QuadVertex> v = bufferVertices(batch, 18);
    ASSERT_EQ(v.size(), 18u);
    // Corners (0,0), (0,1), (1,0), (0,1), (1,0), (1,1) of the frameless item.
    const float expected[6][4] = {{100, 50, 0, 0}, {100, 150, 0, 1}, {300, 50, 1, 0},
                                  {100, 150, 0, 1}, {300, 50, 1, 0}, {300, 150, 1, 1}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(v[i].position[0], expected[i][0]) << i;
        EXPECT_FLOAT_EQ(v[i].position[1], expected[i][1]) << i;
        EXPECT_FLOAT_EQ(v[i].texCoord0[0], expected[i][2]) << i;
        EXPECT_FLOAT_EQ(v[i].texCoord0[1], expected[i][3]) << i;
        EXPECT_EQ(v[i].diffuse, 0xFFFF0000u) << i;
    }
    // A frame's corners are its rectangle plus 0.5; its texture coordinates its own.
    EXPECT_FLOAT_EQ(v[6].position[0], 0.5f);
    EXPECT_FLOAT_EQ(v[17].texCoord0[0], 0.5f);
}

TEST_F(QuadBatchTest, ACachedDrawAfterAFlushUsesItsOwnDeclaration) {
    // A model element's stream of format 2 ("DC", 24-byte vertices) drawn
    // through the cache, a quad run, then the element again: the device
    // draws it with its own declaration, not the batch's 44-byte one.
    DXVertexStream element;
    ASSERT_TRUE(element.allocate(device, 3, vertexStrideOf(2), 2, 0));
    auto drawElement = [&] {
        EXPECT_TRUE(element.setStreamSource());
        render_->stateCache().apply();
        return device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);
    };
    ASSERT_EQ(drawElement(), S_OK) << allLines();
    ASSERT_TRUE(append(6));
    ASSERT_TRUE(batch.flush());
    // With the batch's declaration the core refuses it: 24-byte vertices
    // under a 44-byte layout.
    EXPECT_EQ(drawElement(), S_OK) << allLines();
}

// A live point of a layer: centre, half sizes, atlas cell and colour.
ParticlePoint livePoint(float x, float y, float z, float halfWidth, float halfHeight) {
    ParticlePoint p;
    p.inView = 1;
    p.worldPosition[0] = x;
    p.worldPosition[1] = y;
    p.worldPosition[2] = z;
    p.width = halfWidth;
    p.height = halfHeight;
    p.axis[1] = 1.0f;
    p.texRect[0] = 0.25f;
    p.texRect[1] = 0.5f;
    p.texRect[2] = 0.25f;
    p.texRect[3] = 0.5f;
    p.color[0] = 1.0f;
    p.color[3] = 2.0f;  // capped at 1
    return p;
}

TEST_F(QuadBatchTest, ParticleQuadsInTheStillFrameScreen) {
    ParticlePoint points[3] = {livePoint(1.0f, 2.0f, 0.0f, 0.5f, 0.25f), livePoint(9, 9, 9, 1, 1),
                               livePoint(1.0f, 2.0f, 0.0f, 0.5f, 0.25f)};
    points[1].inView = 0;  // dead: no quad
    batch.addSpriteQuads(points, 3, SpriteScreen, nullptr, true);
    EXPECT_EQ(batch.used(), 12);
    EXPECT_TRUE(batch.flags & QuadBatch::FlagParticles2D);
    const std::vector<QuadVertex> v = bufferVertices(batch, 12);
    ASSERT_EQ(v.size(), 12u);
    EXPECT_FLOAT_EQ(v[0].position[0], 50.0f);            // (1 - 0.5) * 100
    EXPECT_FLOAT_EQ(v[0].position[1], 768.0f - 175.0f);  // 768 - (2 - 0.25) * 100
    EXPECT_FLOAT_EQ(v[0].position[2], 0.0f);
    // Corner (u, v) = (1, 1) of the atlas cell at (0.25, 0.5) sized (0.25, 0.5).
    EXPECT_FLOAT_EQ(v[0].texCoord0[0], 0.5f);
    EXPECT_FLOAT_EQ(v[0].texCoord0[1], 1.0f);
    EXPECT_EQ(v[0].diffuse, 0xFFFF0000u);
    EXPECT_FLOAT_EQ(v[6].position[0], 50.0f);  // the second live point
    // No live point: nothing appended.
    points[0].inView = points[2].inView = 0;
    batch.addSpriteQuads(points, 3, SpriteScreen, nullptr, true);
    EXPECT_EQ(batch.used(), 12);
}

TEST_F(QuadBatchTest, SpriteOrientationModesGiveTheQuadsAxes) {
    // The camera at the origin turned a quarter about y: right (0, 0, -1),
    // up (0, 1, 0), looking along +x.
    const float world[16] = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1};
    const float view[16] = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 0, 1};
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    render_->shaders().setCameraFrame(view, world, identity, view);

    struct Case {
        const char* name;
        std::int32_t mode;
        float axis[3];
        float velocity[3];
        float right[3];
        float up[3];
    };
    const Case cases[] = {
        {"screen, upright", SpriteScreen, {0, 1, 0}, {}, {0, 0, -1}, {0, 1, 0}},
        {"screen, turned a quarter", SpriteScreen, {1, 0, 0}, {}, {0, -1, 0}, {0, 0, -1}},
        {"facing the camera position", SpriteFacingCamera, {0, 1, 0}, {}, {1, 0, 0}, {0, 1, 0}},
        {"along the velocity", SpriteAlongVelocity, {0, 1, 0}, {0, 0, 3}, {0, 1, 0}, {0, 0, 1}},
        {"along the velocity, second mode", SpriteAlongVelocity2, {0, 1, 0}, {0, -2, 0}, {0, 0, 1}, {0, -1, 0}},
        {"no velocity: the screen axes", SpriteAlongVelocity, {0, 1, 0}, {}, {0, 0, -1}, {0, 1, 0}},
        {"own pose", SpriteOwnPose, {0, 1, 0}, {}, {0, 0, 1}, {0, 1, 0}},
        {"horizontal", SpriteHorizontal, {1, 0, 0}, {}, {0, 0, -1}, {1, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ParticlePoint p = livePoint(0.0f, 0.0f, 5.0f, 2.0f, 0.5f);
        std::memcpy(p.axis, c.axis, sizeof p.axis);
        std::memcpy(p.worldVelocity, c.velocity, sizeof p.worldVelocity);
        // Its birth pose: x along z, y along y, both scaled.
        p.birthPose[2] = 2.0f;
        p.birthPose[4] = 3.0f;
        batch.flags |= QuadBatch::FlagNewRun;
        batch.addSpriteQuads(&p, 1, c.mode, nullptr, false);
        ASSERT_EQ(batch.used(), 6);
        const std::vector<QuadVertex> v = bufferVertices(batch, 6);
        ASSERT_EQ(v.size(), 6u);
        // Corners (-1, -1), (-1, 1), (1, -1), (1, 1) in (right, up) are
        // vertices 0, 1, 2 and 3.
        for (int a = 0; a < 3; ++a) {
            const float diagonal = v[3].position[a] - v[0].position[a];
            const float other = v[2].position[a] - v[1].position[a];
            EXPECT_NEAR((diagonal + other) / (4.0f * p.width), c.right[a], 1e-5f) << "right " << a;
            EXPECT_NEAR((diagonal - other) / (4.0f * p.height), c.up[a], 1e-5f) << "up " << a;
            EXPECT_NEAR((v[3].position[a] + v[0].position[a]) / 2.0f, p.worldPosition[a], 1e-5f) << "centre " << a;
        }
    }
}

}  // namespace
