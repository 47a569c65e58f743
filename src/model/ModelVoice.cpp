// A model's voice lines and their lip-sync morph.
#include <algorithm>

#include "animation/AnimationCore.h"
#include "animation/AnimationDataManager.h"
#include "animation/ModelMorph.h"
#include "app/GameCore.h"
#include "foundation/Log.h"
#include "model/Model.h"

bool Model::createMorph(const char* morphName) {
    Log& log = engineLog();
    const char* text = morphName ? morphName : "";
    if (!isShown()) return log.error("Can't create morph for invisible object [%s]", name);
    if (morph)
        return log.error("Can't create model [%s] morph [%s]: First release old morph [%s]", name, text,
                         morph->track ? morph->track->name : "");
    MorphDataManager* manager = gameCore.animation ? &gameCore.animation->morphs() : nullptr;
    Y3MorphAnimationDataInstance* record = manager ? manager->getOrCreate(text, true) : nullptr;
    morph = ModelMorph::create(record, this);
    if (morph && (stateWords[0] & kModelInContext)) morph->push();
    if (!morph) return log.error("Fail to create morph [%s] for object [%s]", text, name);
    return true;
}

bool Model::releaseMorph() {
    if (!morph) return true;
    // A morph popped with its model (a release) is no longer pushed: it is
    // stopped here without the message of a stop before a push.
    if (morph->playing() && morph->resourcePushed()) morph->stop();
    morph->flags &= ~ModelMorph::kPlaying;
    // A morph that is not playing may still hold its voice (a play that
    // failed, a restored morph): it goes with the morph.
    morph->dropVoice();
    if (morph->resourcePushed()) morph->pop();
    morph.reset();
    std::fill(std::begin(animation.skeleton.channelWeights), std::end(animation.skeleton.channelWeights), 0.0f);
    animation.flags |= kAnimationChannelsChanged;
    stateWords[0] |= kModelPaletteRefresh;
    return true;
}

bool Model::isVoicePlaying() const { return morph && morph->playing(); }

float Model::voice(const char* morphName) {
    Log& log = engineLog();
    const char* text = morphName ? morphName : "";
    if (!isShown()) {
        log.error("Can't play voice [%s] invisible object [%s]", text, name);
        return 0.0f;
    }
    releaseMorph();
    if (!createMorph(text)) return 0.0f;
    if (!morph->play()) {
        releaseMorph();
        log.error("Can't play morph [%s] for model [%s]", text, name);
        return 0.0f;
    }
    const double duration = morph->getDuration();
    log.message("Morph [%s] of object [%s] starts (%.2f sec)", text, name, duration);
    return static_cast<float>(duration);
}

void Model::updateMorph(double currentTime) {
    if (!morph) return;
    const bool wasPlaying = morph->playing();
    float weights[8] = {};
    if (!morph->update(currentTime, weights)) return;
    float* target = animation.skeleton.channelWeights;
    if (!std::equal(weights, weights + 8, target)) {
        std::copy(weights, weights + 8, target);
        animation.flags |= kAnimationChannelsChanged;
        stateWords[0] |= kModelPaletteRefresh;
    }
    if (wasPlaying && !morph->playing())
        engineLog().message("Morph [%s] of object [%s] ends", morph->track ? morph->track->name : "", name);
}
