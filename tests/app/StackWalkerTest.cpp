#include "app/StackWalker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Log.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

namespace {

class RecordingWalker : public StackWalker {
public:
    using StackWalker::StackWalker;
    using StackWalker::reportModule;
    std::vector<std::string> lines;

protected:
    void writeLine(const char* text) override { lines.emplace_back(text); }
};

bool anyLineHas(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& l : lines)
        if (l.find(part) != std::string::npos) return true;
    return false;
}

__attribute__((noinline)) std::vector<std::string> walkHere() {
    RecordingWalker walker(StackWalker::OptionsAll);
    EXPECT_TRUE(walker.walkStack());
    return walker.lines;
}

TEST(StackWalker, WalksTheCallersStackWithFunctionFileAndLine) {
    const auto lines = walkHere();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("SymInit: Symbol-SearchPath: '", 0), 0u);
    EXPECT_EQ(lines[1].rfind("OS-Version: ", 0), 0u);
    // The first frame is the caller of walkStack, named with its source line.
    EXPECT_NE(lines[2].find("walkHere"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("StackWalkerTest.cpp ("), std::string::npos) << lines[2];
    EXPECT_TRUE(anyLineHas(lines, "StackWalker_WalksTheCallersStackWithFunctionFileAndLine"));
    for (const auto& l : lines) EXPECT_EQ(l.back(), '\n');
}

TEST(StackWalker, UnknownAddressesAndEndlessStacks) {
    RecordingWalker walker(StackWalker::OptionsAll);
    const std::uintptr_t nowhere = 0x10;
    const std::uintptr_t frames[] = {nowhere, nowhere, 0x20};
    EXPECT_TRUE(walker.walkFrames(frames, 3, true));
    const auto& lines = walker.lines;
    EXPECT_TRUE(anyLineHas(lines, "ERROR: SymGetSymFromAddr64, GetLastError: 0 (Address: 0x10)\n"));
    EXPECT_TRUE(anyLineHas(lines, "0x10 ((module-name not available)): (filename not available): (function-name not available)\n"));
    EXPECT_EQ(lines.back(), "ERROR: StackWalk64-Endless-Callstack!, GetLastError: 0 (Address: 0x10)\n");
    EXPECT_FALSE(anyLineHas(lines, "0x20"));
    // Symbols only: no line or module errors.
    RecordingWalker plain(StackWalker::RetrieveSymbol);
    plain.walkFrames(frames + 2, 1, true);
    EXPECT_FALSE(anyLineHas(plain.lines, "SymGetLineFromAddr64"));
    EXPECT_FALSE(anyLineHas(plain.lines, "SymGetModuleInfo64"));
    EXPECT_TRUE(anyLineHas(plain.lines, "(function-name not available)"));
}

TEST(StackWalker, ModuleLineFormats) {
    RecordingWalker walker;
    walker.reportModule("/x/libm.so", "libm", 0x1000, 4096, 1, "SYM", "", 0);
    walker.reportModule("/x/libm.so", "libm", 0x1000, 4096, 1, "SYM", "", 0x0001000200030004ull);
    ASSERT_EQ(walker.lines.size(), 2u);
    EXPECT_EQ(walker.lines[0], "/x/libm.so:libm (0x1000), size: 4096 (result: 1), SymType: 'SYM', PDB: ''\n");
    EXPECT_EQ(walker.lines[1],
              "/x/libm.so:libm (0x1000), size: 4096 (result: 1), SymType: 'SYM', PDB: '', fileVersion: 1.2.3.4\n");
}

TEST(StackWalker, GameWalkerWritesEachLineToTheLogWithoutLineBreaks) {
    ScopedGameCore core;
    GameStackWalker walker(StackWalker::OptionsAll);
    const std::uintptr_t frames[] = {0x10};
    walker.walkFrames(frames, 1, true);
    const auto records = core.log().records();
    ASSERT_FALSE(records.empty());
    for (const auto& r : records) {
        EXPECT_EQ(r.channel, LogSystem);
        EXPECT_EQ(r.level, LevelInfo);
        ASSERT_FALSE(r.text.empty());
        EXPECT_NE(r.text.back(), '\n');
        EXPECT_NE(r.text.back(), '\r');
    }
    EXPECT_TRUE(core.log().contains("(function-name not available)"));
}

}  // namespace
