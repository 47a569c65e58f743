#include "game/Y3DialogData.h"

#include <cstring>

const DialogLabel* Y3DialogData::findLabel(const std::vector<DialogLabel>& labels, const char* name) {
    if (!name) return nullptr;
    std::size_t lo = 0;
    std::size_t hi = labels.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        // strcmp compares as unsigned char.
        const int order = std::strcmp(labels[mid].name, name);
        if (order == 0) return &labels[mid];
        if (order > 0) hi = mid;
        else lo = mid + 1;
    }
    return nullptr;
}
