// questwrite <text> <output.quest>: writes the quests of a text form (see
// QuestWriter.h) as a compiled quest file.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "quest/QuestWriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: questwrite <text> <output.quest>\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "questwrite: can't read [%s]\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::vector<quest_tools::Quest> quests;
    std::string bytes;
    std::string error;
    if (!quest_tools::parseQuestText(text.str(), quests, error) ||
        !quest_tools::writeQuestBytes(quests, bytes, error)) {
        std::fprintf(stderr, "questwrite: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    std::ofstream output(argv[2], std::ios::binary);
    if (!output.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !output.flush()) {
        std::fprintf(stderr, "questwrite: can't write [%s]\n", argv[2]);
        return 1;
    }
    return 0;
}
