// Call stacks as text lines.
//
// StackWalker walks the calling thread's stack and describes each frame
// (address, function, source file and line, module); every line it makes
// goes through the one virtual writeLine. GameStackWalker, the walker of the
// game, sends its lines to the log. The crash report and the debug trap use
// it. A walker is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>

class StackWalker {
public:
    // Option bits; OptionsAll is what the crash report uses.
    enum Options : std::uint32_t {
        RetrieveSymbol = 0x01,
        RetrieveLine = 0x02,
        RetrieveModuleInfo = 0x04,
        RetrieveFileVersion = 0x08,
        SymBuildPath = 0x10,
        SymUseSymSrv = 0x20,
        OptionsAll = 0x3F,
    };
    enum EntryKind { FirstEntry = 0, NextEntry = 1, LastEntry = 2 };

    struct CallstackEntry {
        std::uintptr_t offset = 0;  // the frame's address; 0 when none
        std::string name;           // the function, readable; empty when unknown
        std::string undName;
        std::string undFullName;
        std::uintptr_t offsetFromSymbol = 0;
        std::string lineFileName;
        int lineNumber = 0;
        std::string moduleName;
        std::uintptr_t baseOfImage = 0;
        std::string symTypeString;
        std::string loadedImageName;
    };

    explicit StackWalker(std::uint32_t options = OptionsAll, const char* symbolPath = nullptr);
    virtual ~StackWalker() = default;
    StackWalker(const StackWalker&) = delete;
    StackWalker& operator=(const StackWalker&) = delete;

    // Writes the calling thread's stack. Given the address of a faulting
    // instruction, the walk starts at that instruction and leaves out the
    // frames of the fault handling above it. False when no stack is read.
    bool walkStack(std::uintptr_t faultAddress = 0);
    // Writes the stack made of the given code addresses, innermost first;
    // the first is the exact instruction when firstIsExact, every other one a
    // return address.
    bool walkFrames(const std::uintptr_t* frames, int count, bool firstIsExact);

protected:
    virtual void reportSymbolInit(const char* searchPath, std::uint32_t symOptions, const char* userName);
    virtual void reportModule(const char* image, const char* module, std::uint64_t baseAddress, std::uint32_t size,
                              std::uint32_t result, const char* symType, const char* pdbName,
                              std::uint64_t fileVersion);
    virtual void reportFrame(EntryKind kind, const CallstackEntry& entry);
    virtual void reportError(const char* function, std::uint32_t errorCode, std::uint64_t address);
    // The base writes to standard error, the host's debugger output.
    virtual void writeLine(const char* text);

private:
    void loadModules();
    void describe(std::uintptr_t address, bool exact, CallstackEntry& entry);

    std::uint32_t options_;
    std::string symbolPath_;
    bool modulesLoaded_ = false;
};

// The game's walker: each line, without its trailing line breaks, goes to the
// log (system channel, level Info) as well.
class GameStackWalker : public StackWalker {
public:
    using StackWalker::StackWalker;

protected:
    void writeLine(const char* text) override;
};
