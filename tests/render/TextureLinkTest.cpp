#include "render/TextureLink.h"

#include <gtest/gtest.h>

#include <cstring>

#include "foundation/Log.h"
#include "render/ProcTexMap.h"
#include "render/TextureTestSupport.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"

using texture_test::TextureTest;

namespace {

// The ".dds" names looked up, in order, without repeats in a row.
std::vector<std::string> ddsAsked(const std::vector<std::string>& asked) {
    std::vector<std::string> names;
    for (const std::string& name : asked)
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dds") == 0 && (names.empty() || names.back() != name))
            names.push_back(name);
    return names;
}

}  // namespace

TEST_F(TextureTest, NameAttemptsFallBackByMipThenQuality) {
    addDds("rock");
    TextureLink link;
    link.init("rock");
    ASSERT_TRUE(link.allocate(2, 1, 0, true, false));
    EXPECT_EQ(ddsAsked(env().asked),
              (std::vector<std::string>{"rock-m01-high.dds", "rock-m01.dds", "rock-high.dds", "rock.dds"}));
    EXPECT_STREQ(link.name(), "rock");
    link.release(false);

    addDds("sand");
    link.init("sand");
    env().asked.clear();
    ASSERT_TRUE(link.allocate(0, 0, 0, true, false));
    EXPECT_EQ(ddsAsked(env().asked), (std::vector<std::string>{"sand-low.dds", "sand.dds"}));
    // A second allocation says so, and the attach refuses a second reference.
    EXPECT_TRUE(link.allocate(1, 0, 0, true, false));
    EXPECT_TRUE(gameCore.log->contains(" Try to allocate texture [sand] twice"));
    EXPECT_TRUE(gameCore.log->contains(" Texture [sand] already allocated. Possible reference overload"));
    EXPECT_EQ(link.handler()->refCount, 1);
    link.release(false);

    // A narrow mode asks for "-low" first; a missing name is reported.
    env().setup.res_width = 640;
    addDds("clay");
    link.init("clay");
    env().asked.clear();
    ASSERT_TRUE(link.allocateDefault(0, false));
    EXPECT_EQ(ddsAsked(env().asked).front(), "clay-low.dds");
    link.release(false);
    TextureLink missing;
    missing.init("moss");
    EXPECT_FALSE(missing.allocateDefault(0, false));
    EXPECT_TRUE(gameCore.log->contains(" Cannot allocate  texture [moss]: Not found"));
    EXPECT_FALSE(missing.allocate(3, 0, 0, true, false));
    EXPECT_TRUE(gameCore.log->contains("Invalid texture quality value"));
}

TEST_F(TextureTest, AnimatedSeriesAttachesEveryFrameUntilOneIsMissing) {
    for (int i = 0; i < 8; ++i) {
        char name[16];
        std::snprintf(name, sizeof(name), "fire%04i", i);
        addDds(name);
    }
    TextureLink link;
    link.init("fire");
    ASSERT_TRUE(link.allocate(1, 0, LinkAnimated, true, false));
    EXPECT_STREQ(link.handler()->name().c_str(), "fire0000");
    EXPECT_EQ(link.frameCount(), 7);
    EXPECT_STREQ(link.frameHandler(7)->name().c_str(), "fire0007");
    EXPECT_EQ(link.frameHandler(8), nullptr);
    EXPECT_EQ(library().findOrCreate("fire0008", 6, true), nullptr);
    link.currentFrame = 7;
    link.bindToStage(0, 0, false);
    link.release(false);
    EXPECT_EQ(link.frameCount(), 0);
    EXPECT_EQ(library().findOrCreate("fire0003", 6, false)->refCount, 0);
}

