// The still frames beside their baselines in the same run (see
// PairedRun.h):
// - a frame of 1,000 items (four textures, three layers, a tenth turned, a
//   hundred with shadows) updated and drawn by the render core's still
//   frames on the GL backend, against the same quads (already built, in the
//   same order and runs) appended to the quad batch directly;
// - the update alone of 5,000 items with running modes (fades, moves,
//   resizes, turns), against the same interpolation in a bare loop over
//   arrays.
// - laying out 10,000 characters of text (narrow, and wide) into glyph
//   quads, against a bare loop over the same glyph lookups and advances.
// - the update of a table of items chained parent to child (the argument
//   gives their number), the parents after their children in the table,
//   against the same chain with the parents first: the order of the table
//   costs nothing.
// Argument of the frame benchmark: 0 the null backend, 1 the GL backend
// (skipped where no GL device can be made).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "BenchDevice.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "d3d9/TestScenes.h"
#include "foundation/TimeCore.h"
#include "model/DXStreams.h"
#include "platform/d3d9/D3D9.h"
#include "render/QuadBatch.h"
#include "render/RenderCore.h"
#include "render/TextureLibrary.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "textures/DdsWriter.h"
#include "textures/MemoryTextureEnvironment.h"
#include "render/FontData.h"
#include "ui/StillFrameData.h"
#include "ui/TextLayout.h"

