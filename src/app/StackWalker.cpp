#include "app/StackWalker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/Log.h"
#include "platform/FileSystem.h"
#include "platform/Faults.h"
#include "platform/StackTrace.h"

namespace {

constexpr int kMaxFrames = 128;
constexpr std::size_t kLineSize = 1024;
constexpr std::size_t kValueSize = 1024;
// Symbol options as reported: source lines on, no error boxes.
constexpr std::uint32_t kSymbolOptions = 0x210;
constexpr const char* kSymbolServer = "https://debuginfod.debian.net";

std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// An environment value cut to the walker's value buffer; empty when unset.
std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::string();
    std::string text(value);
    if (text.size() > kValueSize - 1) text.resize(kValueSize - 1);
    return text;
}

}  // namespace

StackWalker::StackWalker(std::uint32_t options, const char* symbolPath)
    : options_(options), symbolPath_(symbolPath ? symbolPath : "") {}

void StackWalker::loadModules() {
    modulesLoaded_ = true;
    platform::initializeSymbols();
    std::string path;
    if (options_ & SymBuildPath) {
        auto add = [&path](const std::string& part) {
            if (part.empty()) return;
            path += part;
            path += ';';
        };
        add(symbolPath_);
        add(".");
        add(platform::currentFolder());
        add(folderOf(platform::executablePath()));
        add(environmentValue("_NT_SYMBOL_PATH"));
        add(environmentValue("_NT_ALTERNATE_SYMBOL_PATH"));
        if (options_ & SymUseSymSrv) {
            std::string cache = environmentValue("XDG_CACHE_HOME");
            if (cache.empty()) cache = environmentValue("HOME") + "/.cache";
            add("SRV*" + cache + "/debuginfod_client*" + kSymbolServer);
        }
    } else {
        path = symbolPath_;
    }
    reportSymbolInit(path.c_str(), kSymbolOptions, platform::userName().c_str());
}

bool StackWalker::walkStack(std::uintptr_t faultAddress) {
    std::uintptr_t frames[kMaxFrames];
    const int count = platform::captureStack(frames, kMaxFrames);
    if (count <= 0) {
        if (!modulesLoaded_) loadModules();
        reportError("StackWalk64", 0, faultAddress);
        return false;
    }
    if (faultAddress) {
        for (int i = 0; i < count; ++i)
            if (frames[i] == faultAddress) return walkFrames(frames + i, count - i, true);
        // The fault's frame was not found: the whole stack is better than none.
        return walkFrames(frames, count, false);
    }
    // frames[0] is this function.
    return walkFrames(frames + 1, count - 1, false);
}

void StackWalker::describe(std::uintptr_t address, bool exact, CallstackEntry& entry) {
    entry = CallstackEntry();
    entry.offset = address;
    platform::AddressInfo info;
    // A return address points behind the call: look up the call itself.
    platform::describeAddress(exact ? address : address - 1, info);
    if (options_ & RetrieveSymbol) {
        if (info.function.empty()) {
            reportError("SymGetSymFromAddr64", 0, address);
        } else {
            entry.name = info.function;
            entry.undName = info.function;
            entry.undFullName = info.function;
            if (info.functionStart && info.functionStart <= address) entry.offsetFromSymbol = address - info.functionStart;
        }
    }
    if (options_ & RetrieveLine) {
        if (info.file.empty()) {
            reportError("SymGetLineFromAddr64", 0, address);
        } else {
            entry.lineFileName = info.file;
            entry.lineNumber = info.line;
        }
    }
    if (options_ & RetrieveModuleInfo) {
        if (info.module.empty()) {
            reportError("SymGetModuleInfo64", 0, address);
        } else {
            entry.loadedImageName = info.module;
            entry.moduleName = fileNameOf(info.module);
            entry.baseOfImage = info.moduleBase;
            entry.symTypeString = info.fromDebugData ? "SYM" : (info.function.empty() ? "-nosymbols-" : "-exported-");
        }
    }
}