TEST_F(TextureTest, StoredLinkRoundTripsAndRefusesDamage) {
    TextureLink stored;
    stored.init("Stone", 1, 2, 3, 9);
    MemoryStream stream;
    ASSERT_EQ(stored.write(stream), 1 + 4 + 4 + 4 + 1 + 4 + 6);
    stream.setPosition(0);
    TextureLink read;
    ASSERT_EQ(read.read(stream), 24);
    EXPECT_TRUE(read.enabled);
    EXPECT_EQ(read.type, 1u);
    EXPECT_EQ(read.addressV, 3u);
    EXPECT_EQ(read.option, 9);
    EXPECT_STREQ(read.baseName(), "stone");

    struct Case {
        std::uint32_t type;
        std::uint32_t length;
        std::string name;  // bytes written
        std::int32_t result;
        const char* message;
    };
    const Case cases[] = {
        {3, 6, std::string("stone", 6), -1, "Texture handler format broken"},
        {0, 200, std::string(200, 'a'), -1, "Texture handler format broken"},  // longer than the buffer
        {0, 5, "stone", -1, "Texture handler format broken"},                  // no terminating zero
        {0, 0, "", -1, "Texture handler format broken"},
        {0, 1, std::string(1, '\0'), -777, " Found empty texture handler!!!"},
        {0, 6, std::string("stone", 6), -1, ""},  // the name is cut short below
    };
    for (const Case& c : cases) {
        MemoryStream bytes;
        writeU8(bytes, 1);
        writeU32(bytes, c.type);
        writeU32(bytes, 0);
        writeU32(bytes, 0);
        writeU8(bytes, 0);
        writeU32(bytes, c.length);
        const std::size_t written = c.message[0] ? c.name.size() : 3;
        bytes.write(c.name.data(), static_cast<std::int32_t>(written));
        bytes.setPosition(0);
        TextureLink link;
        EXPECT_EQ(link.read(bytes), c.result) << c.length;
        if (c.message[0]) EXPECT_TRUE(gameCore.log->contains(c.message)) << c.message;
    }

    // A disabled record is one byte.
    MemoryStream off;
    TextureLink disabled;
    EXPECT_EQ(disabled.write(off), 1);
}

// Texture names are lower case: a name asked with capitals finds the
// lower-case texture and its one handler, and the library stays sorted; a
// stored link record keeps the case it was written with and reads back
// lower-cased.
TEST_F(TextureTest, NamesWithCapitalsFindTheOneLowerCaseHandler) {
    addDds("rock");
    TgaImage colour = solid(4, 4, 10, 20, 30);
    env().files["bark.jpg"] = encode(colour, ImageFormatJpeg);
    const std::size_t builtIn = library().count();

    EXPECT_NE(library().findOrCreate("ROCK", 6, true), nullptr);
    DXTextureHandler* rock = library().findOrCreate("Rock", 6, false);
    ASSERT_NE(rock, nullptr);
    EXPECT_EQ(rock->name(), "rock");
    EXPECT_EQ(library().findOrCreate("rOCK", 6, false), rock);
    EXPECT_EQ(library().findOrCreate("rock", 2, false), rock);
    DXTextureHandler* bark = library().findOrCreate("Bark", 2, false);
    ASSERT_NE(bark, nullptr);
    EXPECT_EQ(library().findOrCreate("BARK", 2, false), bark);
    EXPECT_EQ(library().count(), builtIn + 2);
    for (std::size_t i = 1; i < library().count(); ++i)
        EXPECT_LT(library().at(i - 1)->name(), library().at(i)->name());

    // A material record as a resource file holds it: "Rock" for the diffuse map.
    MemoryStream stream;
    MaterialData written;
    ASSERT_EQ(written.write(stream), 116 + 4);
    stream.setPosition(116);
    const char stored[] = "Rock";
    writeU8(stream, 1);
    writeU32(stream, 0);
    writeU32(stream, 1);
    writeU32(stream, 1);
    writeU8(stream, 0);
    writeU32(stream, sizeof stored);
    stream.write(stored, sizeof stored);
    for (int i = 1; i < MaterialData::kLinkCount; ++i) writeU8(stream, 0);
    stream.setPosition(0);
    MaterialData material;
    ASSERT_EQ(material.read(stream), 116 + 18 + 5 + 3);
    EXPECT_STREQ(material.links[0].baseName(), "rock");
    EXPECT_TRUE(material.validateTextures());
    ASSERT_TRUE(material.links[0].allocateDefault(0, false));
    EXPECT_EQ(material.links[0].handler(), rock);
    EXPECT_EQ(rock->refCount, 1);
    EXPECT_EQ(library().count(), builtIn + 2);
    material.links[0].release(false);
    // A name attached as given is held in lower case too.
    TextureLink direct;
    direct.init("bark");
    ASSERT_TRUE(direct.attachByName("BARK", 0, 0));
    EXPECT_STREQ(direct.name(), "bark");
    EXPECT_EQ(direct.handler(), bark);
    direct.release(false);
}

