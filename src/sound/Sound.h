// A sound that plays, and its volume fade.
//
// Sounds are not decoded or played yet: a sound keeps its fade and its
// flags, which the sound code will act on.
#pragma once

#include <cstdint>
#include <string>

class Sound {
public:
    // Released by the sound code once it has ended (as automatically
    // released global sounds are made).
    static constexpr std::uint32_t kAutoRelease = 0x1;

    // Starts a volume fade to silence over the given seconds.
    void fade(float seconds);

    // The object's name, used in the sound messages.
    std::string name;
    std::uint32_t flags = 0;
    bool fading = false;
    float fadeSeconds = 0.0f;
};

// The movie code's fade of a stopped movie's sound: fades it over the
// seconds given and leaves it to the sound code to release.
void fadeMovieSound(Sound* sound, float seconds);
