#include "animation/ModelMorph.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "animation/AnimationCore.h"
#include "animation/AnimationDataManager.h"
#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "model/Model.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

namespace {

// The scene list of voices.
constexpr std::uint32_t kVoiceList = 1;
// The fade-out of a voice that is stopped while it sounds.
constexpr float kVoiceFadeSeconds = 0.2f;

bool voicePlaying(GameObject& voice) {
    const auto query = sceneFactories().soundPlaying;
    return query && query(voice);
}

}  // namespace

std::unique_ptr<ModelMorph> ModelMorph::create(Y3MorphAnimationDataInstance* track, Model* owner) {
    if (!track) return nullptr;
    if (track->has(kResourceUnavailable)) {
        engineLog().resourceError("%s [%s]: resource is invalid", track->typeLabel, track->name);
        return nullptr;
    }
    return std::unique_ptr<ModelMorph>(new ModelMorph(track, owner));
}

const char* ModelMorph::resourceUserName() const { return owner ? owner->getName() : "NULL"; }

std::string ModelMorph::voiceName() const {
    std::string text = std::string(owner ? owner->getName() : "") + ".morph";
    if (text.size() > 511) text.resize(511);
    return text;
}

GameObject* ModelMorph::voice() const {
    Scene* scene = owner ? owner->scene() : nullptr;
    if (!scene || !gameCore.objects) return nullptr;
    const std::int32_t index = scene->findSound(kVoiceList, voiceName().c_str());
    if (index < 0) return nullptr;
    return gameCore.objects->getObject(scene->sounds[kVoiceList][static_cast<std::size_t>(index)]);
}

void ModelMorph::dropVoice() {
    Scene* scene = owner ? owner->scene() : nullptr;
    GameObject* sound = voice();
    if (!scene || !sound) return;
    if (voicePlaying(*sound) && sceneFactories().soundFade) sceneFactories().soundFade(*sound, kVoiceFadeSeconds);
    scene->deleteSound(kVoiceList, voiceName().c_str());
}

bool ModelMorph::push() {
    if (flags & kPushed) return engineLog().error("Can't push morph [%s] twice", resourceUserName());
    return track && track->pushReference(this);
}

bool ModelMorph::pop() { return track && track->popReference(this); }

MorphTrack* ModelMorph::loadedTrack() {
    MorphDataManager* manager = gameCore.animation ? &gameCore.animation->morphs() : nullptr;
    if (!manager || !track) return nullptr;
    return manager->loadTrack(track);
}

bool ModelMorph::play() {
    Log& log = engineLog();
    if (!(flags & kPushed)) return log.error("Can't play morph [%s]: push first", resourceUserName());
    if (flags & kPlaying) return log.error("Morph [%s] already played", resourceUserName());
    Scene* scene = owner ? owner->scene() : nullptr;
    GameObject* sound = scene ? scene->addSound(kVoiceList, voiceName().c_str(), track->name, 0) : nullptr;
    if (sound && sceneFactories().soundPlay) sceneFactories().soundPlay(*sound);
    MorphTrack* data = loadedTrack();
    if (!data) {
        // The voice already sounds: it goes with the failed play, so the
        // next voice of this model can take its name.
        dropVoice();
        return false;
    }
    if (sound) {
        const auto duration = sceneFactories().soundDuration;
        const double voiceLength = duration ? duration(*sound) : 0.0;
        const float trackLength = static_cast<float>(1.0 / data->rate);
        if (std::fabs(double(trackLength) - voiceLength) > 0.1)
            log.error("The [%s] Lip file (%3.1f sec) and Voice file (%3.1f sec) has DIFFERENT durations", track->name,
                      double(trackLength), voiceLength);
    }
    flags |= kPlaying;
    startTime = 0.0;
    return true;
}

bool ModelMorph::stop() {
    Log& log = engineLog();
    if (!(flags & kPushed)) return log.error("Can't stop morph [%s]: push and play first", resourceUserName());
    if (!(flags & kPlaying)) return log.error("Can't stop morph [%s]: not played", resourceUserName());
    dropVoice();
    flags &= ~kPlaying;
    return true;
}