TEST_F(TextureTest, MaterialRecordKeepsItsHeadAndFourLinks) {
    MaterialData material;
    material.head.kind = 12;
    material.head.boneInfluences = 3;
    material.head.specularFactor[2] = 0.25f;
    material.links[0].init("rock");
    material.links[2].init("sky", 1);
    MemoryStream stream;
    const std::int32_t size = material.write(stream);
    EXPECT_EQ(size, 116 + 23 + 1 + 22 + 1);  // "rock" and "sky" records, two disabled
    std::int32_t kindAt72 = 0;
    std::memcpy(&kindAt72, stream.data() + 72, 4);
    EXPECT_EQ(kindAt72, 3);  // bone influences at offset 72
    stream.setPosition(0);
    MaterialData read;
    ASSERT_EQ(read.read(stream), size);
    EXPECT_EQ(read.head.kind, 12u);
    EXPECT_FLOAT_EQ(read.head.specularFactor[2], 0.25f);
    EXPECT_STREQ(read.links[2].baseName(), "sky");
    EXPECT_FALSE(read.links[1].enabled);

    addDds("rock");
    EXPECT_FALSE(read.validateTextures());  // no "sky"
    EXPECT_TRUE(gameCore.log->contains("Invalid texture [Environment]"));
    addDds("sky");
    EXPECT_TRUE(read.validateTextures());
}

TEST_F(TextureTest, ProceduralMapsLoadThroughTheLibrary) {
    library().allocated = true;
    const char* const names[] = {"procnormalizercubemap", "proclightattenuation", "proc2dlightmask",
                                 "procspecularmap",       "procghostmap",         "procwhitemap"};
    const std::uint32_t widths[] = {256, 512, 256, 256, 256, 1};
    for (int i = 0; i < 6; ++i) {
        TextureLink link;
        link.init(names[i], i == 0 ? 1 : 0);
        ASSERT_TRUE(link.allocateDefault(0, false)) << names[i];
        DXTextureHandler* handler = link.handler();
        EXPECT_EQ(handler->kind(), 4);
        ASSERT_NE(handler->texture, nullptr) << names[i];
        EXPECT_EQ(handler->imageWidth(), widths[i]) << names[i];
        EXPECT_EQ(static_cast<ProcTexMap*>(handler)->pool, D3DPOOL_DEFAULT);
        link.release(false);
    }
    std::string description;
    static_cast<ProcTexMap*>(library().findOrCreate("procghostmap", 6, true))->describe(description);
    EXPECT_EQ(description, "*** Procedural texture ***");
}

TEST_F(TextureTest, ProceduralTexelsReadBackAtHalfSizeOnTheLowestDetail) {
    // At details "minimum": half size in the managed pool (lockable); a
    // 1 x 1 map stays 1 x 1.
    env().setup.details = VideoDetailsMinimum;
    ProcSpecularNHxKMap specular("specular");
    ASSERT_TRUE(specular.load());
    ASSERT_EQ(specular.width, 128u);
    EXPECT_EQ(texel(specular.texture, 0, 127), 0u);                      // first column: x = 0
    EXPECT_NEAR(static_cast<int>(texel(specular.texture, 127, 127)), 254, 1);  // about 0.9965
    EXPECT_NEAR(static_cast<int>(texel(specular.texture, 127, 0)), 26, 1);     // about 0.1
    EXPECT_EQ(texel(specular.texture, 64, 127), 0u);

    ProcWhiteMap grey("grey");
    ASSERT_TRUE(grey.load());
    EXPECT_EQ(grey.width, 1u);
    EXPECT_EQ(texel(grey.texture, 0, 0), 0xFF808080u);

    ProcSpotIntensityMap spot("spot");
    ASSERT_TRUE(spot.load());
    EXPECT_EQ(texel(spot.texture, 0, 0), 0u);
    EXPECT_GE(texel(spot.texture, 64, 64), 250u);

    ProcGhostMap ghost("ghost");
    ASSERT_TRUE(ghost.load());
    EXPECT_EQ(ghost.width, 128u);
    EXPECT_LE(texel(ghost.texture, 0, 0), 3u);
    EXPECT_NEAR(static_cast<int>(texel(ghost.texture, 127, 0)), 26, 1);

    ProcFalloffMap falloff("falloff");
    ASSERT_TRUE(falloff.load());
    EXPECT_EQ(falloff.width, 256u);
    EXPECT_EQ(falloff.height, 1u);
    EXPECT_EQ(falloff.pool, D3DPOOL_MANAGED);
    ProcNormalizerTexMap normalizer("normalizer");
    ASSERT_TRUE(normalizer.load());
    EXPECT_EQ(normalizer.edge, 128u);
}

