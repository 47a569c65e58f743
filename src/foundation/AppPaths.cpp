#include "foundation/AppPaths.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>

#include "app/GameCore.h"
#include "foundation/FilePath.h"
#include "foundation/Time.h"
#include "platform/FileSystem.h"

namespace {

std::string& executableOverride() {
    static std::string path;
    return path;
}

std::string cut(std::string_view text) { return std::string(text.substr(0, AppPaths::kSlotSize - 1)); }

}  // namespace

AppPaths::AppPaths() {
    slots_[PathLanguage2] = "ru";
    slots_[PathDrive] = "r:\\";
}

const std::string& AppPaths::get(int slot) const {
    static const std::string empty;
    return slot >= 0 && slot < PathSlotCount ? slots_[slot] : empty;
}

void AppPaths::setPath(int slot, std::string_view text) { setPaths({{slot, text}}); }

void AppPaths::setPaths(std::initializer_list<std::pair<int, std::string_view>> values) {
    // The table is always built from its slots: unchanged slots change
    // nothing (the package database sets the same few slots for every package).
    bool changed = !built_;
    for (const auto& [slot, text] : values) {
        if (slot < 0 || slot >= PathSlotCount) continue;
        const std::string_view kept = text.substr(0, kSlotSize - 1);
        if (slots_[slot] == kept) continue;
        slots_[slot] = std::string(kept);
        if (batches_ > 0 && slot < PathFirstDerived)
            for (char& c : slots_[slot]) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        changed = true;
    }
    if (!changed) return;
    if (batches_ > 0)
        pending_ = true;
    else
        build();
}

void AppPaths::setPathString(int slot, const FilePath& path) { setPath(slot, path.toString()); }

void AppPaths::setPathFormat(int slot, const char* format, ...) {
    char buffer[2048] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    setPath(slot, buffer);
}

void AppPaths::build() {
    built_ = true;
    pending_ = false;
    for (int i = 0; i < PathFirstDerived; ++i)
        for (char& c : slots_[i]) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    auto& s = slots_;
    // Joins parts into a path; each part is a slot's text or a literal.
    auto join = [](std::initializer_list<std::string_view> parts) {
        FilePath p;
        for (auto part : parts) p.append(part);
        return p;
    };
    auto set = [&](int slot, const FilePath& p) { s[slot] = cut(p.toString()); };
    auto setExt = [&](int slot, FilePath p, std::string_view ext) {
        p.setExtension(ext);
        set(slot, p);
    };

    set(39, join({s[1]}));
    set(40, join({s[2]}));
    set(41, join({s[3], "Games", s[4]}));
    set(42, join({s[39], "data.txt"}));
    set(43, join({s[29], s[34]}));
    set(44, join({s[27], s[33]}));
    set(45, join({s[27], "data", s[32]}));
    set(46, join({s[26], ".export"}));
    set(47, join({s[26], ".particles"}));
    set(48, join({s[47], "source"}));
    set(49, join({s[47], "export"}));
    set(50, join({s[46], "scenes"}));
    set(51, join({s[46], "models"}));
    set(52, join({s[46], "physics"}));
    set(53, join({s[46], "textures"}));
    set(54, join({s[46], "animations"}));
    set(55, join({s[50], s[6]}));
    set(56, join({s[51], s[6]}));
    set(57, join({s[53], s[6]}));
    set(58, join({s[54], s[6]}));
    setExt(59, join({s[55], s[9]}), ".ms4");
    setExt(60, join({s[56], s[7]}), ".my3");
    setExt(61, join({s[58], s[8]}), ".ani4");
    set(62, join({s[26], "\\.texture\\default"}));
    set(63, join({s[26], "\\.texture\\locales\\", s[20]}));
    set(64, join({s[26], "\\.sound\\effect"}));
    set(65, join({s[26], "\\.sound\\ambient"}));
    set(66, join({s[26], "\\.sound\\voice\\", s[20]}));
    set(67, join({s[26], "\\.sound\\music"}));
    set(68, join({s[26], "\\.movie\\default\\"}));
    set(69, join({s[26], "\\.movie\\locales\\", s[20]}));
    set(70, join({s[26], "\\.script"}));
    set(71, join({s[26], "\\.text"}));
    set(72, join({s[71], "\\globals"}));
    set(73, join({s[71], "\\locales\\", s[20]}));
    set(74, join({s[71], "\\locales\\", s[21]}));
    set(75, join({s[71], "\\quests"}));
    set(76, join({s[71], "\\dialogs"}));
    set(77, join({s[71], "\\animation\\map"}));
    set(78, join({s[71], "\\animation\\rules"}));
    set(79, join({s[26], "\\.data"}));
    set(80, join({s[79], "\\lightset"}));
    set(81, join({s[79], "\\sky"}));
    set(82, join({s[79], "\\material"}));
    set(83, join({s[79], "\\waypoint"}));
    set(84, join({s[79], "\\actions"}));
    set(85, join({s[71], "\\rain"}));
    set(86, join({s[41], "\\setup.ini"}));
    set(87, join({s[26], "\\game.ini"}));
    set(88, join({s[26], "\\user.ini"}));
    set(89, join({s[26], "\\tools.ini"}));
    set(90, join({s[26], "\\sf_surface.ini"}));
    set(91, join({s[26], "\\font.ini"}));
    set(92, join({s[26], "\\save"}));
    setExt(93, join({s[92], s[22]}), ".jpg");
    set(94, join({s[41], "\\save"}));
    setExt(95, join({s[94], s[22]}), ".jpg");
    setExt(96, join({s[81], s[9]}), ".rmap");
    set(97, join({s[40], s[0]}));
    set(98, join({s[41], s[0]}));
    {
        FilePath p = join({s[98]});
        p.insertBeforeLast("log");
        setExt(99, p, ".log");
    }
    set(117, join({s[40], s[10]}));
    set(118, join({s[41], "\\device.xml"}));
    set(119, join({s[41], "log.pak"}));
    set(120, join({s[41], "video.dat"}));
    set(121, join({s[41], "\\.log\\shader\\", s[11]}));
    set(122, join({s[41], "\\.log\\var\\", s[19]}));
    {
        FilePath p = join({s[122]});
        if (!p.empty()) p.last() = (p.last() + "__value.xml").substr(0, FilePath::kElementSize - 1);
        set(123, p);
    }
    {
        FilePath p = join({s[41], ".log"});
        p.append(s[6] + "_" + s[7] + "_" + s[8] + ".cam");
        set(124, p);
    }
    set(125, join({s[40], ".shaders"}));
    set(126, join({s[125], ".recompile.txt"}));
}

