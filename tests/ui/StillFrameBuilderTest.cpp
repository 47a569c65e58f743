// Screens built from script-variable tables: the variable files come from
// the variable writer, the scripts call image_Create and image_Replace, and
// the still frames of the render core receive the items.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ui/StillFrameBuilderTestSupport.h"

namespace {

using still_frame_test::BuilderFixture;

// Lines shared by the rows of a one-row table named "row".
const char* const kWindow =
    "menu.sf.name.row string\n"
    "menu.sf.image.1 string stone\n"
    "menu.sf.u.1 number 16\n"
    "menu.sf.du.1 number 32\n"
    "menu.sf.v.1 number 8\n"
    "menu.sf.dv.1 number 16\n"
    "menu.sf.image_dx.1 number 64\n"
    "menu.sf.image_dy.1 number 32\n";

class StillFrameBuilderTest : public BuilderFixture {};

TEST_F(StillFrameBuilderTest, RowsBecomeItemsNamedByTagOrKey) {
    // Rows: two tagged buttons, an untagged label, a row without an image
    // and an ignored one. The column "x" reaches the first row only.
    std::string globals;
    const char* const keys[] = {"first string btn", "second string btn", "plain string label", "noimage string",
                                "skipped string"};
    for (const char* key : keys) globals += std::string("menu.sf.name.") + key + "\n";
    const char* const images[] = {"string stone", "string stone", "string moss", "empty", "string stone"};
    for (int i = 0; i < 5; ++i) {
        const std::string cell = std::to_string(i + 1) + " ";
        globals += "menu.sf.image." + cell + images[i] + "\n";
        for (const char* column : {"u 0", "du 32", "v 0", "dv 32", "image_dx 64", "image_dy 64"}) {
            const std::string c(column);
            globals += "menu.sf." + c.substr(0, c.find(' ')) + "." + cell + "number" + c.substr(c.find(' ')) + "\n";
        }
    }
    globals += "menu.sf.tag.1 number 1\nmenu.sf.tag.2 number 2.9\n"
               "menu.sf.ignore.1 boolean false\nmenu.sf.ignore.2 boolean false\nmenu.sf.ignore.3 boolean false\n"
               "menu.sf.ignore.4 boolean false\nmenu.sf.ignore.5 boolean true\n"
               "menu.sf.x.1 number 40\n"
               "menu.sf.wrapU.1 boolean true\nmenu.sf.wrapV.1 boolean false\n"
               "menu.sf.rgb.1 empty\nmenu.sf.rgb.2 string\nmenu.sf.rgb.3 string 80FF0000\n";
    ASSERT_TRUE(start(globals));
    ASSERT_TRUE(run("ok = tostring(globals:get('menu'):image_Create())"));
    EXPECT_EQ(global("ok"), "true");
    EXPECT_EQ(data().itemCount(), 3);
    StillFrameScriptDataItem* btn1 = data().find("btn1");
    StillFrameScriptDataItem* btn2 = data().find("btn2");
    StillFrameScriptDataItem* plain = data().find("plain");
    ASSERT_TRUE(btn1 && btn2 && plain);
    EXPECT_EQ(btn1->tag, 1);
    EXPECT_EQ(btn2->tag, 2);  // truncated
    EXPECT_EQ(btn1->x, 40.0f);
    EXPECT_EQ(btn2->x, 0.0f);  // the short column leaves it alone
    EXPECT_STREQ(plain->image.source.link.baseName(), "moss");
    EXPECT_FLOAT_EQ(btn1->image.width, 0.5f);
    EXPECT_FLOAT_EQ(btn1->image.height, 0.5f);
    EXPECT_TRUE(btn1->image.source.flags & SourceWrapU);
    EXPECT_FALSE(btn1->image.source.flags & SourceWrapV);
    // The texture is sampled as the flags say.
    EXPECT_EQ(btn1->image.source.link.addressU, 1u);
    EXPECT_EQ(btn1->image.source.link.addressV, 0u);
    // The colour text is stored at half intensity; the others stay neutral.
    EXPECT_FLOAT_EQ(plain->color[0], 0.5f);
    EXPECT_FLOAT_EQ(plain->color[1], 0.0f);
    EXPECT_NEAR(plain->color[3], 128.0f / 255.0f, 1e-4f);
    EXPECT_FLOAT_EQ(btn1->color[1], 0.5f);
}

TEST_F(StillFrameBuilderTest, AFailingRowStopsWhereItFailsAndKeepsItsItem) {
    struct Case {
        const char* what;
        std::string lines;     // added to the one-row table (or replacing it)
        bool ok;
        const char* message;   // logged ("" for none)
        bool itemStays;
    };
    const Case cases[] = {
        {"x_base 0.5", std::string(kWindow) + "menu.sf.x_base.1 number 0.5\n", false,
         "Invalid base values [0.500000, 768.000000]", true},
        {"x_base 1.0", std::string(kWindow) + "menu.sf.x_base.1 number 1\n", true, "", true},
        {"physics", std::string(kWindow) + "menu.sf.physics.1 string box\nmenu.sf.mass.1 number 2\n", false,
         "Can't create physics [box] for sf [row]", true},
        {"bad colour", std::string(kWindow) + "menu.sf.rgb.1 string 12345z\n", false,
         "Fail execute string func [imageSF->color.setRGBText] for stillframe [row]", true},
        {"bad post effect", std::string(kWindow) + "menu.sf.effect.1 string blurred\n", false,
         "Fail execute string func [imageSF->effect.setPostProces] for stillframe [row]", true},
        {"missing parent", std::string(kWindow) + "menu.sf.parent.1 string nobody\n", false,
         "Can't attach stillframe [row] to parent [nobody]", true},
        {"missing locale text", std::string(kWindow) + "menu.sf.text.1 string menu.none\n", false,
         "Can't find localization path [menu.none] for stillframe [row]", true},
        {"missing image texture", std::string(kWindow).replace(std::string(kWindow).find("stone"), 5, "gone"), false,
         "Can't set image [gone] for stillframe [row]", true},
        {"unknown particle",
         std::string(kWindow) + "menu.sf.particle.1 string sparks\n", false,
         "Fail execute string func [imageSF->particle.setParticle] for stillframe [row]", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(start(c.lines));
        ASSERT_TRUE(run("ok = tostring(globals:get('menu'):image_Create())"));
        EXPECT_EQ(global("ok"), c.ok ? "true" : "false");
        if (*c.message) EXPECT_TRUE(logged(c.message));
        StillFrameScriptDataItem* row = data().find("row");
        EXPECT_EQ(row != nullptr, c.itemStays);
        stop();
    }
}

TEST_F(StillFrameBuilderTest, AMissingImageSizeFailsAfterCreatingTheItemWhichKeepsWhatWasSet) {
    std::string lines = kWindow;
    lines.erase(lines.find("menu.sf.image_dy.1"), std::string("menu.sf.image_dy.1 number 32\n").size());
    ASSERT_TRUE(start(lines + "menu.sf.tag.1 number 7\nmenu.sf.state.1 number 3\nmenu.sf.g.1 number 0.25\n"
                              "menu.sf.x.1 number 99\n"));
    ASSERT_TRUE(run("ok = tostring(globals:get('menu'):image_Create())"));
    EXPECT_EQ(global("ok"), "false");
    StillFrameScriptDataItem* row = data().find("row");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->tag, 7);
    EXPECT_EQ(row->state, 3);
    EXPECT_FLOAT_EQ(row->color[1], 0.25f);
    EXPECT_STREQ(row->image.source.link.baseName(), "stone");
    EXPECT_EQ(row->x, 0.0f);  // read after the window: never reached
}

TEST_F(StillFrameBuilderTest, AnImageSizeOfZeroFailsTheRowAndLeavesTheWindowFinite) {
    struct Case {
        const char* key;
        const char* value;
    };
    for (const Case c : {Case{"image_dx", "0"}, Case{"image_dy", "-4"}}) {
        std::string lines = kWindow;
        const std::string cell = std::string("menu.sf.") + c.key + ".1";
        lines.erase(lines.find(cell), lines.find('\n', lines.find(cell)) + 1 - lines.find(cell));
        ASSERT_TRUE(start(lines + cell + " number " + c.value + "\n"));
        ASSERT_TRUE(run("ok = tostring(globals:get('menu'):image_Create())"));
        EXPECT_EQ(global("ok"), "false") << c.key;
        EXPECT_TRUE(logged(std::string("Invalid field [") + c.key + "]")) << c.key;
        const StillFrameScriptDataItem* row = data().find("row");
        ASSERT_NE(row, nullptr);
        for (float v : {row->image.left, row->image.top, row->image.width, row->image.height})
            EXPECT_TRUE(std::isfinite(v)) << c.key;
        stop();
    }
}

TEST_F(StillFrameBuilderTest, BaseScalingLayersTextCompanionFadesAndFrames) {
    ASSERT_TRUE(start(std::string(kWindow) +
                          "menu.sf.x.1 number 100\nmenu.sf.dx.1 number 50\nmenu.sf.y.1 number 30\n"
                          "menu.sf.dy.1 number 20\nmenu.sf.x_base.1 number 512\nmenu.sf.y_base.1 number 384\n"
                          "menu.sf.order.1 number 5\nmenu.sf.angle.1 number 12\nmenu.sf.tag.1 number 4\n"
                          "menu.sf.visible.1 boolean false\n"
                          "menu.sf.text.1 string menu.play\nmenu.sf.font.1 string menu\nmenu.sf.font_size.1 number 2\n"
                          "menu.sf.text_x.1 number 10\nmenu.sf.text_y.1 number 5\nmenu.sf.text_dx.1 number 40\n"
                          "menu.sf.tr.1 number 0.25\n"
                          "menu.sf.show.1 number 2\nmenu.sf.txt_hide.1 number 3\n"
                          "menu.sf.anim_speed.1 number 10\nmenu.sf.anim_frames.1 number 4\n",
                      "menu.play wstring Play\n"));
    ASSERT_TRUE(run("ok = tostring(globals:get('menu'):image_Create())"));
    EXPECT_EQ(global("ok"), "true");
    // The name text is empty: the row's key names the item.
    StillFrameScriptDataItem* row = data().find("row");
    StillFrameScriptDataItem* text = data().find("row_text");
    ASSERT_TRUE(row && text);
    EXPECT_FLOAT_EQ(row->x, 200.0f);
    EXPECT_FLOAT_EQ(row->width, 100.0f);
    EXPECT_FLOAT_EQ(row->y, 60.0f);
    EXPECT_FLOAT_EQ(row->height, 40.0f);
    EXPECT_EQ(row->layer, 5);
    EXPECT_EQ(row->particle.layer, 7);
    EXPECT_EQ(text->layer, 6);
    EXPECT_EQ(text->link.parent, row);
    EXPECT_GT(text->textGlyphs, 0);
    EXPECT_FLOAT_EQ(text->width, 80.0f);  // the wrap width the text takes
    EXPECT_FLOAT_EQ(text->link.ax, 20.0f - 200.0f);
    EXPECT_FLOAT_EQ(text->color[0], 0.25f);
    EXPECT_FLOAT_EQ(text->color[1], 0.0f);
    EXPECT_FLOAT_EQ(text->color[3], 1.0f);
    // Copied from the item.
    EXPECT_FALSE(text->visible());
    EXPECT_EQ(text->angle, 12.0f);
    EXPECT_EQ(text->tag, 4);
    // Fades and the frame animation.
    EXPECT_TRUE(row->animation.modes & (1u << ModeShow));
    EXPECT_TRUE(text->animation.modes & (1u << ModeHide));
    EXPECT_TRUE(row->animation.modes & (1u << ModeAnimate));
    EXPECT_EQ(row->image.speed, 10);
    EXPECT_EQ(row->image.frameCount, 4);
}

TEST_F(StillFrameBuilderTest, ReplacingKeepsHandlersVisibilityImageAndAnUnrebuiltText) {
    // The first table builds; the second one's row "row" updates it.
    const std::string second =
        "other.sf.name.row string\nother.sf.image.1 empty\n"
        "other.sf.u.1 number 0\nother.sf.du.1 number 8\nother.sf.v.1 number 0\nother.sf.dv.1 number 8\n"
        "other.sf.image_dx.1 number 8\nother.sf.image_dy.1 number 8\n"
        "other.sf.visible.1 boolean true\nother.sf.onOver.1 string second\nother.sf.x.1 number 300\n"
        "other.sf.text.1 string menu.quit\nother.sf.font.1 string menu\nother.sf.font_size.1 number 1\n"
        "other.sf.text_x.1 number 77\nother.sf.tr.1 number 0.5\n"
        "other.sf.mask_image.1 string moss\nother.sf.txt_hide.1 number 2\n";
    ASSERT_TRUE(start(std::string(kWindow) + "menu.sf.visible.1 boolean false\nmenu.sf.onOver.1 string first\n"
                          "menu.sf.text.1 string menu.play\nmenu.sf.font.1 string menu\nmenu.sf.font_size.1 number 1\n"
                          "menu.sf.text_x.1 number 10\n"
                          "menu.sf.tr.1 number 0.25\n" + second,
                      "menu.play wstring Play\nmenu.quit wstring Leave now\n"));
    ASSERT_TRUE(run("ok1 = tostring(globals:get('menu'):image_Create())\n"
                    "ok2 = tostring(globals:get('other'):image_Replace('row', 'row', false))\n"));
    EXPECT_EQ(global("ok1"), "true");
    EXPECT_EQ(global("ok2"), "true");
    EXPECT_EQ(data().itemCount(), 2);
    StillFrameScriptDataItem* row = data().find("row");
    StillFrameScriptDataItem* text = data().find("row_text");
    ASSERT_TRUE(row && text);
    EXPECT_EQ(row->handlers[EventMouseOver], "first");
    EXPECT_FALSE(row->visible());
    EXPECT_STREQ(row->image.source.link.baseName(), "stone");
    EXPECT_EQ(row->x, 300.0f);
    EXPECT_FLOAT_EQ(row->image.width, 1.0f);  // the second table's window
    // The companion keeps "Play", its place and its colour; the mask and
    // the fade reach it.
    EXPECT_EQ(text->textGlyphs, 4);
    EXPECT_FLOAT_EQ(text->link.ax, 10.0f - 0.0f);
    EXPECT_FLOAT_EQ(text->color[0], 0.25f);
    EXPECT_STREQ(text->mask.source.link.baseName(), "moss");
    EXPECT_STREQ(row->mask.source.link.baseName(), "moss");
    EXPECT_TRUE(text->animation.modes & (1u << ModeHide));
    // With the text rebuilt, by row number, it changes.
    ASSERT_TRUE(run("ok3 = tostring(globals:get('other'):image_Replace('row', 1, true))"));
    EXPECT_EQ(global("ok3"), "true");
    EXPECT_GT(text->textGlyphs, 4);
    EXPECT_FLOAT_EQ(text->color[0], 0.5f);
}

TEST_F(StillFrameBuilderTest, AnImageTakesItsTextFromALocaleVariableOrAString) {
    ASSERT_TRUE(start("fixture.ready boolean true\n", "menu.play wstring Play\n"));
    ASSERT_TRUE(run("img = stillframe:create('label'); img.width = 200\n"
                    "ok1 = tostring(img:setText(locales:get('menu.play'), 2, 'menu'))\n"
                    "n1 = img.height\n"
                    "ok2 = tostring(img:setText('Hello you', 1, 'menu'))\n"));
    EXPECT_EQ(global("ok1"), "true");
    EXPECT_EQ(global("n1"), "48");  // one line of 24 at size 2
    EXPECT_EQ(global("ok2"), "true");
    const StillFrameScriptDataItem* label = data().find("label");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textGlyphs, 9);
}

}  // namespace
