// The variable tree: values and conversions, paths, stored records and the
// save block of changed values.
#include "script/ScriptVariable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "script/VariablesCore.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

namespace {

// root { system { SF_ui_title "Demo", volume 0.5, intro true }, names { w "Hi" }, empty }
std::unique_ptr<ScriptVariable> sampleTree() {
    auto root = std::make_unique<ScriptVariable>("root", ScriptVariable::TypeArray);
    root->createPath("system.SF_ui_title");
    root->resolvePath("system.SF_ui_title")->setString("Demo");
    root->createPath("system.volume");
    root->resolvePath("system.volume")->setNumber(0.5f);
    root->createPath("system.intro");
    root->resolvePath("system.intro")->setBool(true);
    root->createPath("names.w");
    root->resolvePath("names.w")->setWString(u"Hi\u0416");
    root->appendChild("empty");
    return root;
}

std::string bytesOf(MemoryStream& s) { return std::string(reinterpret_cast<const char*>(s.data()), s.size()); }

bool sameTree(const ScriptVariable& a, const ScriptVariable& b) {
    if (std::strcmp(a.name(), b.name()) != 0 || !a.equals(b) || a.childCount() != b.childCount()) return false;
    for (std::int32_t i = 0; i < a.childCount(); ++i)
        if (!sameTree(*a.child(i), *b.child(i))) return false;
    return true;
}

}  // namespace

