// A still-frame item as the quad batch draws it: where it lies on the
// 1024 x 768 still-frame screen, its colour, its texture-coordinate
// transforms, its render state and its frames (parts of its image).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/ScriptBinding.h"

class TextureLink;

// What decides whether two items can be drawn together: the two textures,
// the blend values, the mode and a factor.
struct StillFrameItemState {
    TextureLink* textures[2] = {};
    std::uint32_t values[2] = {2, 0};  // blend mode (2: alpha blending), second value
    std::uint32_t mode = 0;
    float factor = 0.0f;
};

// One frame of an item: a rectangle (left, top, right, bottom, in item
// units) and its two texture-coordinate corners (u0, v0, u1, v1).
struct StillFrameFrame {
    float rect[4] = {};
    float texCoords[4] = {};
};
static_assert(sizeof(StillFrameFrame) == 32, "a frame record is 32 bytes");

// u' = u * scale + offset, per texture-coordinate set.
struct TexCoordTransform {
    float scale[2] = {1.0f, 1.0f};
    float offset[2] = {};
    void apply(float& u, float& v) const {
        u = u * scale[0] + offset[0];
        v = v * scale[1] + offset[1];
    }
};

class StillFrameItem {
public:
    StillFrameItem() = default;
    StillFrameItem(const StillFrameItem&) = delete;
    StillFrameItem& operator=(const StillFrameItem&) = delete;
    // Script objects of the item expire with it.
    std::weak_ptr<StillFrameItem*> lifeToken() const { return life_.token(); }

    std::string name;
    std::string source;  // the image's texture name
    std::int32_t layer = 0;
    bool visible = true;
    float position[2] = {};
    float widthFactor = 1.0f;
    float heightFactor = 1.0f;
    float angle = 0.0f;  // degrees about the z axis
    float pivot[2] = {};
    float alpha = 1.0f;
    float color[3] = {1.0f, 1.0f, 1.0f};
    TexCoordTransform texCoordTransforms[2];
    StillFrameItemState state;
    std::vector<StillFrameFrame> frames;

private:
    ScriptLife<StillFrameItem> life_{this};
};
