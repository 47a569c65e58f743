// Call stacks of the running process: the return addresses of the calling
// thread and what is known of an address (function, source line, module).
//
// Names come from the program's debug data where the compiler's backtrace
// library can read it, else from the symbols the modules export. After
// initializeSymbols() the lookups take no lock of their own (they do use the
// C heap), so a fault handler may call them.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Code addresses of the calling thread's frames, innermost first, starting
// with the caller of this function. Every address is a return address except
// where a fault interrupted a frame: that one is the faulting instruction.
// Returns the count written.
int captureStack(std::uintptr_t* frames, int capacity);

struct AddressInfo {
    std::string function;  // demangled; empty when unknown
    std::uintptr_t functionStart = 0;
    bool fromDebugData = false;  // the name comes from debug data, not exports
    std::string file;            // empty when unknown
    int line = 0;
    std::string module;  // the image's path; empty when unknown
    std::uintptr_t moduleBase = 0;
};

// Prepares the lookups; call once before any fault. False when only exported
// symbols can be named.
bool initializeSymbols();
// Fills what is known of a code address; false when nothing is.
bool describeAddress(std::uintptr_t address, AddressInfo& info);
// The readable form of a compiler symbol name; the name itself when it is
// not a mangled one.
std::string demangle(const char* name);

}  // namespace platform