bool StackWalker::walkFrames(const std::uintptr_t* frames, int count, bool firstIsExact) {
    if (!modulesLoaded_) loadModules();
    if (!frames || count <= 0) {
        reportError("StackWalk64", 0, 0);
        return false;
    }
    CallstackEntry entry;
    for (int i = 0; i < count; ++i) {
        describe(frames[i], firstIsExact && i == 0, entry);
        reportFrame(i == 0 ? FirstEntry : NextEntry, entry);
        // A frame that returns to its own address would repeat for ever.
        if (i + 1 < count && frames[i + 1] == frames[i]) {
            reportError("StackWalk64-Endless-Callstack!", 0, frames[i]);
            return true;
        }
    }
    reportFrame(LastEntry, entry);
    return true;
}

void StackWalker::reportSymbolInit(const char* searchPath, std::uint32_t symOptions, const char* userName) {
    char line[kLineSize];
    std::snprintf(line, sizeof(line), "SymInit: Symbol-SearchPath: '%s', symOptions: %d, UserName: '%s'\n",
                  searchPath, static_cast<int>(symOptions), userName);
    writeLine(line);
    int major = 0, minor = 0, build = 0;
    std::string version;
    platform::systemVersion(major, minor, build, version);
    std::snprintf(line, sizeof(line), "OS-Version: %d.%d.%d (%s) 0x%x-0x%x\n", major, minor, build, version.c_str(), 0u,
                  0u);
    writeLine(line);
}

void StackWalker::reportModule(const char* image, const char* module, std::uint64_t baseAddress, std::uint32_t size,
                               std::uint32_t result, const char* symType, const char* pdbName,
                               std::uint64_t fileVersion) {
    char line[kLineSize];
    void* base = reinterpret_cast<void*>(static_cast<std::uintptr_t>(baseAddress));
    if (fileVersion == 0) {
        std::snprintf(line, sizeof(line), "%s:%s (%p), size: %d (result: %d), SymType: '%s', PDB: '%s'\n", image, module,
                      base, static_cast<int>(size), static_cast<int>(result), symType, pdbName);
    } else {
        std::snprintf(line, sizeof(line),
                      "%s:%s (%p), size: %d (result: %d), SymType: '%s', PDB: '%s', fileVersion: %d.%d.%d.%d\n", image,
                      module, base, static_cast<int>(size), static_cast<int>(result), symType, pdbName,
                      static_cast<int>((fileVersion >> 48) & 0xFFFF), static_cast<int>((fileVersion >> 32) & 0xFFFF),
                      static_cast<int>((fileVersion >> 16) & 0xFFFF), static_cast<int>(fileVersion & 0xFFFF));
    }
    writeLine(line);
}

void StackWalker::reportFrame(EntryKind kind, const CallstackEntry& entry) {
    if (kind == LastEntry || entry.offset == 0) return;
    const char* function = entry.name.empty() ? "(function-name not available)" : entry.name.c_str();
    char line[kLineSize];
    if (!entry.lineFileName.empty()) {
        std::snprintf(line, sizeof(line), "%s (%d): %s\n", entry.lineFileName.c_str(), entry.lineNumber, function);
    } else {
        const char* module = entry.moduleName.empty() ? "(module-name not available)" : entry.moduleName.c_str();
        std::snprintf(line, sizeof(line), "%p (%s): %s: %s\n", reinterpret_cast<void*>(entry.offset), module,
                      "(filename not available)", function);
    }
    writeLine(line);
}

void StackWalker::reportError(const char* function, std::uint32_t errorCode, std::uint64_t address) {
    char line[kLineSize];
    std::snprintf(line, sizeof(line), "ERROR: %s, GetLastError: %d (Address: %p)\n", function,
                  static_cast<int>(errorCode), reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)));
    writeLine(line);
}

void StackWalker::writeLine(const char* text) { std::fputs(text, stderr); }

void GameStackWalker::writeLine(const char* text) {
    StackWalker::writeLine(text);
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    engineLog().info("%s", line.c_str());
}