TEST(ScriptVariable, ConversionsFollowTheType) {
    ScopedGameCore core;
    struct Case {
        const char* label;
        std::function<void(ScriptVariable&)> set;
        bool asBool;
        float asFloat;
        const char* asString;
    };
    const Case cases[] = {
        {"empty", [](ScriptVariable&) {}, false, 0.0f, ""},
        {"true", [](ScriptVariable& v) { v.setBool(true); }, true, 1.0f, "true"},
        {"false", [](ScriptVariable& v) { v.setBool(false); }, false, 0.0f, "false"},
        {"empty string", [](ScriptVariable& v) { v.setString(""); }, true, 0.0f, ""},
        {"null string", [](ScriptVariable& v) { v.setString(nullptr); }, true, 0.0f, ""},
        {"0.5", [](ScriptVariable& v) { v.setString("0.5"); }, false, 0.5f, "0.5"},
        {"False", [](ScriptVariable& v) { v.setString("False"); }, true, 0.0f, "False"},
        {"false text", [](ScriptVariable& v) { v.setString("false"); }, false, 0.0f, "false"},
        {"12abc", [](ScriptVariable& v) { v.setString("12abc"); }, true, 12.0f, "12abc"},
        {"wide", [](ScriptVariable& v) { v.setWString(u"3.25"); }, true, 3.25f, "3.25"},
        {"number", [](ScriptVariable& v) { v.setNumber(1.5f); }, true, 1.5f, "1.500000"},
        {"zero", [](ScriptVariable& v) { v.setNumber(0.0f); }, false, 0.0f, "0.000000"},
        {"array", [](ScriptVariable& v) { v.setType(ScriptVariable::TypeArray); }, false, 0.0f, "array"},
        {"2d", [](ScriptVariable& v) { v.setType(ScriptVariable::TypeArray2D); }, false, 0.0f, "2d-array"},
        {"invalid", [](ScriptVariable& v) { v.setType(ScriptVariable::TypeInvalid); }, false, 0.0f, "invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScriptVariable v("v");
        c.set(v);
        EXPECT_EQ(v.toBool(), c.asBool);
        EXPECT_FLOAT_EQ(v.toFloat(), c.asFloat);
        EXPECT_EQ(v.toString(), c.asString);
        EXPECT_EQ(v.toWString(), std::u16string(c.asString, c.asString + std::strlen(c.asString)));
    }
    ScriptVariable s("s");
    s.setString("");
    EXPECT_EQ(s.type(), ScriptVariable::TypeString);
    EXPECT_FALSE(s.hasText());
}

TEST(ScriptVariable, NamesPathsAndIndices) {
    ScopedGameCore core;
    ScriptVariable root("root");
    const std::string longName(70, 'n');
    EXPECT_STREQ(root.appendChild(longName.c_str())->name(), std::string(63, 'n').c_str());

    ScriptVariable tree("root");
    ScriptVariable* a = tree.appendChild("a");
    tree.appendChild("ab");
    ScriptVariable* firstDup = tree.appendChild("dup");
    tree.appendChild("dup");
    EXPECT_TRUE(tree.test("a"));
    EXPECT_FALSE(tree.test("a.b"));  // a exists without a child b
    ScriptVariable onlyAb("x");
    onlyAb.appendChild("ab");
    EXPECT_FALSE(onlyAb.test("a"));
    EXPECT_EQ(tree.resolvePath("dup"), firstDup);
    EXPECT_EQ(tree.getChild(1), a);
    EXPECT_EQ(tree.resolvePath("a.b"), nullptr);
    EXPECT_TRUE(core.log().contains("Variable path [a.b] is invalid"));

    for (int bad : {0, 5, -1}) {
        EXPECT_EQ(tree.getChild(bad), nullptr);
        EXPECT_TRUE(core.log().contains("Cannot find variable by index [" + std::to_string(bad) + "]"));
    }
    EXPECT_TRUE(core.log().contains("Reached error at variable [locales]"));  // in neither tree

    ScriptVariable fresh("root");
    ASSERT_TRUE(fresh.createPath("x.y.z"));
    EXPECT_TRUE(fresh.test("x.y.z"));
    EXPECT_EQ(fresh.countNodes(), 3);
    EXPECT_EQ(fresh.resolvePath("x.y")->type(), ScriptVariable::TypeArray);
    ASSERT_TRUE(fresh.createPath("x.y.z"));
    EXPECT_EQ(fresh.countNodes(), 3);

    // Two-step forms and null nodes.
    fresh.resolvePath("x.y.z")->appendChild("leaf");
    EXPECT_EQ(ScriptVariable::get(&fresh, "x.y", "z.leaf"), fresh.resolvePath("x.y.z.leaf"));
    EXPECT_EQ(ScriptVariable::get(&fresh, 1, 1), fresh.resolvePath("x.y"));
    EXPECT_EQ(ScriptVariable::get(&fresh, "x.y.z", 1), fresh.resolvePath("x.y.z.leaf"));
    EXPECT_EQ(ScriptVariable::get(&fresh, 1, "y.z"), fresh.resolvePath("x.y.z"));
    EXPECT_EQ(ScriptVariable::get(&fresh, 2, 1), nullptr);
    EXPECT_TRUE(core.log().contains("Script variable child has NULL PTR"));
    EXPECT_EQ(ScriptVariable::get(nullptr, 1, 1), nullptr);
    EXPECT_TRUE(core.log().contains("Request variable object at NULL ptr"));
    EXPECT_TRUE(ScriptVariable::test(&fresh, 1, 1));
    EXPECT_FALSE(ScriptVariable::test(&fresh, 1, 2));
    EXPECT_TRUE(ScriptVariable::test(&fresh, "x", "y.z"));
    EXPECT_TRUE(ScriptVariable::test(&fresh, "x.y", 1));
    EXPECT_TRUE(ScriptVariable::test(&fresh, 1, "y"));
    EXPECT_FALSE(ScriptVariable::test(nullptr, 1, 1));
    EXPECT_TRUE(core.log().contains("Request variable object test at NULL ptr"));
    EXPECT_FALSE(ScriptVariable::test(&fresh, nullptr));
    EXPECT_TRUE(core.log().contains("Requested TEST pattern has NULL ptr"));
}

TEST(ScriptVariable, ResolvePathReportsOnceForEveryLevelItPassed) {
    ScopedGameCore core;
    ScriptVariable tree("root");
    tree.appendChild("sfx");
    ScriptVariable* sf = tree.appendChild("sf");
    ScriptVariable* a = tree.appendChild("a");
    a->appendChild("x")->appendChild("y");
    ScriptVariable* x = tree.appendChild("x");
    tree.appendChild("x");
    ScriptVariable leaf("leaf");
    struct Case {
        ScriptVariable* node;
        const char* path;
        ScriptVariable* found;
        std::vector<std::string> reports;  // in order
    };
    const Case cases[] = {
        {&tree, "sf", sf, {}},
        {&tree, "Sf", nullptr, {"[Sf]"}},
        {&tree, "x", x, {}},
        {&tree, "a.b", nullptr, {"[b]", "[a.b]"}},
        {&tree, "a.x.z", nullptr, {"[z]", "[x.z]", "[a.x.z]"}},
        {&leaf, "a", nullptr, {"[a]"}},
        {&tree, "sfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfxsfx", nullptr, {"[sfxsfx"}},
    };
    for (const Case& c : cases) {
        core.log().clear();
        EXPECT_EQ(ScriptVariable::resolvePath(c.node, c.path), c.found) << c.path;
        std::vector<std::string> reports;
        for (const LogRecord& record : core.log().records())
            if (record.text.find("is invalid") != std::string::npos) reports.push_back(record.text);
        ASSERT_EQ(reports.size(), c.reports.size()) << c.path;
        for (std::size_t i = 0; i < reports.size(); ++i)
            EXPECT_NE(reports[i].find("Variable path " + c.reports[i]), std::string::npos) << reports[i];
    }
}

TEST(ScriptVariable, EqualityCopyAndCounts) {
    ScopedGameCore core;
    ScriptVariable a("a", ScriptVariable::TypeArray), b("b", ScriptVariable::TypeArray);
    a.appendChild("child");
    EXPECT_TRUE(a.equals(b));  // children do not count
    ScriptVariable s1("s"), s2("s");
    s1.setString("");
    s2.setString(nullptr);
    EXPECT_TRUE(s1.equals(s2));
    s2.setString("x");
    EXPECT_FALSE(s1.equals(s2));
    ScriptVariable n("n");
    n.setNumber(1.0f);
    ScriptVariable t("t");
    t.setBool(true);
    EXPECT_FALSE(n.equals(t));

    ScriptVariable source("group.item");
    source.setWString(u"text");
    source.appendChild("kid");
    ScriptVariable target("old");
    target.setString("gone");
    target.copyFrom(source);
    EXPECT_STREQ(target.name(), "item");
    EXPECT_EQ(target.type(), ScriptVariable::TypeWString);
    EXPECT_EQ(target.toWString(), u"text");
    EXPECT_EQ(target.childCount(), 0);

    auto tree = sampleTree();
    EXPECT_EQ(tree->countNodes(), 7);
    EXPECT_EQ(tree->countChanged(), 0);
    tree->setChanged(true);
    tree->resolvePath("system.volume")->setChanged(true);
    EXPECT_EQ(tree->countChanged(), 2);
    tree->releaseValues();
    EXPECT_EQ(tree->childCount(), 0);
}

TEST(ScriptVariable, FullRecordsRoundTripAndCheckTheShape) {
    ScopedGameCore core;
    auto tree = sampleTree();
    MemoryStream stream;
    const std::int32_t written = tree->write(stream);
    ASSERT_GT(written, 0);
    EXPECT_EQ(written, stream.size());

    ScriptVariable copy("root");
    stream.setPosition(0);
    EXPECT_EQ(copy.read(stream, false), written);
    EXPECT_TRUE(sameTree(*tree, copy));

    // A wide string of 3 characters: u16 3 and 6 bytes.
    ScriptVariable w("w");
    w.setWString(u"abc");
    MemoryStream ws;
    EXPECT_EQ(w.writeValue(ws), 8);
    // A text beyond the u16 count is stored cut, with a warning, and stays readable.
    ScriptVariable big("big");
    big.setString(std::string(70000, 'x').c_str());
    MemoryStream bs;
    EXPECT_EQ(big.write(bs), 1 + 3 + 4 + 2 + 65535 + 4);
    EXPECT_TRUE(core.log().contains("Variable [big]: text of 70000 bytes stored as its first 65535"));
    bs.setPosition(0);
    ScriptVariable bigCopy("x");
    EXPECT_EQ(bigCopy.read(bs, false), bs.size());
    EXPECT_EQ(bigCopy.toString().size(), 65535u);

    // The check form accepts the same shape, refuses another.
    stream.setPosition(0);
    EXPECT_EQ(copy.read(stream, true), written);
    copy.resolvePath("system")->appendChild("extra");
    stream.setPosition(0);
    EXPECT_LT(copy.read(stream, true), 0);
    EXPECT_TRUE(core.log().contains("Variable [system] change elements count, exit, than run again"));
    copy.resolvePath("system")->resizeChildren(3);
    copy.resolvePath("names")->setName("other");
    stream.setPosition(0);
    EXPECT_LT(copy.read(stream, true), 0);
    EXPECT_TRUE(core.log().contains("Variables data structure has been changed"));

    // Rebuilding over an existing tree keeps exactly the stored children.
    ScriptVariable bigger("root");
    for (int i = 0; i < 6; ++i) bigger.appendChild("x");
    stream.setPosition(0);
    EXPECT_EQ(bigger.read(stream, false), written);
    EXPECT_TRUE(sameTree(*tree, bigger));
}

TEST(ScriptVariable, DamagedRecordsAreRefused) {
    ScopedGameCore core;
    auto tree = sampleTree();
    MemoryStream good;
    tree->write(good);
    const std::string bytes = bytesOf(good);

    // Every truncation fails without reading past the data.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        MemoryStream part(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(cut));
        ScriptVariable v("root");
        EXPECT_LT(v.read(part, false), 0) << cut;
    }

    struct Case {
        const char* label;
        std::string bytes;
    };
    std::string longName;
    longName += static_cast<char>(64);
    longName += std::string(64, 'a') + std::string(8, '\0');
    std::string manyChildren("\x01r\0\0\0\0\xff\xff\xff\x0f", 10);
    std::string deep;
    for (int i = 0; i < 400; ++i) deep += std::string("\x00\x06\x00\x00\x00\x01\x00\x00\x00", 9);
    deep += std::string("\x00\x00\x00\x00\x00\x00\x00\x00\x00", 9);
    const Case cases[] = {{"name over 63", longName}, {"child count beyond the data", manyChildren}, {"too deep", deep}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        MemoryStream s(const_cast<char*>(c.bytes.data()), static_cast<std::int32_t>(c.bytes.size()));
        ScriptVariable v("root");
        EXPECT_LT(v.read(s, false), 0);
    }
    EXPECT_TRUE(core.log().contains("Variable record name is 64 bytes long: at most 63 allowed"));
}

