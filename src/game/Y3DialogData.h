// The labels of a compiled dialog and their lookup by name.
#pragma once

#include <cstdint>
#include <vector>

struct DialogPhrase;

// One label: its name and its phrase array {data, capacity, count}.
struct DialogLabel {
    char name[128] = {};
    DialogPhrase* phrases = nullptr;
    std::uint32_t capacity = 0;
    std::uint32_t count = 0;
};

class Y3DialogData {
public:
    // The label of exactly that name (bytes compared as unsigned, so upper
    // and lower case differ), or null. The labels must be in ascending byte
    // order of their names: the search halves the range.
    static const DialogLabel* findLabel(const std::vector<DialogLabel>& labels, const char* name);
};
