// The interface of every typed database of game data filled from the
// package database, and the shared fill from the packages.
//
// A manager names its source extension, its compiled extension (the type
// mask of its stored files), a type number and a title, and offers read,
// compile, initialise and release operations. Its data are either one stored
// file (single-file mask and name set) or one stored file per resource.
#pragma once

#include <cstdint>
#include <string>

class DataStream;

class DataManager {
public:
    DataManager() = default;
    virtual ~DataManager() = default;
    DataManager(const DataManager&) = delete;
    DataManager& operator=(const DataManager&) = delete;

    // Extension of the source files the manager compiles (".xls", ".txt", ".trk").
    virtual const char* sourceExtension() const = 0;
    // The type mask of the manager's stored files in the packages.
    virtual const char* compiledExtension() const = 0;
    virtual std::int32_t typeNumber() const = 0;
    // The title used in messages.
    virtual const char* title() const = 0;
    // Source part of the type key its files stand under; null for most.
    virtual const char* packageSource() const { return nullptr; }
    // "@" for the dialog manager; null for the others.
    virtual const char* secondText() const { return nullptr; }
    virtual std::uint32_t ownValue() const { return 0; }
    // False only for the managers that keep all their data in one stored file.
    virtual bool perFileData() const { return true; }
    // Type mask and name of the one stored file holding all the data; empty
    // texts when the data are one stored file per resource.
    virtual const char* singleFileMask() const { return ""; }
    virtual const char* singleFileName() const { return ""; }
    // Reads one stored resource; negative on failure.
    virtual std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) = 0;
    // Exports one resource into a stream (a file the caller opened): the
    // bytes written, negative on failure; 0 for managers that do not export.
    virtual std::int32_t exportResource(const char* name, DataStream& stream);
    // Reads the single stored file; negative on failure.
    virtual std::int32_t readSingleFile(DataStream& stream, const char* name, std::int32_t flag);
    virtual std::int32_t reservedOperation(std::int32_t first, std::int32_t second);
    // Builds the compiled data from a source file and stores them.
    virtual bool compileFromSource(const char* sourcePath) = 0;
    // Fills the manager from the packages.
    virtual bool initialize() = 0;
    // Frees everything the manager loaded.
    virtual void release() = 0;

    // Fills the manager from its single stored file when it has one, else
    // from every stored file of its type. A failing file only makes the
    // result false; the others are still read.
    bool initFromPackages(std::int32_t flag);
    // The single-file branch of initFromPackages.
    bool initFromSingleFile(std::int32_t flag);

protected:
    // Storing compiled data into a package stream: refused in this program
    // (logged), always false.
    static bool saveCompiledStream(DataStream& compiled, const char* name);
    // Stores compiled data beside its source (the source's path with the
    // compiled extension): refused before the destination is touched, with
    // failureFormat logged with the destination; false.
    bool storeBesideSource(DataStream& compiled, const char* sourcePath, const char* failureFormat);
    // The resource name of a source path (its file name without the
    // extension) and the compiled file beside it.
    void compiledPathOf(const std::string& sourcePath, std::string& name, std::string& target) const;
};
