#include "game/Y3DialogData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dialog/DialogWriter.h"
#include "foundation/DataStream.h"
#include "foundation/XmlWriter.h"
#include "support/TestSupport.h"

using namespace std::string_literals;

namespace {

std::vector<DialogLabel> labels(std::initializer_list<const char*> names) {
    std::vector<DialogLabel> out(names.size());
    std::size_t i = 0;
    for (const char* name : names) std::strcpy(out[i++].name, name);
    return out;
}

}  // namespace

TEST(Y3DialogData, FindLabelMatchesWholeNamesByteForByte) {
    EXPECT_EQ(Y3DialogData::findLabel({}, "main"), nullptr);

    const std::vector<DialogLabel> sorted = labels({"intro", "main", "outro"});
    struct Case {
        const char* name;
        int index;  // -1: not found
    } const cases[] = {{"intro", 0}, {"main", 1}, {"outro", 2}, {"Main", -1},
                       {"mai", -1},  {"main2", -1}, {"", -1},   {"zzz", -1}};
    for (const Case& c : cases) {
        const DialogLabel* found = Y3DialogData::findLabel(sorted, c.name);
        if (c.index < 0) EXPECT_EQ(found, nullptr) << c.name;
        else EXPECT_EQ(found, &sorted[static_cast<std::size_t>(c.index)]) << c.name;
    }
    // Bytes above 0x7F sort after ASCII.
    const std::vector<DialogLabel> high = labels({"a", "z", "\xC3\xA9t\xC3\xA9"});
    EXPECT_EQ(Y3DialogData::findLabel(high, "\xC3\xA9t\xC3\xA9"), &high[2]);
    // Out of order, a present label can be missed.
    const std::vector<DialogLabel> unsorted = labels({"outro", "main", "intro"});
    EXPECT_EQ(Y3DialogData::findLabel(unsorted, "intro"), nullptr);
}

