#include "resources/MovieDataManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "resources/ResourceTestSupport.h"

using namespace resource_tests;

namespace {

struct FadeCall {
    Sound* sound;
    float seconds;
};
std::vector<FadeCall> fades;
void recordFade(Sound* sound, float seconds) { fades.push_back({sound, seconds}); }

struct CountingDecoder : MovieDecoder {
    static int live;
    CountingDecoder() { ++live; }
    ~CountingDecoder() override { --live; }
    std::int32_t frameCount() const override { return 3; }
};
int CountingDecoder::live = 0;

// A stand-in for the sound that follows a movie; only its address is used.
Sound* fakeSound() {
    static int storage;
    return reinterpret_cast<Sound*>(&storage);
}

class MovieTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(packages.built());
        fades.clear();
        setMovieSoundFade(&recordFade);
        CountingDecoder::live = 0;
    }
    void TearDown() override {
        setMovieSoundFade(nullptr);
        movieSettings() = MovieSettings();
        EXPECT_EQ(CountingDecoder::live, 0);
    }

    // A movie record, its header loaded, and an instance pushed onto it.
    MovieInstance* pushedInstance(const char* name) {
        MovieBinkData* movie = manager.getOrCreate("intro", true);
        if (!movie->has(kResourceHeaderLoaded)) manager.loadHeader(movie, nullptr);
        auto* instance = new MovieInstance(name);
        instance->movie = movie;
        instance->decoder = new CountingDecoder;
        instance->flags |= kMoviePlaying;
        EXPECT_TRUE(manager.push(movie, instance));
        return instance;
    }

    Log& log() { return packages.log(); }

    ScopedPackages packages{{storedFile(".bik", "intro", "not a real movie")}};
    MovieDataManager manager;
};

TEST_F(MovieTest, MovieRecordHoldsACopyOfItsName) {
    MovieBinkData* movie = manager.getOrCreate("intro", true);
    ASSERT_TRUE(manager.loadHeader(movie, nullptr));
    EXPECT_STREQ(movie->object(), "intro");
    EXPECT_TRUE(manager.loadData(movie));  // no data file: loaded at once
    EXPECT_TRUE(manager.allocate(movie));
    movie->release();
    EXPECT_EQ(movie->object(), nullptr);
    EXPECT_TRUE(manager.getOrCreate("outro", false)->has(kResourceUnavailable));
}

TEST_F(MovieTest, WithoutADecoderAMovieHasNoFramesAndEndsAtOnce) {
    MovieInstance instance("plain");
    EXPECT_EQ(instance.frameCount(), 0);
    EXPECT_TRUE(instance.finished());
}

TEST_F(MovieTest, StoppingFadesTheSoundAndClearsPlaying) {
    MovieInstance silent("silent");
    silent.flags = kMoviePlaying | kMovieGlobalSound;
    EXPECT_TRUE(stopMovieInstance(&silent));
    EXPECT_EQ(silent.flags, kMovieGlobalSound);
    EXPECT_TRUE(fades.empty());

    movieSettings().soundFadeInTime = 2.5f;
    MovieInstance voiced("voiced");
    voiced.flags = kMoviePlaying;
    voiced.sound = fakeSound();
    EXPECT_TRUE(stopMovieInstance(&voiced));
    ASSERT_EQ(fades.size(), 1u);
    EXPECT_EQ(fades[0].sound, fakeSound());
    EXPECT_EQ(fades[0].seconds, 2.5f);
    EXPECT_EQ(voiced.sound, nullptr);
    EXPECT_EQ(voiced.flags, 0u);
}

