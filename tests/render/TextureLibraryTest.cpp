#include "render/TextureLibrary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

#include "foundation/Log.h"
#include "render/TextureTestSupport.h"
#include "support/PackageFixture.h"

using texture_test::TextureTest;

namespace {

// A 4 x 4 white mask whose pixel i (row by row) has alpha i x 16.
TgaImage countingMask() {
    TgaImage mask;
    mask.create(true, 4, 4);
    mask.fillRgb(255, 255, 255);
    for (std::uint32_t i = 0; i < 16; ++i) mask.pixels()[i * 4 + 3] = static_cast<std::uint8_t>(i * 16);
    return mask;
}

// Index of the first record at or after from that holds text; -1 if none.
long findRecord(const std::vector<LogRecord>& records, const std::string& text, long from) {
    for (long i = from; i < static_cast<long>(records.size()); ++i)
        if (records[static_cast<std::size_t>(i)].text.find(text) != std::string::npos) return i;
    return -1;
}

}  // namespace

TEST_F(TextureTest, ModeChoosesTheKindAndAKnownNameKeepsItsHandler) {
    addDds("rock");
    TgaImage colour = solid(8, 8, 10, 20, 30);
    env().files["rock.jpg"] = encode(colour, ImageFormatJpeg);
    env().files["leaf.jpg"] = env().files["rock.jpg"];
    addDds("leaf");
    const std::size_t builtIn = library().count();

    EXPECT_NE(library().findOrCreate("rock", 6, true), nullptr);
    EXPECT_EQ(library().count(), builtIn);  // a test creates nothing

    DXTextureHandler* rock = library().findOrCreate("rock", 6, false);
    ASSERT_NE(rock, nullptr);
    EXPECT_EQ(rock->kind(), 1);
    EXPECT_EQ(library().findOrCreate("rock", 2, false), rock);  // a known name whatever the mode
    DXTextureHandler* leaf = library().findOrCreate("leaf", 2, false);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->kind(), 2);

    EXPECT_EQ(library().findOrCreate("nothing", 6, false), nullptr);
    EXPECT_NE(library().findOrCreate("nothing", 2, true), nullptr);  // mode 2 always would
    EXPECT_EQ(library().findOrCreate("pebble", 7, false), nullptr);  // other modes never
    // Sorted by bytes.
    for (std::size_t i = 1; i < library().count(); ++i)
        EXPECT_LT(library().at(i - 1)->name(), library().at(i)->name());
}

TEST_F(TextureTest, AttachedTwiceCountsTwoAndOneDetachKeepsTheTexture) {
    addDds("rock");
    library().allocated = true;
    TextureLink first;
    TextureLink second;
    first.init("Rock");
    second.init("rock");
    ASSERT_TRUE(first.allocateDefault(0, false));
    ASSERT_TRUE(second.allocateDefault(0, false));
    DXTextureHandler* handler = first.handler();
    ASSERT_EQ(handler, second.handler());
    EXPECT_EQ(handler->refCount, 2);
    ASSERT_NE(handler->texture, nullptr);

    first.release(true);
    EXPECT_EQ(handler->refCount, 1);
    EXPECT_NE(handler->texture, nullptr);
    EXPECT_EQ(first.handler(), nullptr);
    second.release(true);
    EXPECT_EQ(handler->refCount, 0);
    EXPECT_EQ(handler->texture, nullptr);

    // Detaching a handler the slot does not hold is refused.
    TextureLink other;
    other.init("rock");
    EXPECT_FALSE(other.detachHandler(handler, 0, false));
    EXPECT_TRUE(gameCore.log->contains("Texture [rock] not attached to [rock]"));
}

TEST_F(TextureTest, CacheVisitsFiftyHandlersASecondRoundRobin) {
    library().releaseAll();
    for (int i = 0; i < 120; ++i) {
        char name[16];
        std::snprintf(name, sizeof(name), "t%03i", i);
        auto handler = std::make_unique<DXPackedTextureHandler>(name);
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
        handler->texture = texture;
        ASSERT_TRUE(library().add(std::move(handler)));
    }
    library().allocated = true;
    env().clock = 100.0;
    auto visited = [&](int index) { return library().at(static_cast<std::size_t>(index))->releaseDeadline != 0.0; };

    library().updateCache(0.5);  // below a second: nothing
    EXPECT_FALSE(visited(1));
    library().updateCache(0.5);
    EXPECT_TRUE(visited(1));
    EXPECT_TRUE(visited(50));
    EXPECT_FALSE(visited(51));
    EXPECT_FALSE(visited(0));
    library().updateCache(1.0);
    EXPECT_TRUE(visited(100));
    EXPECT_FALSE(visited(101));
    library().updateCache(1.0);
    EXPECT_TRUE(visited(119));
    EXPECT_TRUE(visited(0));
    EXPECT_TRUE(visited(30));
    EXPECT_EQ(library().cursor, 30);
}

