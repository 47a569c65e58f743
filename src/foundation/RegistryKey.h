// The registry key of the language selection and the clipboard.
//
// This system keeps no registry: a key never opens, so the language comes
// from the settings. The clipboard holds narrow engine text (code page
// 1251); it goes through the window layer, which uses the system clipboard
// while the window is up and a buffer of the process otherwise.
#pragma once

#include <cstdint>
#include <string>

class RegistryKey {
public:
    // Root keys of the registry (fixed values).
    static constexpr std::uint32_t kLocalMachine = 0x80000002u;

    RegistryKey() = default;
    ~RegistryKey() { close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Closes a key still held, then opens the sub-key: full access, else
    // read access. Always false here: no key exists.
    bool open(std::uint32_t root, const char* subKey);
    void close();
    // Reads a string value of the open key (at most 2,047 bytes); false
    // without a key or value, and the string is left as it was.
    bool getString(std::string& value, const char* valueName) const;
    bool isOpen() const { return key_ != 0; }

private:
    std::uintptr_t key_ = 0;
    std::uint8_t flags_ = 0;
};

// Takes the clipboard's text; false (text unchanged) when it holds none.
bool getClipboardText(std::string& text);
// Puts the text (an empty one too) on the clipboard; true on success.
bool setClipboardText(const char* text);