TEST_F(MovieTest, RemovingAnInstanceFromItsOwner) {
    PointerArray<MovieInstance> owner;
    MovieInstance* first = pushedInstance("first");
    MovieInstance* second = pushedInstance("second");
    MovieInstance* third = pushedInstance("third");
    first->sound = fakeSound();
    owner.append(first);
    owner.append(second);
    owner.append(third);
    MovieBinkData* movie = first->movie;

    const std::size_t mark = log().recordCount();
    EXPECT_TRUE(removeMovieInstance(owner, first));
    EXPECT_TRUE(logSince(log(), mark).empty());
    ASSERT_EQ(owner.count(), 2u);
    EXPECT_EQ(owner[0], third);  // the last entry took its place
    EXPECT_EQ(movie->users.count(), 2u);
    EXPECT_EQ(fades.size(), 1u);
    EXPECT_EQ(CountingDecoder::live, 2);

    // Not in the owner's list: reported, and still popped, stopped and freed.
    owner.removeAt(1);  // second
    EXPECT_TRUE(removeMovieInstance(owner, second));
    EXPECT_EQ(logSince(log(), mark), std::vector<std::string>{"Can't find movie instance [second]"});
    EXPECT_EQ(movie->users.count(), 1u);

    EXPECT_TRUE(removeMovieInstance(owner, third));
    EXPECT_EQ(owner.count(), 0u);
    EXPECT_EQ(movie->users.count(), 0u);
}

TEST_F(MovieTest, RemovalNeverStopsHalfWay) {
    PointerArray<MovieInstance> owner;
    // Never pushed: the pop fails, the rest goes on.
    auto* loose = new MovieInstance("loose");
    loose->movie = manager.getOrCreate("intro", true);
    loose->decoder = new CountingDecoder;
    owner.append(loose);
    std::size_t mark = log().recordCount();
    EXPECT_TRUE(removeMovieInstance(owner, loose));
    EXPECT_EQ(logSince(log(), mark),
              (std::vector<std::string>{"Can't pop movie source [loose]: push first",
                                        "Can't pop movie [loose] object in resource manager"}));
    EXPECT_EQ(owner.count(), 0u);

    // Pushed but missing from the movie's user list.
    MovieInstance* stray = pushedInstance("stray");
    stray->movie->users.removeAt(0);
    mark = log().recordCount();
    EXPECT_TRUE(removeMovieInstance(owner, stray));
    const auto messages = logSince(log(), mark);
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_EQ(messages[1], "Can't delete movie [stray] from movie source references list [intro]");
    EXPECT_EQ(messages[3], "Can't pop movie [stray] object in resource manager");
    EXPECT_EQ(messages[4], "Pop movie object [stray] before destructor call");
}

TEST_F(MovieTest, DestroyingAPushedInstancePopsIt) {
    MovieInstance* instance = pushedInstance("pushed");
    MovieBinkData* movie = instance->movie;
    const std::size_t mark = log().recordCount();
    destroyMovieInstance(instance);
    EXPECT_EQ(logSince(log(), mark),
              std::vector<std::string>{"Pop movie object [pushed] before destructor call"});
    EXPECT_EQ(instance->decoder, nullptr);
    EXPECT_EQ(movie->users.count(), 0u);
    EXPECT_FALSE(instance->resourcePushed());
    delete instance;
}

TEST_F(MovieTest, SettingsComeFromSectionMovie) {
    IniFile settings;
    testing_support::ScopedCoreMember useSettings(gameCore.settings, &settings);
    movieSettings().soundFadeInTime = 9.0f;
    readMovieSettings();  // nothing set: the defaults
    EXPECT_EQ(movieSettings().soundFadeInTime, 1.0f);
    EXPECT_EQ(movieSettings().soundSyncTimeEpsilon, 5.0f);
    settings.getCategory("movie").getVariable("sound_fadein_time").setString("0.25");
    settings.getCategory("movie").getVariable("sound_sync_time_epsilon").setString("2");
    readMovieSettings();
    EXPECT_EQ(movieSettings().soundFadeInTime, 0.25f);
    EXPECT_EQ(movieSettings().soundSyncTimeEpsilon, 2.0f);
}

}  // namespace