TEST_F(TextureTest, UnreferencedTexturesGoAfterTheDelayAndReferencedOnesWhenIdle) {
    addDds("rock");
    addDds("sand");
    library().allocated = true;
    TextureLink rockLink;
    rockLink.init("rock");
    ASSERT_TRUE(rockLink.allocateDefault(0, false));
    DXTextureHandler* rock = rockLink.handler();
    rockLink.release(false);  // unreferenced, still loaded
    ASSERT_NE(rock->texture, nullptr);

    env().clock = 100.0;
    library().updateCache(1.0);
    EXPECT_DOUBLE_EQ(rock->releaseDeadline, 115.0);
    env().clock = 115.0;
    library().updateCache(1.0);
    EXPECT_NE(rock->texture, nullptr);  // not yet past the deadline
    env().clock = 115.5;
    library().updateCache(1.0);
    EXPECT_EQ(rock->texture, nullptr);
    EXPECT_DOUBLE_EQ(rock->releaseDeadline, 0.0);

    // With caching on, a referenced texture not bound for longer than the
    // cache time is dropped and its next bind loads it again.
    TextureLibrary::mutableSettings().enableTextureCaching = true;
    TextureLink sandLink;
    sandLink.init("sand");
    ASSERT_TRUE(sandLink.allocateDefault(0, false));
    DXTextureHandler* sand = sandLink.handler();
    EXPECT_EQ(sand->texture, nullptr);  // waits for its first bind
    sandLink.bindToStage(0, 0, false);
    ASSERT_NE(sand->texture, nullptr);
    EXPECT_DOUBLE_EQ(sand->lastUse, 115.5);
    env().clock = 145.0;
    library().updateCache(1.0);
    EXPECT_NE(sand->texture, nullptr);
    env().clock = 146.0;
    library().updateCache(1.0);
    EXPECT_EQ(sand->texture, nullptr);
    sandLink.bindToStage(0, 0, false);
    EXPECT_NE(sand->texture, nullptr);
    sandLink.release(true);
}

TEST_F(TextureTest, OutOfMemoryWalksTheLadderThenGivesUp) {
    addDds("big", 64, 64);
    DXTextureHandler* handler = library().findOrCreate("big", 6, false);
    ASSERT_NE(handler, nullptr);
    handler->type = 0;
    for (int i = 1; i <= 7; ++i) faults->failCreation(i);
    const std::size_t before = gameCore.log->recordCount();
    EXPECT_FALSE(handler->load());
    const std::vector<LogRecord> all = gameCore.log->records();
    const std::vector<LogRecord> records(all.begin() + static_cast<long>(before), all.end());
    long at = 0;
    for (const char* step : {"Failed allocate texture [big]", "Failed allocate image [big] 64x64",
                             "Adopt image [big] format to current hardware", "Change image [big] pool to MANAGED",
                             "Reduce image [big] size to 32x32", "Change image [big] pool to SYSMEM",
                             "Reduce image [big] size to 16x16", "Reduce image [big] size to 8x8",
                             "Cannot allocate texture [big]. Reason: [Microsoft\xAE Direct3D\xAE does not have enough display memory"}) {
        at = findRecord(records, step, at);
        EXPECT_GE(at, 0) << step;
        if (at < 0) break;
    }
    EXPECT_EQ(handler->texture, nullptr);

    // Two failures: the third attempt lands in the managed pool.
    faults->failCreation(1);
    faults->failCreation(2);
    ASSERT_TRUE(handler->load());
    D3DSURFACE_DESC desc{};
    static_cast<IDirect3DTexture9*>(handler->texture)->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
}

