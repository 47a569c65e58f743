// The resource rules file ("data.txt" in the data root).
//
// It lists the game's packages in order: a line "[name]" defines a package,
// and the mask lines below it ("prefix.mask >> destination") say which
// source files go into it. A package's position in the list is the package
// number stored in every entry of its package files. In a package name "#"
// stands for the database folder number ("000", "001", ...) and "$" for the
// language code. Lines beginning with "#" are comments; "-" marks a debug
// item and "~" a further flag, both for the packing tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Item flags.
constexpr std::uint32_t kRuleItemDebug = 2;         // line began with "-"
constexpr std::uint32_t kRuleItemTilde = 4;         // line began with "~"
constexpr std::uint32_t kRuleItemAlternative = 8;  // destination in square brackets

// Results of enumeratePackage besides the prefix plus count.
constexpr int kRulesEnd = -100;     // past the last package
constexpr int kRulesNoItems = -1;   // a package without items
constexpr int kRulesSkipped = -50;  // a debug item, skipped in the debug run mode

struct ResourceRuleItem {
    std::uint32_t flags = 0;
    std::string namePrefix;  // at most 127 characters
    std::string sourceMask;  // at most 127 characters
    std::string targetMask;  // at most 127 characters
    std::uint32_t prefixPlusCount = 0;
    std::string destination;  // at most 1,023 characters
    std::uint32_t destinationPlusCount = 0;
};

struct PackageRule {
    bool dollar = false;  // the name holds "$"
    bool hash = false;    // the name holds "#"
    std::string name;     // at most 127 characters
    std::vector<ResourceRuleItem> items;
};

struct ResourceRules {
    std::vector<PackageRule> packages;
};

// Reads and parses a rules file. False (logged) when it cannot be opened or
// holds a syntax error; the rules read before the error stay in rules.
bool parseResourceRules(std::string_view path, ResourceRules& rules);
// Parses the text of a rules file.
bool parseResourceRulesText(std::string text, ResourceRules& rules);

// Expands "#" to the folder number and "$" to the language code; the result
// is lower-cased like every path parameter.
std::string expandPackageName(std::string_view name, std::string_view folderNumber, std::string_view language);

// Walks to package index: sets the package's path parameters from its first
// item and returns that item's prefix plus count, or one of kRulesEnd,
// kRulesNoItems and kRulesSkipped. The expanded package file name goes to
// packageFile when given. "#" and "$" take the folder number and language
// path parameters (slots 23 and 24).
int enumeratePackage(const ResourceRules& rules, int index, std::string* packageFile = nullptr);
