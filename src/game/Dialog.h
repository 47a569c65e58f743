// The dialog game object: a scripted conversation of a scene.
//
// Dialogs are not read from their data yet: an object holds its name and the
// index of the phrase it plays, and it saves nothing.
#pragma once

#include <cstdint>

#include "scene/GameObject.h"

class Dialog : public GameObject {
public:
    explicit Dialog(const char* dialogName) : GameObject(dialogName) {}

    std::uint32_t getType() const override { return ObjectDialog; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return scene; }
    bool push() override { return true; }
    bool pop(std::uint32_t) override { return true; }
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override {}

    // Handle of the scene the dialog plays in.
    std::uint32_t scene = 0;
    // The phrase being played: 0 or more while a phrase runs, else -1.
    std::int32_t currentPhrase = -1;
};
