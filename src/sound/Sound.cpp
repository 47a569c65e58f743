#include "sound/Sound.h"

void Sound::fade(float seconds) {
    fading = true;
    fadeSeconds = seconds > 0.0f ? seconds : 0.0f;
}

void fadeMovieSound(Sound* sound, float seconds) {
    if (!sound) return;
    sound->fade(seconds);
    sound->flags |= Sound::kAutoRelease;
}
