// Camera command strings and the stacks they parse into.
//
// A command string is one or more position words, each naming a camera
// waypoint or one of the reserved names "trace", "link", "current" and
// "head", with optional timing, hold, pan, zoom, twist, rotation, field of
// view, look target, rotation centre and shakes:
//     [b]blend[:curve] "[" [hold] [!][.]name {element} "]"
// The stack keeps one fixed-size item per word; the camera's blender plays
// them (scene/CameraCore.h). Items are stored raw in saves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class DataStream;

// Bits of CameraStackItem::flags.
enum CameraItemFlag : std::uint32_t {
    CameraItemSnap = 0x001,        // "!": the game view starts at the new pose
    CameraItemFollow = 0x002,      // the pose is recomputed every frame (no ".")
    CameraItemTarget = 0x004,      // "*"
    CameraItemCenter = 0x008,      // "@"
    CameraItemRotation = 0x010,    // "r"
    CameraItemTwist = 0x020,       // "t"
    CameraItemZoom = 0x040,        // "z"
    CameraItemPan = 0x080,         // "p"
    CameraItemTiming = 0x100,      // a timing prefix
    CameraItemFov = 0x200,         // "f"
};

// An object (or one of its bones) with a value: a distance in front of the
// camera when the object name is empty, else a height offset.
struct CameraTarget {
    char object[128];
    char bone[128];
    float value;
};

struct CameraStackItem {
    std::uint32_t flags;
    char name[128];
    float hold;
    std::uint32_t shakeAxes;  // 1 x, 2 y, 4 z
    float shake[3][2];        // amplitude (radians), frequency
    float blendTime;
    float curve;
    std::uint32_t crossFade;
    CameraTarget target;
    CameraTarget center;
    float rotation[2];
    float twist;
    float zoom;
    float fov;
    float pan[2];
};
static_assert(sizeof(CameraTarget) == 260);
static_assert(sizeof(CameraStackItem) == 724);
static_assert(offsetof(CameraStackItem, target) == 176);
static_assert(offsetof(CameraStackItem, pan) == 716);

// The index of the first character at or after position that is not a
// space, LF or CR; -1 at the end of the text.
std::int32_t skipBlanks(const char* text, std::int32_t position);

class CameraStack {
public:
    CameraStack() = default;
    // Logs a stack that still holds items, then frees them.
    ~CameraStack();
    CameraStack(const CameraStack&) = default;
    CameraStack& operator=(const CameraStack&) = default;

    // Parses a whole command string, appending its items. The first error
    // is logged with the text and a caret line under the failing column,
    // the stack is emptied and false is returned.
    bool parseCommands(const char* text);
    // Magic, count, raw items: bytes or the first negative result.
    std::int32_t write(DataStream& stream) const;
    // -1 for a wrong magic (the stack untouched) or a count the record
    // cannot hold; names are always terminated.
    std::int32_t read(DataStream& stream);
    void clear() { std::vector<CameraStackItem>().swap(items); }

    static constexpr std::uint32_t kMagic = 0xA07B1F07;

    std::vector<CameraStackItem> items;
};