namespace {

constexpr int kFrameItems = 1000;
constexpr int kUpdateItems = 5000;

CurrentTime at(double time, double step) {
    CurrentTime t;
    t.real.time = t.game.time = t.world.time = time;
    t.real.step = t.game.step = t.world.step = step;
    return t;
}

// One quad as the batch takes it: six vertices with one colour.
struct BuiltQuad {
    float positions[18];
    float coords[12];
    std::uint32_t colour;
    const StillFrameItemState* state;
};

void BM_StillFrameFrameVsBatch(benchmark::State& state) {
    bench_pairs::fixAllocator();
    bench_device::ScopedDevice scoped(state, state.range(0) != 0);
    IDirect3DDevice9* device = scoped.device();
    if (!device) return;
    texture_tools::MemoryTextureEnvironment& textures = scoped.textures;
    const char* const names[4] = {"one", "two", "three", "four"};
    for (const char* name : names)
        textures.files[std::string(name) + ".dds"] =
            texture_tools::writeDds(texture_tools::countingDds(D3DFMT_A8R8G8B8, 16, 16, 1));
    auto render = std::make_unique<RenderCore>();
    gameCore.render = render.get();
    render->textures.allocated = true;
    render->stateCache().setDevice(device);
    render->shaders().attach(device, &render->stateCache());
    render->streamDeclarations().allocate(device);

    StillFrameData& data = render->stillFrames().data;
    for (int i = 0; i < kFrameItems; ++i) {
        StillFrameScriptDataItem* item = data.create("$auto");
        item->image.setSource(*item, names[i % 4], 0);
        item->x = float(i % 40) * 25.0f;
        item->y = float(i / 40) * 30.0f;
        item->width = 40.0f;
        item->height = 30.0f;
        item->layer = i % 3 - 1;
        if (i % 10 == 0) item->angle = 30.0f;
        if (i % 10 == 5) item->shadow.color[3] = 0.5f;
    }
    double now = 0.0;
    auto project = [&] {
        now += 0.02;
        data.update(at(now, 0.02));
        device->BeginScene();
        data.render(0);
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    };

    // The baseline's quads: those the still frames queue, built once, in
    // their batches' order.
    std::vector<BuiltQuad> built;
    std::vector<std::unique_ptr<StillFrameItemState>> states;
    {
        data.update(at(0.0, 0.0));
        device->BeginScene();
        // Queue without drawing: the walk of render, then take the batches.
        for (std::int32_t layer : {-1, 0, 1})
            for (std::int32_t i = 0; i < data.itemCount(); ++i)
                data.item(i)->draw(layer, data, 0.0, false, false);
        device->EndScene();
        static constexpr int kCorners[6][2] = {{0, 0}, {0, 1}, {1, 0}, {0, 1}, {1, 0}, {1, 1}};
        for (std::size_t b = 0; b < data.batchCount(); ++b) {
            states.push_back(std::make_unique<StillFrameItemState>(data.batches()[b].front().state));
            for (const StillFrameQuad& q : data.batches()[b]) {
                BuiltQuad out{};
                const float c = std::cos(q.angle * 0.0174532925f), s = std::sin(q.angle * 0.0174532925f);
                const float cx = q.widthFactor * 0.5f + q.pivot[0], cy = q.heightFactor * 0.5f + q.pivot[1];
                for (int v = 0; v < 6; ++v) {
                    const float x = kCorners[v][0] * q.widthFactor - cx, y = kCorners[v][1] * q.heightFactor - cy;
                    out.positions[v * 3] = cx + x * c - y * s + q.position[0];
                    out.positions[v * 3 + 1] = cy + x * s + y * c + q.position[1];
                    out.coords[v * 2] = float(kCorners[v][0]);
                    out.coords[v * 2 + 1] = float(kCorners[v][1]);
                }
                auto channel = [](float v) { return std::uint32_t(std::clamp(v, 0.0f, 1.0f) * 255.0f); };
                out.colour = channel(q.alpha) << 24 | channel(q.color[0]) << 16 | channel(q.color[1]) << 8 |
                             channel(q.color[2]);
                out.state = states.back().get();
                built.push_back(out);
            }
        }
        // Empty the batches again through a batch without a device.
        QuadBatch scratch;
        data.drawBatches(scratch);
    }
    QuadBatch& batch = render->quadBatch;
    auto baseline = [&] {
        device->BeginScene();
        batch.flags |= QuadBatch::FlagNewRun;
        batch.flush();
        for (const BuiltQuad& q : built)
            batch.addVertices(QuadBatch::KindTriangles, q.coords, q.coords, q.positions, nullptr, 6, &q.colour, 1,
                              nullptr, q.state);
        batch.flags |= QuadBatch::FlagNewRun;
        batch.flush();
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    };
    // Both sides append the same number of vertices.
    const std::uint64_t drawnBefore = platform::d3d9::statistics(device)->primitives;
    project();
    const std::uint64_t projectPrimitives = platform::d3d9::statistics(device)->primitives - drawnBefore;
    baseline();
    const std::uint64_t basePrimitives =
        platform::d3d9::statistics(device)->primitives - drawnBefore - projectPrimitives;
    if (projectPrimitives != basePrimitives) state.SkipWithError("the two sides draw different quads");
    else bench_pairs::runPaired(state, project, baseline, kFrameItems);

    data.releaseAll();
    batch.release();
    render->release();
    render.reset();
    gameCore.render = nullptr;
}
BENCHMARK(BM_StillFrameFrameVsBatch)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The bare loop's item: the fields the four running modes move.
struct BareItem {
    float x, y, width, height, angle, alpha;
    float startMove, startSize, startRotate, startShow;
};

void BM_StillFrameUpdateVsBareLoop(benchmark::State& state) {
    bench_pairs::fixAllocator();
    StillFrameData data;
    std::vector<BareItem> bare(kUpdateItems);
    auto start = [&] {
        for (int i = 0; i < data.itemCount(); ++i) {
            StillFrameScriptDataItem& it = *data.item(i);
            it.x = it.y = 0.0f;
            it.width = it.height = 64.0f;
            it.angle = 0.0f;
            it.color[3] = 0.0f;
            it.animation.mx = 500.0f;
            it.animation.my = 300.0f;
            it.animation.sx = it.animation.sy = 128.0f;
            it.animation.av = 90.0f;
            it.animation.start(ModeMove, 1e6f);
            it.animation.start(ModeSize, 1e6f);
            it.animation.start(ModeRotate, 1e6f);
            it.animation.start(ModeShow, 1e6f);
        }
        for (BareItem& b : bare) b = BareItem{0, 0, 64, 64, 0, 0, -1, -1, -1, -1};
    };
    for (int i = 0; i < kUpdateItems; ++i) data.create("$auto");
    start();
    double now = 0.0;
    auto project = [&] {
        now += 0.02;
        data.update(at(now, 0.02));
    };
    const float rate = 1.0f / 1e6f;
    double bareNow = 0.0;
    auto baseline = [&] {
        bareNow += 0.02;
        for (BareItem& b : bare) {
            auto progress = [&](float& s) {
                if (s < 0.0f) s = float(s + bareNow + 1.0);
                return (bareNow - s) * rate;
            };
            const double pr = progress(b.startRotate);
            b.angle = float(90.0 + (1.0 - pr) * -90.0);
            b.alpha = float(progress(b.startShow));
            const double pm = progress(b.startMove);
            b.x = float(500.0 + (1.0 - pm) * -500.0);
            b.y = float(300.0 + (1.0 - pm) * -300.0);
            const double ps = progress(b.startSize);
            b.width = float(128.0 + (1.0 - ps) * -64.0);
            b.height = float(128.0 + (1.0 - ps) * -64.0);
        }
    };
    // The same values after the same frames.
    project();
    baseline();
    if (data.item(0)->x != bare[0].x || data.item(0)->width != bare[0].width ||
        data.item(0)->angle != bare[0].angle || data.item(0)->color[3] != bare[0].alpha) {
        state.SkipWithError("the two sides interpolate differently");
        return;
    }
    bench_pairs::runPaired(state, project, baseline, kUpdateItems);
}
BENCHMARK(BM_StillFrameUpdateVsBareLoop)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_StillFrameChainParentsLastVsFirst(benchmark::State& state) {
    bench_pairs::fixAllocator();
    const int count = static_cast<int>(state.range(0));
    // Item i hangs on item i + 1 (parents last) or on item i - 1 (parents
    // first), each 1 unit right of its parent: the same chain either way.
    StillFrameData parentsLast;
    StillFrameData parentsFirst;
    for (int i = 0; i < count; ++i) {
        parentsLast.create("$auto");
        parentsFirst.create("$auto");
    }
    for (int i = 0; i < count; ++i) {
        StillFrameScriptDataItem& child = *parentsLast.item(i);
        child.x = child.y = 0.0f;
        if (i + 1 < count) {
            child.link.flags = 1;
            child.link.parent = parentsLast.item(i + 1);
            child.link.ax = 1.0f;
        }
        StillFrameScriptDataItem& other = *parentsFirst.item(i);
        other.x = other.y = 0.0f;
        if (i > 0) {
            other.link.flags = 1;
            other.link.parent = parentsFirst.item(i - 1);
            other.link.ax = 1.0f;
        }
    }
    double now = 0.0;
    auto project = [&] {
        now += 0.02;
        parentsLast.update(at(now, 0.02));
    };
    double otherNow = 0.0;
    auto baseline = [&] {
        otherNow += 0.02;
        parentsFirst.update(at(otherNow, 0.02));
    };
    // The same places after a frame: the far end of the chain lies count - 1
    // units right of its root.
    project();
    baseline();
    const float expected = static_cast<float>(count - 1);
    if (parentsLast.item(0)->x != expected || parentsFirst.item(count - 1)->x != expected) {
        state.SkipWithError("the two tables place the chain differently");
        return;
    }
    bench_pairs::runPaired(state, project, baseline, count);
}
BENCHMARK(BM_StillFrameChainParentsLastVsFirst)
    ->Arg(250)
    ->Arg(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// A font of printable ASCII and the Cyrillic letters, glyph 0 the space.
FontHeader benchFont() {
    FontHeader font;
    font.cellWidth = 12.0f;
    font.lineHeight = 20.0f;
    font.lineGap = 4.0f;
    font.glyphs.resize(1 + 95 + 64);
    for (std::size_t i = 0; i < font.glyphs.size(); ++i) {
        FontGlyph& g = font.glyphs[i];
        g.advance = i == 0 ? 4.0f : 6.0f + float(i % 7);
        g.inkWidth = g.advance - 1.0f;
        g.leftOffset = 1.0f;
        g.t[0] = float(i) / 160.0f;
        g.t[1] = g.t[0] + 0.005f;
        g.t[3] = 1.0f;
    }
    font.ranges.push_back({32, 32, 0, 0});
    font.ranges.push_back({33, 126, 1, 0});
    font.ranges.push_back({0x410, 0x44F, 96, 0});
    return font;
}

void BM_TextLayoutVsBareLoop(benchmark::State& state) {
    bench_pairs::fixAllocator();
    const bool wide = state.range(0) == 1;
    const FontHeader font = benchFont();
    constexpr std::size_t kChars = 10000;
    std::u16string wideText;
    std::string narrowText;
    const std::u16string wideWords[] = {u"\u041F\u0440\u0438\u0432\u0435\u0442 ", u"quay ", u"\u043C\u0438\u0440 ", u"harbour "};
    const char* const narrowWords[] = {"lorem ", "ipsum ", "dolor ", "sit ", "amet, "};
    for (std::size_t k = 0; wideText.size() < kChars; ++k) wideText += wideWords[k % 4];
    for (std::size_t k = 0; narrowText.size() < kChars; ++k) narrowText += narrowWords[k % 5];
    wideText.resize(kChars);
    narrowText.resize(kChars);
    // No spaces at the ends: one line, every character a quad.
    wideText.back() = u'x';
    narrowText.back() = 'x';

    TextRecord record;
    record.font = &font;
    record.size = 16.0f;
    record.ready = true;
    std::vector<TextQuad> quads;
    float height = 0.0f;
    auto project = [&] {
        if (wide) TextLayout::layoutWide(record, quads, wideText.c_str(), height);
        else TextLayout::layoutNarrow(record, quads, narrowText.c_str(), height);
    };
    std::vector<TextGlyphEntry> bare;
    float bareWidth = 0.0f;
    auto baseline = [&] {
        bare.clear();
        bareWidth = 0.0f;
        auto add = [&](std::uint32_t code) {
            const std::uint32_t index = font.glyphIndex(code);
            const FontGlyph& g = font.glyphs[index];
            bare.push_back({index, g.advance, g.inkWidth});
            bareWidth += g.advance;
        };
        if (wide) for (char16_t c : wideText) add(c);
        else for (char c : narrowText) add(static_cast<unsigned char>(c));
        benchmark::DoNotOptimize(bare.data());
    };
    project();
    baseline();
    float laidWidth = 0.0f;
    for (const TextWord& word : record.words) laidWidth += word.width;
    if (quads.size() != bare.size() || std::fabs(laidWidth - bareWidth) > 1e-3f * bareWidth) {
        state.SkipWithError("the two sides measure the text differently");
        return;
    }
    bench_pairs::runPaired(state, project, baseline, double(kChars));
}
BENCHMARK(BM_TextLayoutVsBareLoop)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