TEST_F(TextureTest, ReduceStopsBelowEightTexels) {
    addDds("small", 16, 16);
    DXTextureHandler* handler = library().findOrCreate("small", 6, false);
    handler->type = 0;
    for (int i = 1; i <= 7; ++i) faults->failCreation(i);
    EXPECT_FALSE(handler->load());
    EXPECT_TRUE(gameCore.log->contains("Can't reduce image [small] more"));
}

TEST_F(TextureTest, JpgWithPngAlphaAndPngAloneGiveWhiteUnderTheMask) {
    TgaImage mask = countingMask();
    ASSERT_NE(mask.pixels(), nullptr);
    env().files["leaf.png"] = encode(mask, ImageFormatPng);
    TgaImage colour = solid(4, 4, 200, 40, 20);
    env().files["bark.jpg"] = encode(colour, ImageFormatJpeg);
    env().files["bark.png"] = env().files["leaf.png"];
    env().setup.details = VideoDetailsMinimum;  // the managed pool: texels can be locked
    library().allocated = true;

    TextureLink leaf;
    leaf.init("leaf");
    ASSERT_TRUE(leaf.allocateDefault(0, false));
    DXTextureHandler* handler = leaf.handler();
    EXPECT_EQ(handler->kind(), 2);
    EXPECT_TRUE(handler->flags & HandlerAlpha);
    EXPECT_EQ(texel(handler->texture, 0, 0), 0x00FFFFFFu);
    EXPECT_EQ(texel(handler->texture, 3, 3), 0xF0FFFFFFu);

    TextureLink bark;
    bark.init("bark");
    ASSERT_TRUE(bark.allocateDefault(0, false));
    const std::uint32_t barkTexel = texel(bark.handler()->texture, 1, 0);
    EXPECT_EQ(barkTexel >> 24, 0x10u);
    EXPECT_NEAR(static_cast<int>((barkTexel >> 16) & 0xFF), 200, 8);  // red

    // The mask pixel: an opaque white pixel is a value like any other.
    std::uint32_t value = 0;
    ASSERT_TRUE(handler->pixel(3, 3, false, value));
    EXPECT_EQ(value, 0xF0FFFFFFu);
    mask.pixels()[15 * 4 + 3] = 0xFF;
    env().files["leaf.png"] = encode(mask, ImageFormatPng);
    handler->freeSourceData();
    ASSERT_TRUE(handler->pixel(0.99f, 0.99f, true, value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_FALSE(handler->pixel(4, 0, false, value));
    EXPECT_TRUE(gameCore.log->contains("Can't get texture [leaf] pixel (4,0): out of canvas [4x4]"));
    std::uint32_t grid[9] = {};
    ASSERT_TRUE(handler->pixel3x3(grid, 0, 0, 1, 1, false));
    EXPECT_EQ(grid[4] >> 24, 0u);
    EXPECT_EQ(grid[0] >> 24, 0u);         // clamped into the canvas
    EXPECT_EQ(grid[8] >> 24, 5u * 16u);   // (1, 1)

    // A damaged colour image is refused with a message.
    env().files["rust.jpg"] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00};
    TextureLink rust;
    rust.init("rust");
    EXPECT_FALSE(rust.allocateDefault(0, true));
    EXPECT_TRUE(gameCore.log->contains("Can't load texture image from file rust.jpg"));
    leaf.release(false);
    bark.release(false);
}

// Mask sampling takes coordinates from scripts and models: non-finite
// values and values beyond any canvas are refused (with the message, never
// a read off the image); a far step is clamped to the canvas's edge.
TEST_F(TextureTest, MaskSamplesRefuseNonFiniteAndHugeCoordinates) {
    TgaImage mask = countingMask();
    ASSERT_NE(mask.pixels(), nullptr);
    env().files["leaf.png"] = encode(mask, ImageFormatPng);
    DXTextureHandler* handler = library().findOrCreate("leaf", 6, false);
    ASSERT_NE(handler, nullptr);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float x, y;
        bool normalized;
        const char* message;  // the pixel message; pixel3x3 says the same with its own name
    };
    const Case cases[] = {
        {nan, 1.0f, false, "(0,1): out of canvas [4x4]"},
        {1.0f, nan, true, "(4,0): out of canvas [4x4]"},
        {inf, 1.0f, false, "(0,1): out of canvas [4x4]"},
        {1.0f, -inf, false, "(1,0): out of canvas [4x4]"},
        {3.0e9f, 0.0f, false, "(2147483647,0): out of canvas [4x4]"},
        {-3.0e9f, 0.0f, false, "(-2147483648,0): out of canvas [4x4]"},
        {0.0f, 2.0e9f, true, "(0,2147483647): out of canvas [4x4]"},
        {4.0f, 0.0f, false, "(4,0): out of canvas [4x4]"},
    };
    for (const Case& c : cases) {
        std::uint32_t value = 0xABCDu;
        EXPECT_FALSE(handler->pixel(c.x, c.y, c.normalized, value)) << c.message;
        EXPECT_EQ(value, 0xABCDu) << c.message;
        EXPECT_TRUE(gameCore.log->contains(std::string("Can't get texture [leaf] pixel ") + c.message)) << c.message;
        std::uint32_t grid[9] = {};
        EXPECT_FALSE(handler->pixel3x3(grid, c.x, c.y, 1.0f, 1.0f, c.normalized)) << c.message;
        EXPECT_TRUE(gameCore.log->contains(std::string("Can't get texture [leaf] pixel3x3 ") + c.message))
            << c.message;
    }
    // A step that is not finite is refused; a huge one reaches the edges.
    std::uint32_t grid[9] = {};
    EXPECT_FALSE(handler->pixel3x3(grid, 1.0f, 1.0f, nan, 1.0f, false));
    EXPECT_FALSE(handler->pixel3x3(grid, 1.0f, 1.0f, 1.0f, inf, false));
    ASSERT_TRUE(handler->pixel3x3(grid, 1.0f, 1.0f, 3.0e38f, -3.0e38f, false));
    EXPECT_EQ(grid[0] >> 24, 12u * 16u);  // row -1 steps by -dy: the bottom row, column 0
    EXPECT_EQ(grid[4] >> 24, 5u * 16u);   // the centre (1, 1)
    EXPECT_EQ(grid[8] >> 24, 3u * 16u);   // the top row, column 3
    // Just below the canvas's size is still on it.
    std::uint32_t value = 0;
    ASSERT_TRUE(handler->pixel(3.9999f, 3.9999f, false, value));
    EXPECT_EQ(value >> 24, 15u * 16u);
}

