// Quest fixtures: compiled quests from the quest writer's text form, and
// raw little-endian bytes for records the writer would refuse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quest/QuestWriter.h"

namespace quest_tests {

inline std::string compiledQuests(const std::string& text, bool sorted = true) {
    std::vector<quest_tools::Quest> quests;
    std::string error;
    std::string bytes;
    EXPECT_TRUE(quest_tools::parseQuestText(text, quests, error)) << error;
    EXPECT_TRUE(quest_tools::writeQuestBytes(quests, bytes, error, sorted)) << error;
    return bytes;
}

struct Bytes {
    std::string s;
    Bytes& i32(std::int32_t v) {
        for (int i = 0; i < 4; ++i) s += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
        return *this;
    }
    Bytes& u8name(const std::string& n) {
        s += static_cast<char>(n.size());
        s += n;
        return *this;
    }
    Bytes& u16text(const std::string& n) {
        s += static_cast<char>(n.size() & 0xFF);
        s += static_cast<char>(n.size() >> 8);
        s += n;
        return *this;
    }
};

}  // namespace quest_tests
