#include "animation/AnimCtrlRules.h"

#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

// The smallest stored rule: five masks, the sequence flags and an element
// count of 0.
constexpr std::int32_t kSmallestRule = 7 * 4;

}  // namespace

std::int32_t AnimCtrlRule::score(const std::int32_t* states) const {
    std::int32_t total = 0;
    for (std::int32_t k = 0; k < kAnimationControlCategories; ++k) {
        if (states[k] < 0 || states[k] >= 32) return -1;
        const std::uint32_t bit = 1u << states[k];
        if (!(masks[k] & bit)) return -1;
        total += masks[k] == bit ? 10 : 1;
    }
    return total;
}

void AnimCtrlRules::clear() {
    for (std::vector<AnimCtrlRule>& list : rules) std::vector<AnimCtrlRule>().swap(list);
}

std::int32_t AnimCtrlRules::read(DataStream& stream) {
    clear();
    Log& log = engineLog();
    std::int32_t total = 0;
    std::uint8_t length = 0;
    if (!addField(total, readU8(stream, length))) return total;
    if (length > sizeof(name) - 1) {
        log.error("Animation rules: a name of %u characters is longer than 127", length);
        return -1;
    }
    std::memset(name, 0, sizeof(name));
    if (length > 0 && !addField(total, readExact(stream, name, length))) return total;
    for (std::int32_t category = 0; category < kAnimationControlCategories; ++category) {
        std::uint32_t count = 0;
        if (!addField(total, readU32(stream, count))) {
            clear();
            return total;
        }
        if (count > static_cast<std::uint32_t>(bytesLeft(stream) / kSmallestRule)) {
            log.error("Animation rules [%s]: %u %s rules do not fit in the file", name, count,
                      kAnimationControlCategoryNames[category]);
            clear();
            return -1;
        }
        std::vector<AnimCtrlRule>& list = rules[category];
        list.resize(count);
        for (AnimCtrlRule& rule : list) {
            for (std::uint32_t& mask : rule.masks)
                if (!addField(total, readU32(stream, mask))) {
                    clear();
                    return total;
                }
            // The sequence reader bounds the element count by the bytes
            // left and checks every element as the compiler would.
            if (!addField(total, rule.sequence.read(stream))) {
                log.error("Animation rules [%s]: a damaged %s rule", name, kAnimationControlCategoryNames[category]);
                clear();
                return total;
            }
        }
    }
    return total;
}
