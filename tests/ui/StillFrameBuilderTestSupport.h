// Screens as the game holds them: variable trees written by the variable
// writer and read into a variables core, then a script engine that knows
// "Variable", "Color", "StillFrame", "Image" and "Frame" over the still
// frames of a render core.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/DataStream.h"
#include "render/TextureTestSupport.h"
#include "resources/ResourceTestSupport.h"
#include "script/ScriptTestFixture.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "script/lua/ColorScript.h"
#include "script/lua/VariableScript.h"
#include "ui/FontTestSupport.h"
#include "ui/StillFrameData.h"
#include "ui/lua/UiScripts.h"
#include "variables/VariableWriter.h"

namespace still_frame_test {

class ScreenScripts {
public:
    static constexpr ScriptClassRegistration kClasses[] = {{"Variable", registerVariableClass},
                                                           {"Color", registerColorClass},
                                                           {"StillFrame, Image", registerStillFrameClass},
                                                           {"Frame", registerFrameClass}};

    // The still frames that "stillframe" and the builder use.
    explicit ScreenScripts(StillFrameData& data) {
        current() = &data;
        setStillFrameDataProvider([] { return current(); });
    }
    ~ScreenScripts() {
        stop();
        setStillFrameDataProvider(nullptr);
        current() = nullptr;
    }

    // The globals (and locales) in the writer's text form, stored and read
    // back as the game reads its variable files; then the scripts open.
    bool start(const std::string& globals, const std::string& locales = "") {
        stop();
        variables_ = std::make_unique<VariablesCore>();
        installed_ = std::make_unique<testing_support::ScopedCoreMember<VariablesCore>>(gameCore.variables,
                                                                                        variables_.get());
        if (!load(variables_->globals(), globals, "globals")) return false;
        if (!locales.empty() && !load(variables_->locales(), locales, "locales")) return false;
        script_ = std::make_unique<testing_support::ScriptFixture>(kClasses, 4);
        return true;
    }
    void stop() {
        if (current()) current()->releaseAll();
        script_.reset();
        installed_.reset();
        variables_.reset();
    }
    bool run(const std::string& code) { return script_->load(code); }
    std::string global(const char* name) { return script_->global(name); }
    bool logged(const std::string& text) { return script_->logged(text); }
    testing_support::ScriptFixture& script() { return *script_; }

private:
    static bool load(ScriptVariableTemplate& tree, const std::string& text, const char* name) {
        ScriptVariable root("root", ScriptVariable::TypeArray);
        std::string error;
        if (!variable_tools::parseVariableText(text, root, error)) {
            ADD_FAILURE() << error;
            return false;
        }
        MemoryStream file;
        if (variable_tools::writeVariableTree(root, file) <= 0) return false;
        file.setPosition(0);
        return tree.readSingleFile(file, name, 0) > 0;
    }
    static StillFrameData*& current() {
        static StillFrameData* data = nullptr;
        return data;
    }

    std::unique_ptr<VariablesCore> variables_;
    std::unique_ptr<testing_support::ScopedCoreMember<VariablesCore>> installed_;
    std::unique_ptr<testing_support::ScriptFixture> script_;
};

// On the null backend, with the textures "stone", "moss" and the font
// "menu" (glyphs of the test font) in the packages.
class BuilderFixture : public texture_test::TextureTest {
protected:
    void SetUp() override {
        TextureTest::SetUp();
        ASSERT_TRUE(packages_.built());
        for (const char* name : {"stone", "moss", "menu"}) addDds(name, 8, 8);
        screens_ = std::make_unique<ScreenScripts>(data());
    }
    void TearDown() override {
        screens_.reset();
        TextureTest::TearDown();
    }
    StillFrameData& data() { return render_->stillFrames().data; }
    bool start(const std::string& globals, const std::string& locales = "") {
        return screens_->start(globals, locales);
    }
    void stop() { screens_->stop(); }
    bool run(const std::string& code) { return screens_->run(code); }
    std::string global(const char* name) { return screens_->global(name); }
    bool logged(const std::string& text) { return screens_->logged(text); }

private:
    resource_tests::ScopedPackages packages_{{resource_tests::storedFile(".font4", "menu", font_test::fontBytes())}};
    std::unique_ptr<ScreenScripts> screens_;
};

}  // namespace still_frame_test