TEST_F(TextureTest, DamagedDdsIsRefusedWithoutReadingPastItsEnd) {
    addDds("cut", 16, 16);
    env().files["cut.dds"].resize(texture_tools::kDdsDataAt + 10);
    library().allocated = true;
    TextureLink link;
    link.init("cut");
    EXPECT_FALSE(link.allocateDefault(0, true));
    EXPECT_EQ(link.handler(), nullptr);
    EXPECT_TRUE(gameCore.log->contains("Cannot allocate texture [cut]. Reason: [The data is invalid]"));
    EXPECT_FALSE(gameCore.log->contains("Unknown Error"));
}

TEST_F(TextureTest, BulkLoadAndExternalImport) {
    addDds("rock");
    addDds("sand");
    TextureLink rock;
    TextureLink sand;
    rock.init("rock");
    sand.init("sand");
    ASSERT_TRUE(rock.allocateDefault(0, false));  // not allocated: no load
    ASSERT_TRUE(sand.allocateDefault(LinkBulkLoad, false));
    EXPECT_EQ(rock.handler()->texture, nullptr);
    EXPECT_TRUE(library().allocateAll(false, false));
    EXPECT_EQ(rock.handler()->texture, nullptr);
    EXPECT_NE(sand.handler()->texture, nullptr);
    EXPECT_TRUE(library().allocateAll(true, false));
    EXPECT_NE(rock.handler()->texture, nullptr);
    library().deallocateAll();
    EXPECT_EQ(rock.handler()->texture, nullptr);
    EXPECT_FALSE(library().allocated);
    rock.release(false);
    sand.release(false);

    EXPECT_FALSE(library().importExternalTexture("/no/such/splash.dds", true));
    EXPECT_TRUE(gameCore.log->contains("Texture import failed: Expected external texture [/no/such/splash.dds]"));
    EXPECT_FALSE(library().importExternalTexture("/somewhere/rock.dds", true));
    EXPECT_TRUE(gameCore.log->contains("Can't register external texture [rock]: Texture already registered in game DB"));
}

