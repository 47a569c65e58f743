// Fixtures of the resource tests: a package database installed in the game
// core from a package written at test time, a clock with a manual counter,
// and a recorder of loading-progress reports.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "platform/Time.h"
#include "resources/LoadingProgress.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace resource_tests {

// A data root of one package file holding the given files, written at test
// time, with a log, paths and a database built from it installed in the
// game core. With damageFirst, the packed bytes of the package's first
// stored file (the first file given) are flipped after writing.
class ScopedPackages {
public:
    explicit ScopedPackages(std::vector<testing_support::FixtureFile> files, bool damageFirst = false)
        : database_(dir_.path()) {
        testing_support::FixturePackage package;
        package.files = std::move(files);
        if (!testing_support::writeDataRoot(dir_.path(), {package})) return;
        if (damageFirst) {
            const std::string path = testing_support::fixturePackagePath(dir_.path(), package);
            std::string bytes = testing_support::readFile(path);
            // A packed record: flag, two lengths, then the zlib stream.
            if (bytes.size() < 13) return;
            for (std::size_t i = 9; i < 13; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0xFF);
            if (!testing_support::writeFile(path, bytes)) return;
        }
        built_ = database_.build();
    }

    bool built() const { return built_; }
    Log& log() { return database_.log(); }

private:
    testing_support::TempDir dir_;
    testing_support::ScopedPackageDatabase database_;
    bool built_ = false;
};

inline testing_support::FixtureFile storedFile(const std::string& mask, const std::string& name,
                                               const std::string& bytes, const std::string& source = "") {
    testing_support::FixtureFile file;
    file.mask = mask;
    file.name = name;
    file.bytes = bytes;
    file.source = source;
    return file;
}

// Texts of the log records added since a mark.
inline std::vector<std::string> logSince(Log& log, std::size_t mark) {
    std::vector<std::string> texts;
    const auto records = log.records();
    for (std::size_t i = mark; i < records.size(); ++i) texts.push_back(records[i].text);
    return texts;
}

// The game core's clocks driven by a manual performance counter (1,000
// ticks a second): advance() moves the counter and steps the real clock.
class ManualClock {
public:
    ManualClock() {
        ticks() = 0;
        platform::setPerformanceCounterSource(&ManualClock::counter, 1000);
        clocks_.realTime.step(1.0);  // starts the counter: step 0
    }
    ~ManualClock() {
        platform::setPerformanceCounterSource(nullptr, 0);
    }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    void advance(double seconds) {
        ticks() += static_cast<std::int64_t>(seconds * 1000.0 + 0.5);
        clocks_.realTime.step(1.0);
    }
    TimeCore& clocks() { return clocks_; }

private:
    static std::int64_t& ticks() {
        static std::int64_t value = 0;
        return value;
    }
    static std::int64_t counter() { return ticks(); }

    TimeCore clocks_;
    testing_support::ScopedCoreMember<TimeCore> installed_{gameCore.clocks, &clocks_};
};

// Installs itself as the loading state and keeps every report in order.
class ProgressRecorder : public LoadingProgress {
public:
    ProgressRecorder() : saved_(loadingProgress()) { setLoadingProgress(this); }
    ~ProgressRecorder() override { setLoadingProgress(saved_); }

    void setProgress(std::int32_t stage, float fraction) override { reports.emplace_back(stage, fraction); }
    std::recursive_mutex& loadingLock() override { return lock_; }

    std::vector<std::pair<std::int32_t, float>> reports;

private:
    LoadingProgress* saved_;
    std::recursive_mutex lock_;
};

}  // namespace resource_tests