void AppPaths::setExecutablePathForTesting(std::string path) { executableOverride() = std::move(path); }

std::int32_t AppPaths::initialize(RunModeRecord& runMode) {
    std::string module = executableOverride().empty() ? platform::executablePath() : executableOverride();
    if (module.empty()) {
        engineLog().error("Cant access to executable name");
        return kRunModeInvalid;
    }
    if (module.size() > 511) module.resize(511);

    FilePath path(module);
    if (path.empty()) {
        engineLog().error("Cant access to executable name");
        return kRunModeInvalid;
    }
    slots_[PathExeName] = path.last();
    slots_[PathDrive] = path.element(0);
    path.removeLast();
    const std::string folder = path.toString();
    for (int slot : {1, 27, 26, 25, 2, 3}) slots_[slot] = folder;
    slots_[PathGameName] = "Game";

    // The data root: the first folder from the executable's upwards that holds data.txt.
    std::string root;
    FilePath probe = path;
    while (probe.count() > 0) {
        FilePath candidate = probe;
        candidate.append("data.txt");
        if (platform::pathKind(candidate.toString()) == platform::PathKind::File) {
            root = probe.toString();
            break;
        }
        probe.removeLast();
    }
    slots_[PathDataRootInput] = root;

    slots_[PathProject] = "main.qpr";
    slots_[PathLanguage] = "en";
    char stamp[1024];
    makeTimeStamp(stamp, sizeof(stamp));
    slots_[PathStartTime] = stamp;
    slots_[PathSaveName] = "quicksave";

    const std::string appData = platform::applicationDataFolder();
    if (!appData.empty()) slots_[PathAppData] = FilePath(appData).toString();

    engineLog().info("Enter to game mode");
    engineLog().info("Executable launched from [%s]", module.c_str());
    if (gameCore.debugFlags & DebugResourceLog)
        engineLog().info("setup run-time root at [%s]", logPath(slots_[PathExeFolderInput]).c_str());

    runMode.runMode = kRunModePlay;
    slots_[6] = slots_[5] = slots_[9] = "game";
    build();
    return kRunModePlay;
}
