// The still frames of a render core on the null Direct3D 9 backend, with a
// script engine that knows "StillFrame" and "Image" and an input core for
// the pointer.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "render/TextureTestSupport.h"
#include "script/ScriptTestFixture.h"
#include "ui/StillFrameData.h"
#include "ui/lua/UiScripts.h"

namespace still_frame_test {

inline CurrentTime at(double time, double step = 0.0) {
    CurrentTime t;
    t.real.time = t.game.time = t.world.time = time;
    t.real.step = t.game.step = t.world.step = step;
    return t;
}

class StillFrameFixture : public texture_test::TextureTest {
protected:
    static constexpr ScriptClassRegistration kClasses[] = {{"StillFrame, Image", registerStillFrameClass}};

    void SetUp() override {
        TextureTest::SetUp();
        current() = &data();
        setStillFrameDataProvider([] { return current(); });
    }
    void TearDown() override {
        data().releaseAll();
        setStillFrameDataProvider(nullptr);
        current() = nullptr;
        TextureTest::TearDown();
    }
    StillFrameData& data() { return render_->stillFrames().data; }
    StillFrameScriptDataItem* item(const char* name, float x, float y, float w, float h, std::int32_t layer = 0) {
        StillFrameScriptDataItem* it = data().create(name);
        it->x = x;
        it->y = y;
        it->width = w;
        it->height = h;
        it->layer = layer;
        return it;
    }
    int linesWith(const std::string& text) {
        int n = 0;
        for (const LogRecord& record : f.log().records()) n += record.text.find(text) != std::string::npos;
        return n;
    }
    std::string events() { return f.global("events"); }

    testing_support::ScriptFixture f{kClasses, 1};
    InputCore input;
    testing_support::ScopedCoreMember<InputCore> installed{gameCore.input, &input};

private:
    static StillFrameData*& current() {
        static StillFrameData* data = nullptr;
        return data;
    }
};

}  // namespace still_frame_test
