// A settings store for the tests of the component settings readers, over a
// scoped game core that takes their log lines: values are set as text by
// section and key, and a test asks whether a reader wrote a key back.
#pragma once

#include <tuple>

#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

namespace testing_support {

class SettingsFixture {
public:
    // Sets one value of the store as text.
    SettingsFixture& set(const char* section, const char* key, const char* value) {
        settings.getCategory(section).getVariable(key).setString(value);
        return *this;
    }
    // Whether the store holds the key (false when the section is missing).
    bool has(const char* section, const char* key) const {
        const IniCategory* category = settings.findCategory(section);
        return category && category->findVariable(key);
    }
    Log& log() { return core.log(); }

    ScopedGameCore core;
    IniFile settings;
};

// Process-wide values (settings records) a test changes, given back as they
// were when the test ends, so that the tests after it see what they expect.
template <typename... T>
class KeptValues {
public:
    explicit KeptValues(T&... values) : places_(values...), saved_(values...) {}
    ~KeptValues() { places_ = saved_; }
    KeptValues(const KeptValues&) = delete;
    KeptValues& operator=(const KeptValues&) = delete;

private:
    std::tuple<T&...> places_;
    std::tuple<T...> saved_;
};

}  // namespace testing_support
