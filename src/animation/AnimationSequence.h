// Animation sequences: what a model plays, compiled from a short text into
// 176-byte elements that save games, rule data and animation files store
// byte for byte.
//
// The text: optional "^" (append to what plays) and "*" (random start of
// the first element), then elements; each element is an optional "&" (the
// sequence is an idle one), an optional blend period, then "[", an optional
// start (a number, "x" and a number as a fraction of the duration, or "x*"
// for a random start), the animation's name ("-" before it plays it
// backwards), an optional length (seconds, or "x" and a multiple of the
// duration), an optional "," and speed, and "]". Syntax errors are logged
// with the text and a caret line under the failing position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class DataStream;

// Sequence flags.
constexpr std::uint32_t kSequenceIdle = 0x1;
constexpr std::uint32_t kSequenceAppend = 0x2;

// Element flags.
constexpr std::uint32_t kElementStartFraction = 0x1;
constexpr std::uint32_t kElementLengthMultiple = 0x2;
constexpr std::uint32_t kElementReverse = 0x4;
constexpr std::uint32_t kElementLoop = 0x8;
constexpr std::uint32_t kElementRandomStart = 0x10;

struct SequenceElement {
    std::uint32_t flags = 0;
    char animation[128] = {};
    std::uint32_t reserved = 0;
    double duration = 0.0;  // (frame count - 1) x 0.04 s
    double blend = 1.0;
    double start = 0.0;
    double length = 1.0;
    double speed = 1.0;
};
static_assert(sizeof(SequenceElement) == 176);
static_assert(offsetof(SequenceElement, animation) == 4);
static_assert(offsetof(SequenceElement, reserved) == 132);
static_assert(offsetof(SequenceElement, duration) == 136);
static_assert(offsetof(SequenceElement, blend) == 144);
static_assert(offsetof(SequenceElement, start) == 152);
static_assert(offsetof(SequenceElement, length) == 160);
static_assert(offsetof(SequenceElement, speed) == 168);

// Whether an element's values are ones the compiler can make: a duration
// above 0, a speed above 0, start, length and blend not negative, every
// value finite and the play time (length / speed) finite.
bool sequenceElementValid(const SequenceElement& element);

struct AnimationSequence {
    std::uint32_t flags = 0;
    std::vector<SequenceElement> elements;

    // The save record: flags, element count, the element images. Bytes or
    // the first negative result.
    std::int32_t write(DataStream& stream) const;
    // Reads the save record, replacing the elements. A count the bytes left
    // cannot hold, or an element the compiler could not have made, is
    // refused (logged, -1, no element kept); names always end in their
    // fields.
    std::int32_t read(DataStream& stream);
    // The elements become a copy of other's; the flags stay.
    void assign(const AnimationSequence& other) { elements = other.elements; }
    void clear() { std::vector<SequenceElement>().swap(elements); }
};

class AnimationStackCompiler {
public:
    // Appends the elements of text to sequence and may set its flags; false
    // (logged) on the first error, with the elements compiled before it
    // left in the sequence.
    static bool compileSequence(const char* text, AnimationSequence& sequence);
    // Loads the element's animation and sets its duration and loop flag;
    // false (logged) when the animation cannot be loaded.
    static bool completeElement(SequenceElement& element);
};