TEST_F(TextureTest, CreationCascadeKeepsARenderTargetsPool) {
    UINT width = 64;
    UINT height = 64;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    for (int i = 1; i <= 7; ++i) faults->failCreation(i);
    EXPECT_EQ(ProcTexMap::createTexture("target", 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, pool, width, height),
              nullptr);
    EXPECT_EQ(pool, D3DPOOL_DEFAULT);
    EXPECT_TRUE(gameCore.log->contains("Can't reduce image [target] more than 4x4"));

    width = height = 64;
    faults->failCreation(1);
    faults->failCreation(2);
    IDirect3DTexture9* texture =
        ProcTexMap::createTexture("plain", 1, 0, D3DFMT_A8R8G8B8, pool, width, height);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(pool, D3DPOOL_MANAGED);
    EXPECT_EQ(width, 32u);  // managed, then half size
    texture->Release();
}

TEST_F(TextureTest, BindingSetsTheStageWithTheVideoDevicesTables) {
    addDds("rock");
    library().allocated = true;
    VideoCore video;
    testing_support::ScopedCoreMember<VideoCore> installed(gameCore.video, &video);
    video.videoDevice.samplerFilters[3][0] = {D3DTEXF_POINT, D3DTEXF_ANISOTROPIC, D3DTEXF_LINEAR};  // mip, min, mag
    video.videoDevice.userAnisotropy = 8;
    video.videoDevice.textureAddress[2] = D3DTADDRESS_MIRROR;
    attachStateCache();
    ASSERT_TRUE(render_->stateCache().setupDeviceDefaults(false));
    TextureLink link;
    link.init("rock", 0, 2, 0);
    ASSERT_TRUE(link.allocateDefault(0, false));
    const std::int32_t stages[] = {2, 5, -1, 7};
    link.bindToStageList(stages, 3, true);
    // The bind waits for the draw: the pass record and the cache hold it.
    IDirect3DBaseTexture9* early = nullptr;
    device->GetTexture(5, &early);
    EXPECT_EQ(early, nullptr);
    EXPECT_EQ(render_->shaders().pass.textures[5], link.handler()->texture);
    render_->shaders().prepareDraw();
    auto sampler = [&](DWORD stage, D3DSAMPLERSTATETYPE type) {
        DWORD value = 0;
        device->GetSamplerState(stage, type, &value);
        return value;
    };
    IDirect3DBaseTexture9* bound = nullptr;
    device->GetTexture(5, &bound);
    EXPECT_EQ(bound, link.handler()->texture);
    if (bound) bound->Release();
    EXPECT_EQ(sampler(2, D3DSAMP_ADDRESSU), D3DTADDRESS_MIRROR);
    EXPECT_EQ(sampler(2, D3DSAMP_ADDRESSV), D3DTADDRESS_CLAMP);
    EXPECT_EQ(sampler(5, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_ANISOTROPIC));
    EXPECT_EQ(sampler(5, D3DSAMP_MIPFILTER), static_cast<DWORD>(D3DTEXF_POINT));
    EXPECT_EQ(sampler(5, D3DSAMP_MAXANISOTROPY), 8u);
    EXPECT_EQ(sampler(7, D3DSAMP_MINFILTER), sampler(0, D3DSAMP_MINFILTER));  // past the end mark: untouched

    // Without shader detail the plain set; a cube wraps on all three axes.
    env().setup.details = VideoDetailsMinimum;
    link.type = 1;
    link.bindToStage(1, 3, true);
    render_->shaders().prepareDraw();
    EXPECT_EQ(sampler(1, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(sampler(1, D3DSAMP_ADDRESSW), D3DTADDRESS_WRAP);
    EXPECT_EQ(sampler(1, D3DSAMP_ADDRESSU), D3DTADDRESS_WRAP);

    // The cache knows what the bind sent: a writer that wants back what
    // the device held before the bind gets it at the next apply.
    DXStateCache& cache = render_->stateCache();
    cache.setSampler(5, DXStateCache::SamplerMinFilter, D3DTEXF_LINEAR);
    cache.setSampler(5, DXStateCache::SamplerMaxAnisotropy, 1);
    cache.apply();
    EXPECT_EQ(sampler(5, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(sampler(5, D3DSAMP_MAXANISOTROPY), 1u);
    // A texture set behind the pass record is told to it: the bound one
    // comes back at the next draw.
    device->SetTexture(5, nullptr);
    render_->shaders().pass.forgetAppliedTextures();
    link.bindToStage(5, 3, true);
    render_->shaders().prepareDraw();
    IDirect3DBaseTexture9* again = nullptr;
    device->GetTexture(5, &again);
    EXPECT_EQ(again, link.handler()->texture);
    if (again) again->Release();
    link.release(false);
}
