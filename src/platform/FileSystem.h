// Files, folders and process paths of the host system.
//
// Engine paths use '\' or '/' between elements and may carry no leading
// separator (a path without a drive starts at the root). Host names are
// case-sensitive while the engine lower-cases some of its paths, so every
// lookup tries the exact path first and then resolves each element
// case-insensitively. Failures are reported by return values only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Access and creation values of the engine's file-open calls. They keep the
// numeric values of the Windows file API the engine was written against.
constexpr std::uint32_t GENERIC_READ = 0x80000000u;
constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
constexpr std::uint32_t CREATE_NEW = 1;
constexpr std::uint32_t CREATE_ALWAYS = 2;
constexpr std::uint32_t OPEN_EXISTING = 3;
constexpr std::uint32_t OPEN_ALWAYS = 4;
constexpr std::uint32_t TRUNCATE_EXISTING = 5;

// An open file; value is meaningless outside this layer. 0 means none.
struct FileHandle {
    std::intptr_t value = 0;
    explicit operator bool() const { return value != 0; }
};

enum class SeekOrigin { Begin, Current, End };

// Host form of an engine path: separators turned into '/', a leading '/'
// added when missing, existing elements matched case-insensitively.
std::string hostPath(std::string_view enginePath);

FileHandle openFile(std::string_view path, std::uint32_t access, std::uint32_t creation);
// Bytes read or written, or -1 on failure.
std::int64_t readFile(FileHandle file, void* buffer, std::int64_t count);
std::int64_t writeFile(FileHandle file, const void* buffer, std::int64_t count);
// New position, or -1 on failure.
std::int64_t seekFile(FileHandle file, std::int64_t offset, SeekOrigin origin);
std::int64_t fileSize(FileHandle file);
bool flushFile(FileHandle file);
void closeFile(FileHandle file);

enum class PathKind { Missing, File, Folder };
PathKind pathKind(std::string_view path);
bool createFolder(std::string_view path);
bool deleteFile(std::string_view path);
// Moves a file over another one atomically (the target is replaced). The
// file is flushed to the disk first and the target's folder after, so that
// a power cut leaves either the old or the new file; a failed flush leaves
// the target untouched and gives false.
bool renameFile(std::string_view from, std::string_view to);
// Files and folders flushed to the disk by renameFile in this process.
std::uint64_t syncedPathCount();

struct FolderEntry {
    std::string name;
    bool folder = false;
    std::int64_t size = 0;
    std::int64_t modifiedTime = 0;  // seconds since the epoch
};
// Entries of a folder, without "." and "..", sorted by name. False when the
// folder cannot be read.
bool listFolder(std::string_view path, std::vector<FolderEntry>& entries);

// Full host path of the running executable; empty when it cannot be read.
std::string executablePath();
// The user's application-data folder ($XDG_DATA_HOME, or ~/.local/share),
// created when missing; empty when it cannot be had.
std::string applicationDataFolder();

}  // namespace platform