TEST(ScriptVariable, SaveBlockKeepsChangedValuesAndSkipsDeletedOnes) {
    ScopedGameCore core;
    ScriptGlobals globals;
    MemoryStream none;
    EXPECT_EQ(globals.saveState(none), -1);
    EXPECT_TRUE(core.log().contains("[Game global variables data] data not created"));

    MemoryStream tree;
    sampleTree()->write(tree);
    tree.setPosition(0);
    ASSERT_GT(globals.readSingleFile(tree, "globals", 0), 0);

    MemoryStream unchanged;
    EXPECT_EQ(globals.saveState(unchanged), 4);
    EXPECT_EQ(bytesOf(unchanged), std::string(4, '\0'));

    // A script sets a value twice, the root is marked too (it has no path
    // and is skipped), and a node that a later tree lacks.
    ScriptVariable* volume = globals.root()->resolvePath("system.volume");
    volume->setNumber(0.7f);
    volume->setNumber(0.9f);
    volume->setChanged(true);
    ScriptVariable* title = globals.root()->resolvePath("system.SF_ui_title");
    title->setString("Changed");
    title->setChanged(true);
    globals.root()->createPath("old.gone");
    globals.root()->resolvePath("old.gone")->setBool(true);
    globals.root()->resolvePath("old.gone")->setChanged(true);
    globals.root()->setChanged(true);
    MemoryStream block;
    const std::int32_t size = globals.saveState(block);
    ASSERT_GT(size, 0);
    std::uint32_t count = 0;
    block.setPosition(0);
    readU32(block, count);
    EXPECT_EQ(count, 3u);

    ScriptGlobals fresh;
    tree.setPosition(0);
    ASSERT_GT(fresh.readSingleFile(tree, "globals", 0), 0);
    block.setPosition(0);
    EXPECT_EQ(fresh.loadState(block), size);
    EXPECT_TRUE(core.log().contains("Variable format changed: Ignoring deleted variable [old.gone]"));
    const ScriptVariable* v = fresh.root()->resolvePath("system.volume");
    EXPECT_FLOAT_EQ(v->toFloat(), 0.9f);
    EXPECT_TRUE(v->changed());
    EXPECT_EQ(fresh.root()->resolvePath("system.SF_ui_title")->toString(), "Changed");
    EXPECT_FALSE(fresh.root()->resolvePath("system.intro")->changed());

    // Loaded nodes are saved again without a script touching them.
    MemoryStream again;
    EXPECT_GT(fresh.saveState(again), 4);

    // A path over 1,023 bytes and a count beyond the data are refused.
    MemoryStream longPath;
    writeU32(longPath, 1);
    writeU32(longPath, 5000);
    longPath.write(std::string(5000, 'p').data(), 5000);
    writeU32(longPath, 0);
    longPath.setPosition(0);
    EXPECT_LT(fresh.loadState(longPath), 0);
    MemoryStream many;
    writeU32(many, 1000000);
    many.setPosition(0);
    EXPECT_LT(fresh.loadState(many), 0);
}