bool ModelMorph::update(double currentTime, float* out) {
    if (startTime <= 0.0) startTime = currentTime - startTime;
    const double elapsed = std::max(0.0, currentTime - startTime);
    MorphTrack* data = loadedTrack();
    if (!data) return false;
    const double p = std::min(1.0, data->rate * elapsed);
    if (p >= 1.0) {
        GameObject* sound = (flags & kPlaying) ? voice() : nullptr;
        if (!(sound && voicePlaying(*sound)) && (flags & kPlaying)) stop();
        std::fill(out, out + kMorphChannelCount, 0.0f);
        return true;
    }
    const std::size_t n = data->frames.size();
    const double x = std::min(double(n) * p, double(n - 1));
    const std::size_t i = static_cast<std::size_t>(x);
    const std::size_t j = std::min(i + 1, n - 1);
    const double w = (p - data->step * double(i)) * double(n);
    const MorphFrame frame = blendMorphFrames(data->frames[j], data->frames[i], w);
    std::copy(frame.begin(), frame.end(), out);
    return true;
}

double ModelMorph::getDuration() {
    const MorphTrack* data = loadedTrack();
    return data ? 1.0 / data->rate : 0.0;
}

std::int32_t ModelMorph::write(const ModelMorph* morph, DataStream& stream, double currentTime) {
    std::int32_t total = 0;
    std::int32_t count = writeU32(stream, morph ? kSaveMorph : kSaveNone);
    if (count < 0 || !morph) return count;
    total += count;
    const char* name = morph->track ? morph->track->name : "";
    const std::size_t length = std::min<std::size_t>(std::strlen(name), kResourceNameLength);
    if ((count = writeU8(stream, static_cast<std::uint8_t>(length))) < 0) return count;
    total += count;
    if (length > 0) {
        if ((count = stream.write(name, static_cast<std::int32_t>(length))) < 0) return count;
        total += count;
    }
    if ((count = writeU32(stream, morph->flags)) < 0) return count;
    total += count;
    const double offset = std::min(morph->startTime - currentTime, -0.0001);
    if ((count = writeF64(stream, offset)) < 0) return count;
    return total + count;
}

std::int32_t ModelMorph::read(DataStream& stream, Model* owner, std::unique_ptr<ModelMorph>& out) {
    Log& log = engineLog();
    out.reset();
    std::int32_t total = 0;
    std::uint32_t code = 0;
    std::int32_t count = readU32(stream, code);
    if (count < 0) return count;
    total += count;
    if (code == kSaveNone) return total;
    if (code != kSaveMorph) {
        log.error("Morph save is invalid");
        return -1;
    }
    std::uint8_t length = 0;
    if ((count = readU8(stream, length)) < 0) return count;
    total += count;
    // A name longer than a record name cannot have been written by the game.
    if (length > kResourceNameLength) {
        log.error("Morph save is invalid");
        return -1;
    }
    char name[kResourceNameLength + 1] = {};
    if (length > 0) {
        if ((count = readExact(stream, name, length)) < 0) return count;
        total += count;
    }
    std::uint32_t flags = 0;
    double offset = 0.0;
    if ((count = readU32(stream, flags)) < 0) return count;
    total += count;
    if ((count = readF64(stream, offset)) < 0) return count;
    total += count;
    if (!std::isfinite(offset)) {
        log.error("Morph save is invalid");
        return -1;
    }
    MorphDataManager* manager = gameCore.animation ? &gameCore.animation->morphs() : nullptr;
    Y3MorphAnimationDataInstance* record = manager ? manager->getOrCreate(name, true) : nullptr;
    // A track that is unavailable leaves the model without a morph; the
    // record has been read whole.
    std::unique_ptr<ModelMorph> morph = create(record, owner);
    if (!morph) return total;
    morph->flags = flags & ~kPushed;
    morph->startTime = std::min(offset, -0.0001);
    out = std::move(morph);
    return total;
}