namespace {

// A dialog in dlgwrite's text form, compiled.
std::string compiled(const std::string& text) {
    std::string error;
    std::string bytes = dlgwrite::write(text, error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}

std::string streamBytes(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

// A stream holding the bytes, read from its start.
struct BytesStream : MemoryStream {
    explicit BytesStream(const std::string& bytes) {
        write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        setPosition(0);
    }
};

const char* const kKeeper = R"(dialog keeper
# a label of two phrases and an end phrase
label greet
phrase keeper_01 0.5
  0.0 voice keeper keeper\hello
  0.25 anim keeper talk_01
  1 script - fn a b
skip
  0 camera - pos(1,2,3)
phrase keeper_02 0
  0 look keeper AUTO
  0.5 sound - bell
phrase #end 1
  0 hide gate
label bye
phrase p 2
)";

}  // namespace

TEST(Y3DialogData, TheRecordHasNoMagicAndNamesALabelAfterItsPhrases) {
    testing_support::ScopedGameCore core;
    Y3DialogData empty("none");
    MemoryStream out;
    ASSERT_EQ(empty.write(out), 4);
    EXPECT_EQ(streamBytes(out), std::string(4, '\0'));

    const std::string bytes = compiled("label a\nphrase p 1.0\n 2 reset fire\n");
    const std::string expected = std::string("\x01\0\0\0", 4) + "\x01\0\0\0"s + "\x01p" + "\0\0\x80\x3f"s +
                                 "\x01\0\0\0"s + "\0\0\0\x40"s + "\x04\0fire"s + "\x0d\0\0\0"s + "\0\0"s +
                                 "\0\0\0\0"s + "\x01" "a";
    EXPECT_EQ(bytes, expected);
}

TEST(Y3DialogData, ReadAndWriteGiveTheSameBytesAndShrinkTheLabels) {
    testing_support::ScopedGameCore core;
    const std::string bytes = compiled(kKeeper);
    Y3DialogData data("keeper");
    // A dialog that holds more labels keeps only the stored ones.
    data.labels.resize(5);
    BytesStream in(bytes);
    ASSERT_EQ(data.read(in), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(data.labels.size(), 2u);
    EXPECT_STREQ(data.labels[0].name, "bye");  // labels are stored in byte order
    const DialogLabel* greet = Y3DialogData::findLabel(data.labels, "greet");
    ASSERT_NE(greet, nullptr);
    ASSERT_EQ(greet->phrases.size(), 3u);
    const DialogPhrase& first = greet->phrases[0];
    EXPECT_STREQ(first.name, "keeper_01");
    ASSERT_EQ(first.commands.size(), 3u);
    EXPECT_EQ(first.commands[0].argument, "keeper\\hello");
    EXPECT_EQ(first.commands[2].argument, "fn a b");
    EXPECT_STREQ(first.commands[2].object, "");
    ASSERT_EQ(first.skip.size(), 1u);
    EXPECT_EQ(first.skip[0].kind, static_cast<std::uint32_t>(DialogCommandCamera));
    // A command without argument reads back as the empty text.
    EXPECT_EQ(greet->phrases[2].commands[0].argument, "");
    EXPECT_STREQ(greet->phrases[2].name, "#end");

    MemoryStream out;
    ASSERT_EQ(data.write(out), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(streamBytes(out), bytes);

    // A copied command is a command of its own.
    DialogCommand copy;
    copy.copy(first.commands[1]);
    EXPECT_EQ(copy.kind, static_cast<std::uint32_t>(DialogCommandAnim));
    EXPECT_STREQ(copy.object, "keeper");
    EXPECT_EQ(copy.argument, "talk_01");
    EXPECT_FLOAT_EQ(copy.delay, 0.25f);
}

TEST(Y3DialogData, ACommandOfKindZeroIsNotWritten) {
    testing_support::ScopedGameCore core;
    Y3DialogData data("broken");
    data.labels.resize(1);
    data.labels[0].phrases.resize(1);
    data.labels[0].phrases[0].commands.resize(1);
    MemoryStream out;
    EXPECT_EQ(data.write(out), -1);
    EXPECT_TRUE(core.log().contains("Can't write invalid dialog command"));
}

TEST(Y3DialogData, TheTreeExportNamesEveryCommand) {
    testing_support::ScopedGameCore core;
    Y3DialogData data("keeper");
    BytesStream in(compiled("label greet\nphrase hi 0.5\n 1 voice npc a\\b\nskip\n 0 show - gate\n 0 stop fire\n"));
    ASSERT_GT(data.read(in), 0);
    XmlWriter writer;
    data.exportTree(writer);
    ASSERT_EQ(writer.tags().size(), 1u);
    MemoryStream out;
    ASSERT_TRUE(writer.tags().front().write(out, 0));
    EXPECT_EQ(streamBytes(out),
              "\r\n<package>"
              "\r\n  <label id='greet'>"
              "\r\n    <phrase id='hi' delay='0.500000'>"
              "\r\n      <commands>"
              "\r\n        <cmd name='voice' delay='1.000000' object='npc'>a\\b</cmd>"
              "\r\n      </commands>"
              "\r\n      <skip>"
              "\r\n        <cmd name='show' delay='0.000000' object=''>gate</cmd>"
              "\r\n        <cmd name='stop' delay='0.000000' object='fire'/>"
              "\r\n      </skip>"
              "\r\n    </phrase>"
              "\r\n  </label>"
              "\r\n</package>");
}

TEST(Y3DialogData, DamagedRecordsAreRefusedBeforeAnythingIsAllocated) {
    const std::string good = compiled("label a\nphrase p 1.0\n 2 reset fire\n");
    auto patched = [&](std::size_t at, const std::string& bytes) {
        std::string copy = good;
        copy.replace(at, bytes.size(), bytes);
        return copy;
    };
    // Offsets in good: label count 0, phrase count 4, phrase name 8,
    // delay 10, command count 14, command 18 (object length 22, kind 28,
    // argument length 32), skip count 34, label name 38.
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"cut short", good.substr(0, good.size() - 1)},
        {"cut in a command", good.substr(0, 25)},
        {"negative label count", patched(0, "\xff\xff\xff\xff")},
        {"label count beyond the bytes", patched(0, "\x00\x00\x01\x00"s)},
        {"negative phrase count", patched(4, "\xfe\xff\xff\xff")},
        {"negative command count", patched(14, "\xff\xff\xff\xff")},
        {"command count beyond the bytes", patched(14, "\x40\x00\x00\x00"s)},
        {"negative skip count", patched(34, "\xff\xff\xff\xff")},
        {"overlong object name", patched(22, "\x80\x00"s)},
        {"overlong label name", good.substr(0, 38) + "\xc8" + std::string(200, 'n')},
        {"argument beyond the bytes", patched(32, "\xff\xff")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::ScopedGameCore core;
        Y3DialogData data("talk");
        BytesStream in(c.bytes);
        EXPECT_FALSE(data.load(in));
        EXPECT_FALSE(data.hasObject());
        EXPECT_TRUE(data.labels.empty());
        EXPECT_TRUE(core.log().contains("Can't read dialog DATA"));
        EXPECT_TRUE(core.log().contains("Can't read dialog [talk]"));
    }
    testing_support::ScopedGameCore core;
    Y3DialogData data("talk");
    BytesStream in(good);
    EXPECT_TRUE(data.load(in));
    EXPECT_TRUE(data.hasObject());
}