// Whether a ".dds" or a loose file has alpha is read from its format when
// the handler is made: only DXT2 to DXT5 count; a ".jpg" has alpha when its
// ".png" mask exists. A material's specular map copies that answer.
TEST_F(TextureTest, AlphaOfDdsAndLooseFilesFollowsTheirFormat) {
    struct Case {
        const char* name;
        D3DFORMAT format;
        bool alpha;
    };
    const Case cases[] = {{"glass", D3DFMT_DXT5, true},
                          {"pane", D3DFMT_DXT3, true},
                          {"stone", D3DFMT_DXT1, false},
                          {"plain", D3DFMT_A8R8G8B8, false}};
    for (const Case& c : cases) {
        addDds(c.name, 16, 16, c.format);
        TextureLink link;
        link.init(c.name);
        ASSERT_TRUE(link.allocateDefault(0, false)) << c.name;
        EXPECT_EQ((link.handler()->flags & HandlerAlpha) != 0, c.alpha) << c.name;
        EXPECT_TRUE(link.handler()->flags & HandlerInspected) << c.name;
        link.release(false);
    }
    TgaImage colour = solid(4, 4, 10, 20, 30);
    env().files["bark.jpg"] = encode(colour, ImageFormatJpeg);
    EXPECT_FALSE(library().findOrCreate("bark", 6, false)->flags & HandlerAlpha);

    // A loose DXT1 file has no alpha either.
    testing_support::TempDir folder;
    const std::string path = folder.path() + "/poster.dds";
    const std::vector<std::uint8_t> dds = texture_tools::writeDds(texture_tools::countingDds(D3DFMT_DXT1, 8, 8, 1));
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(dds.data(), 1, dds.size(), file);
    std::fclose(file);
    ASSERT_TRUE(library().importExternalTexture(path.c_str(), true));
    DXTextureHandler* poster = library().findOrCreate("poster", 6, false);
    ASSERT_NE(poster, nullptr);
    EXPECT_EQ(poster->kind(), 0);
    EXPECT_FALSE(poster->flags & HandlerAlpha);
    EXPECT_TRUE(poster->flags & HandlerInspected);

    // A damaged file keeps the alpha it starts with and says why.
    env().files["cut.dds"] = {'D', 'D', 'S', ' ', 1, 2};
    DXTextureHandler* cut = library().findOrCreate("cut", 6, false);
    ASSERT_NE(cut, nullptr);
    EXPECT_TRUE(cut->flags & HandlerAlpha);
    EXPECT_TRUE(gameCore.log->contains("Cannot get alpha channel info for texture [cut]. Reason: [The data is invalid]"));
}

// The game core's environment finds and reads texture files in the packages.
TEST(TexturePackages, FilesComeFromThePackageDatabase) {
    testing_support::TempDir dir;
    testing_support::FixturePackage package;
    const std::vector<std::uint8_t> dds = texture_tools::writeDds(texture_tools::countingDds(D3DFMT_L8, 8, 8, 1));
    package.files = {{".dds", "stone", std::string(dds.begin(), dds.end()), ""},
                     {".jpg", "leaf", "jpeg bytes", ""},
                     {".png", "mask", "png bytes", ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    TextureEnvironment& environment = textureEnvironment();
    EXPECT_TRUE(environment.fileExists("stone", ".dds"));
    EXPECT_FALSE(environment.fileExists("stone", ".jpg"));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(environment.readFile("stone", ".dds", bytes));
    EXPECT_EQ(bytes, dds);

    TextureLibrary library;
    EXPECT_EQ(library.findOrCreate("stone", 6, false)->kind(), 1);
    EXPECT_EQ(library.findOrCreate("leaf", 6, false)->kind(), 2);
    EXPECT_EQ(library.findOrCreate("mask", 6, false)->kind(), 2);  // a mask alone is enough
    EXPECT_EQ(library.findOrCreate("none", 6, false), nullptr);
    DXTextureHandler* stone = library.findOrCreate("stone", 6, false);
    stone->inspectSource();
    EXPECT_FALSE(stone->flags & HandlerAlpha);  // L8: no DXT2 to DXT5
    EXPECT_TRUE(stone->flags & HandlerInspected);
    EXPECT_FALSE(stone->load());  // no device
}

TEST_F(TextureTest, LoadedSizesFollowTheLimitsAndTheVideoMode) {
    struct Case {
        UINT width, height;
        std::int32_t details, quality;
        UINT createdWidth, createdHeight;
        const char* message;
    };
    const Case cases[] = {
        {4096, 64, 2, 2, 2048, 32, "Texture [big0] too big (4096x64), current hardware support only (2048x2048). Reduce to (2048x32)"},
        {2048, 512, 0, 1, 1024, 256, nullptr},  // no shader detail, quality below 2
        {2048, 512, 0, 2, 2048, 512, nullptr},
        {2048, 512, 1, 0, 2048, 512, nullptr},
    };
    library().allocated = true;
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "big" + std::to_string(index++);
        addDds(name, c.width, c.height, D3DFMT_L8);
        env().setup.details = c.details;
        env().setup.quality = c.quality;
        TextureLink link;
        link.init(name.c_str());
        ASSERT_TRUE(link.allocate(1, 0, 0, true, false)) << name;
        D3DSURFACE_DESC desc{};
        static_cast<IDirect3DTexture9*>(link.handler()->texture)->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, c.createdWidth) << name;
        EXPECT_EQ(desc.Height, c.createdHeight) << name;
        if (c.message) EXPECT_TRUE(gameCore.log->contains(c.message)) << c.message;
        link.release(true);
    }
}