TEST(ScriptVariable, ResourcesAttachAtTheirPaths) {
    ScopedGameCore core;
    auto resource = [](const char* path, const char* treeName, const std::function<void(ScriptVariable&)>& fill) {
        ScriptVariable tree(treeName);
        fill(tree);
        auto stream = std::make_unique<MemoryStream>();
        const std::string p(path);
        writeU16(*stream, static_cast<std::uint16_t>(p.size()));
        stream->write(p.data(), static_cast<std::int32_t>(p.size()));
        tree.write(*stream);
        stream->setPosition(0);
        return stream;
    };
    ScriptGlobals globals;
    auto b = resource("A.B", "b", [](ScriptVariable& t) { t.setNumber(1.0f); });
    auto c = resource("a.c", "c", [](ScriptVariable& t) { t.setString("c"); });
    EXPECT_GT(globals.attachResource(*b, "b", false), 0);
    EXPECT_GT(globals.attachResource(*c, "c", false), 0);
    ASSERT_NE(globals.root(), nullptr);
    EXPECT_EQ(globals.root()->childCount(), 1);
    EXPECT_EQ(globals.root()->resolvePath("a")->type(), ScriptVariable::TypeArray);
    EXPECT_EQ(globals.root()->resolvePath("a")->childCount(), 2);

    auto again = resource("a.b", "b", [](ScriptVariable& t) { t.setNumber(2.0f); });
    EXPECT_LT(globals.attachResource(*again, "b2", false), 0);
    EXPECT_TRUE(core.log().contains("Try to twice attach existing element [b]"));
    EXPECT_FLOAT_EQ(globals.root()->resolvePath("a.b")->toFloat(), 1.0f);

    auto top = resource("", "menu.top", [](ScriptVariable& t) { t.setBool(true); });
    EXPECT_GT(globals.attachResource(*top, "top", false), 0);
    EXPECT_TRUE(globals.root()->test("top"));

    // The update form leaves changed nodes alone and adds what is missing.
    globals.root()->resolvePath("a.c")->setChanged(true);
    auto update = resource("a", "a", [](ScriptVariable& t) {
        t.setType(ScriptVariable::TypeArray);
        t.appendChild("c")->setString("new");
        t.appendChild("d")->setNumber(4.0f);
        t.appendChild("b")->setNumber(3.0f);
    });
    EXPECT_GT(globals.attachResource(*update, "a", true), 0);
    EXPECT_EQ(globals.root()->resolvePath("a.c")->toString(), "c");
    EXPECT_FLOAT_EQ(globals.root()->resolvePath("a.d")->toFloat(), 4.0f);
    EXPECT_FLOAT_EQ(globals.root()->resolvePath("a.b")->toFloat(), 3.0f);
    EXPECT_TRUE(core.log().contains("Update variable value [b]"));
}
