// The data managers whose resources are stored files of one type mask in the
// packages (sky tables, rain maps): each keeps its records by name through
// the resource-manager template, and a record's object is its stored file as
// read.
//
// What the bytes mean belongs to the owner of each resource type; this part
// reads, counts, finds and exports them. The managers differ only in their
// identity (the data-manager table), in which of them read every stored file
// at start, in their compile messages and in whether they export.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "resources/DataManager.h"
#include "resources/ResourceTypes.h"
#include "resources/Y3ResourceManager.h"

// A record whose object is its stored file's bytes.
class StoredResourceRecord : public ResourceRecord {
public:
    StoredResourceRecord(const char* name, const ResourceDescriptor& descriptor);
    ~StoredResourceRecord() override;

    // Keeps the bytes from the stream's position to its end; their count.
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return bytes_ != nullptr; }
    void deleteObject() override;

    // The stored bytes, or null before the header load and after release.
    const std::string* bytes() const { return bytes_.get(); }

private:
    std::unique_ptr<std::string> bytes_;
};

// The same record, constructed from a name alone for the template.
template <ResourceKind Kind>
class StoredRecordOf : public StoredResourceRecord {
public:
    explicit StoredRecordOf(const char* name) : StoredResourceRecord(name, resourceDescriptor(Kind)) {}
};

class StoredDataManager : public DataManager, public ResourceManagerBase {
public:
    // What a manager does beyond keeping records.
    struct Options {
        // The entry of the data-manager table that names the manager.
        const char* className;
        ResourceKind kind;
        // Start-up reads every stored file of the type (slot 15, and slot 10
        // reads one); otherwise records are made on request.
        bool readAllAtStart = false;
        // Logged before the refusal of a compile; may be null.
        const char* compileReason = nullptr;
        // Logged with the source path after the refusal; may be null.
        const char* compileFailure = nullptr;
        // Logged with the name when an export finds no data; null: the
        // manager does not export.
        const char* exportFailure = nullptr;
    };

    explicit StoredDataManager(const Options& options);
    ~StoredDataManager() override;

    const char* sourceExtension() const override { return info_->sourceExtension; }
    const char* compiledExtension() const override { return info_->compiledExtension; }
    std::int32_t typeNumber() const override { return info_->typeNumber; }
    const char* title() const override { return info_->title; }
    const char* packageSource() const override { return info_->packageSource; }
    const char* secondText() const override { return info_->secondText; }
    // Managers that read at start take the stored file into the record of
    // its name: the bytes read, or -1; the others refuse (-1).
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Writes the named resource's stored bytes into the stream: their count,
    // or -1 (logged) when it has none. 0 for managers that do not export.
    std::int32_t exportResource(const char* name, DataStream& stream) override;
    // Compiling is not possible in the game: logged, false.
    bool compileFromSource(const char* sourcePath) override;
    // Reads every stored file of the type when the manager does so at
    // start (false when one failed); true otherwise.
    bool initialize() override;
    // Destroys every record.
    void release() override;

    // The record of that name, made when absent (unavailable when the
    // packages hold no such file); never null.
    StoredResourceRecord* getOrCreate(const char* name, bool reportMissing);
    // The record of that name, or null.
    StoredResourceRecord* find(const char* name) const;
    StoredResourceRecord* at(std::uint32_t index) const;
    // The named resource's bytes, its header loaded when needed; null when
    // the packages cannot give them.
    const std::string* resourceBytes(const char* name);

protected:
    ResourceRecord* createRecord(const char* name) override;

private:
    Options options_;
    const DataManagerInfo* info_;
};