TEST_F(TextureTest, MovieTargetIsACompressedHandlerWithAFrameSizedTexture) {
    DXTextureHandler* handler = library().findOrCreate("intro", 2, false);
    ASSERT_NE(handler, nullptr);
    ASSERT_TRUE(handler->createMovieTexture(320, 240, false));
    EXPECT_TRUE(handler->hasMovie());
    EXPECT_EQ(handler->imageWidth(), 0u);  // no image while a movie plays
    D3DSURFACE_DESC desc{};
    static_cast<IDirect3DTexture9*>(handler->texture)->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.Width, 320u);
    EXPECT_FALSE(handler->flags & HandlerAlpha);

    // A link that lets the movie go unloads it with its last reference.
    TextureLink link;
    link.init("intro");
    ASSERT_TRUE(link.attachHandler(handler, 0, 0));
    link.release(false);
    EXPECT_EQ(handler->texture, nullptr);
    EXPECT_FALSE(handler->hasMovie());

    env().files["intro.bik"] = {1};
    ASSERT_TRUE(handler->createMovieTexture(64, 64, true));
    EXPECT_FALSE(handler->dropIfMovieExists());
    EXPECT_EQ(handler->texture, nullptr);
}

// The built demo's textures load from its packages onto a device: the packed
// stone with its mip chain, the leaf with the colours of its ".jpg" under the
// round mask of its ".png".
namespace {

class DeviceOnly : public TextureEnvironment {
public:
    IDirect3DDevice9* device() override { return deviceInUse; }
    const VideoSetup& videoSetup() override { return setup; }
    IDirect3DDevice9* deviceInUse = nullptr;
    VideoSetup setup;
};

}  // namespace

TEST_F(TextureTest, DemoTexturesLoadFromItsPackages) {
    testing_support::ScopedPackageDatabase packages(DEMO_FOLDER);
    ASSERT_TRUE(packages.build());
    DeviceOnly packaged;
    packaged.deviceInUse = device;
    packaged.setup.quality = 2;
    packaged.setup.details = VideoDetailsMinimum;  // managed: lockable
    setTextureEnvironment(&packaged);
    library().allocated = true;

    TextureLink stone;
    stone.init("stone");
    ASSERT_TRUE(stone.allocateDefault(0, false));
    EXPECT_EQ(stone.handler()->kind(), 1);
    EXPECT_EQ(stone.handler()->texture->GetLevelCount(), 7u);
    EXPECT_EQ(texel(stone.handler()->texture, 0, 0), 0xFFAA8C78u);  // the light square

    TextureLink leaf;
    leaf.init("leaf");
    ASSERT_TRUE(leaf.allocateDefault(0, false));
    EXPECT_EQ(leaf.handler()->kind(), 2);
    EXPECT_EQ(texel(leaf.handler()->texture, 0, 0) >> 24, 0u);
    const std::uint32_t centre = texel(leaf.handler()->texture, 32, 32);
    EXPECT_EQ(centre >> 24, 0xFFu);
    EXPECT_NEAR(static_cast<int>((centre >> 8) & 0xFF), 120 + 64, 8);  // green
    EXPECT_NEAR(static_cast<int>(centre & 0xFF), 40, 8);                // blue
    stone.release(false);
    leaf.release(false);
    setTextureEnvironment(&env());
}
