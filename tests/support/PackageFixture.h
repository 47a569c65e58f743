// Package fixtures: a data root with its rules file ("data.txt") and package
// files written by the package tool at test time, and a scoped game core
// whose package database reads that root.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/TestSupport.h"

class PackageDatabase;
class FilePackageDBData;

namespace testing_support {

struct FixtureFile {
    std::string mask;  // ".ms4"
    std::string name;
    std::string bytes;
    std::string source;  // section source, may be empty
    bool packed = true;
    bool empty = false;  // an entry of size 0
    std::uint64_t stamp = 0;
};

struct FixturePackage {
    // The package as the rules file names it; "#" takes the folder number
    // and "$" the language. Its position among the distinct rules is the
    // package number.
    std::string rule = "pack.pak";
    int folder = 0;
    std::string language = "en";
    std::vector<FixtureFile> files;
    // The mask line written under the rule (once, for its first appearance).
    std::string item = ".* >> data";
};

// The package file's path under root for a package (expanded, lower-case).
std::string fixturePackagePath(const std::string& root, const FixturePackage& package);
// The bytes of one package file of the fixture.
std::string fixturePackageBytes(const FixturePackage& package, int packageNumber);
// Writes root/data.txt listing the distinct rules in order and each
// package file; true when everything was written.
bool writeDataRoot(const std::string& root, const std::vector<FixturePackage>& packages);

// Installs a log, paths whose data root is root, and a package database
// into the game core; the destructor restores the record.
class ScopedPackageDatabase {
public:
    explicit ScopedPackageDatabase(const std::string& root);
    ~ScopedPackageDatabase();
    ScopedPackageDatabase(const ScopedPackageDatabase&) = delete;
    ScopedPackageDatabase& operator=(const ScopedPackageDatabase&) = delete;

    bool build();
    PackageDatabase& database() { return *database_; }
    FilePackageDBData& data();
    Log& log() { return core_.log(); }
    AppPaths& paths() { return core_.paths(); }

private:
    ScopedGameCore core_;
    std::unique_ptr<PackageDatabase> database_;
    ScopedCoreMember<PackageDatabase> installed_;
};

}  // namespace testing_support
