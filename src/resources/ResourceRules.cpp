#include "resources/ResourceRules.h"

#include <cctype>
#include <memory>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TextFile.h"

namespace {

constexpr std::size_t kLineLimit = 1023;
constexpr std::size_t kNameLimit = 127;

// Run mode of the debug tools, in which debug items are skipped.
constexpr std::int32_t kRunModeDebugTools = 15;

// Path parameter slots of the package walk.
constexpr int kSlotFolderNumber = 23;
constexpr int kSlotLanguage = 24;
constexpr int kSlotCurrentFolder = 29;
constexpr int kSlotPackageFile = 30;
constexpr int kSlotSourceMask = 31;
constexpr int kSlotTargetMask = 32;
constexpr int kSlotDestination = 33;
constexpr int kSlotPackageFolder = 34;
constexpr int kSlotNamePrefix = 35;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool syntaxError(const char* what, int line, const std::string& text) {
    engineLog().error("%i: Expected symbol %s: \n--\n%s\n--\n", line, what, text.c_str());
    return false;
}

bool parseMaskLine(const std::string& line, std::uint32_t flags, int number, const std::string& original,
                   ResourceRuleItem& item) {
    item.flags = flags;
    const std::size_t dot = line.find('.');
    if (dot == std::string::npos)
        return syntaxError("'.' at package extension mask definition", number, original);

    // The name prefix runs back from the dot to a '+', blank, tab or the start.
    std::size_t start = dot;
    while (start > 0 && line[start - 1] != '+' && !isBlank(line[start - 1])) --start;
    std::size_t kept = start;
    if (dot - start > kNameLimit) {
        kept = dot - kNameLimit;
        for (std::size_t i = start; i < kept; ++i)
            engineLog().error("Can't add string to start : Out of pre-allocated buffer size");
    }
    item.namePrefix = line.substr(kept, dot - kept);
    for (std::size_t i = start; i > 0 && line[i - 1] == '+'; --i) ++item.prefixPlusCount;

    std::size_t end = dot;
    while (end < line.size() && !isBlank(line[end])) ++end;
    std::string token = line.substr(dot, std::min(end - dot, kNameLimit));
    if (const std::size_t arrow = token.find("->"); arrow != std::string::npos) {
        item.sourceMask = token.substr(0, arrow);
        item.targetMask = token.substr(arrow + 2);
    } else {
        item.sourceMask = item.targetMask = token;
    }

    const std::size_t arrows = line.find(">>", end);
    if (arrows == std::string::npos)
        return syntaxError("'>>' at package source definition", number, original);
    std::size_t from = arrows + 2;
    while (from < line.size() && isBlank(line[from])) ++from;
    std::size_t to = line.size();
    while (to > from && (isBlank(line[to - 1]) || line[to - 1] == '\r' || line[to - 1] == '\n')) --to;
    std::string destination = line.substr(from, to - from);
    if (destination.size() >= 2 && destination.front() == '[' && destination.back() == ']') {
        item.flags |= kRuleItemAlternative;
        destination.erase(0, 1);
    }
    std::size_t plus = 0;
    while (plus < destination.size() && destination[plus] == '+') ++plus;
    item.destinationPlusCount = static_cast<std::uint32_t>(plus);
    item.destination = destination.substr(plus, kLineLimit);
    return true;
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool parseResourceRulesText(std::string text, ResourceRules& rules) {
    TextFile file;
    splitLines(file, std::move(text), true);
    for (int number = 0; number < file.lineCount(); ++number) {
        const std::string original = file.lines[static_cast<std::size_t>(number)].substr(0, kLineLimit);
        std::string line = original;
        bool onlyBlanks = true;
        for (char c : line) onlyBlanks = onlyBlanks && isBlank(c);
        if (onlyBlanks || line[0] == '#') continue;

        std::uint32_t flags = 0;
        if (line[0] == '-') {
            flags |= kRuleItemDebug;
            line.erase(0, 1);
        }
        if (!line.empty() && line[0] == '~') {
            flags |= kRuleItemTilde;
            line.erase(0, 1);
        }

        if (!line.empty() && line[0] == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string::npos)
                return syntaxError("']' at package definition end", number, original);
            PackageRule rule;
            rule.name = line.substr(1, std::min(close - 1, kNameLimit));
            rule.dollar = rule.name.find('$') != std::string::npos;
            rule.hash = rule.name.find('#') != std::string::npos;
            rules.packages.push_back(std::move(rule));
            continue;
        }

        ResourceRuleItem item;
        if (!parseMaskLine(line, flags, number, original, item)) return false;
        if (rules.packages.empty()) {
            engineLog().error("%i: Expected package definition before extension mask: \n--\n%s\n--\n", number,
                              original.c_str());
            return false;
        }
        rules.packages.back().items.push_back(std::move(item));
    }
    return true;
}

bool parseResourceRules(std::string_view path, ResourceRules& rules) {
    std::unique_ptr<WinFileStream> stream(WinFileStream::open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    if (!stream) {
        engineLog().error("Expected game resources rules file at [%s]", logPath(path).c_str());
        return false;
    }
    std::string text;
    readStreamToString(text, *stream);
    return parseResourceRulesText(std::move(text), rules);
}

std::string expandPackageName(std::string_view name, std::string_view folderNumber, std::string_view language) {
    std::string out;
    for (char c : name) {
        if (c == '#') out += folderNumber;
        else if (c == '$') out += language;
        else out += c;
    }
    return lowered(std::move(out));
}

int enumeratePackage(const ResourceRules& rules, int index, std::string* packageFile) {
    if (index < 0 || static_cast<std::size_t>(index) >= rules.packages.size()) return kRulesEnd;
    const PackageRule& rule = rules.packages[static_cast<std::size_t>(index)];
    if (rule.items.empty()) return kRulesNoItems;
    const ResourceRuleItem& item = rule.items.front();
    if (item.flags & kRuleItemDebug) {
        if (gameCore.runMode && gameCore.runMode->runMode == kRunModeDebugTools) {
            engineLog().message("Ignore debug resource [%s] from [%s]", item.sourceMask.c_str(),
                                item.destination.c_str());
            return kRulesSkipped;
        }
    }

    AppPaths* paths = gameCore.paths;
    const std::string folderNumber = paths ? paths->get(kSlotFolderNumber) : std::string("000");
    const std::string language = paths ? paths->get(kSlotLanguage) : std::string("en");
    const std::string file = expandPackageName(rule.name, folderNumber, language);
    if (paths) {
        const std::size_t cut = rule.name.find_last_of("\\/");
        const std::string folder = cut == std::string::npos ? std::string() : rule.name.substr(0, cut);
        const std::string current =
            paths->get(item.flags & kRuleItemAlternative ? PathDataFolderInput : PathPackageBase);
        const std::string destination = expandPackageName(item.destination, folderNumber, language);
        const std::string packageFolder = expandPackageName(folder, folderNumber, language);
        paths->setPaths({{kSlotCurrentFolder, current},
                         {kSlotPackageFile, file},
                         {kSlotSourceMask, item.sourceMask},
                         {kSlotTargetMask, item.targetMask},
                         {kSlotDestination, destination},
                         {kSlotPackageFolder, packageFolder},
                         {kSlotNamePrefix, item.namePrefix}});
    }
    if (packageFile) *packageFile = file;
    return static_cast<int>(item.prefixPlusCount);
}
