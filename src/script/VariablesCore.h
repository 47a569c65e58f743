// The global and localised script-variable trees and the scratch trees.
//
// ScriptGlobals and ScriptLocales are data managers of the resource
// database; each reads its whole tree from one stored file ("globals" of
// source "var", "locale" of source "loc", mask ".ptxt4") holding one full
// node record. They can also attach compiled ".txt4" resources (a dotted
// path and a subtree) at their paths. VariablesCore owns both, saves and
// restores the changed values of the global tree with the game, and keeps
// the empty scratch trees that scripts see as "locales_temp1".."N".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "resources/DataManager.h"
#include "script/ScriptVariable.h"

class DataStream;
class IniFile;

class ScriptVariableTemplate : public DataManager {
public:
    ~ScriptVariableTemplate() override;

    const char* sourceExtension() const override { return ".xls"; }
    const char* compiledExtension() const override { return ".txt4"; }
    bool perFileData() const override { return false; }
    const char* singleFileMask() const override { return ".ptxt4"; }
    // Attaches one ".txt4" resource at its path (update: merge into an
    // existing node). Bytes read, or a negative value.
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t update) override;
    std::int32_t attachResource(DataStream& stream, const char* name, bool update) {
        return readResource(stream, name, update ? 1 : 0);
    }
    // Reads the whole tree (one full node record) into the root; a set flag
    // gives -1 at once.
    std::int32_t readSingleFile(DataStream& stream, const char* name, std::int32_t flag) override;
    // Writes the whole tree as one full node record.
    std::int32_t writeSingleFile(DataStream& stream, const char* name);
    // Compiling ".xls" sources is not available: false.
    bool compileFromSource(const char*) override { return false; }
    bool initialize() override { return initFromPackages(0); }
    void release() override { root_.reset(); }

    // The save-game block: the changed nodes as changed-value records.
    std::int32_t saveState(DataStream& stream);
    // Restores the nodes a block names; unknown paths are skipped.
    // apply false only checks the block: every value goes to a scratch node.
    std::int32_t loadState(DataStream& stream, bool apply = true);

    ScriptVariable* root() { return root_.get(); }
    const ScriptVariable* root() const { return root_.get(); }
    // Makes the root node "root" when there is none.
    ScriptVariable* ensureRoot();

    // Attaches source at path below root (see the .cpp).
    static bool attach(ScriptVariable& root, const char* path, ScriptVariable& source, bool update);

protected:
    std::unique_ptr<ScriptVariable> root_;
};

class ScriptGlobals : public ScriptVariableTemplate {
public:
    std::int32_t typeNumber() const override { return 33; }
    const char* title() const override { return "Game global variables data"; }
    const char* packageSource() const override { return "var"; }
    const char* singleFileName() const override { return "globals"; }
};

class ScriptLocales : public ScriptVariableTemplate {
public:
    std::int32_t typeNumber() const override { return 34; }
    const char* title() const override { return "Game locales variables data"; }
    const char* packageSource() const override { return "loc"; }
    const char* singleFileName() const override { return "locale"; }
};

// The number of scratch trees ("temp_vars_count" of section "script").
// Kept into 0..kMaxTempVars: the value sizes an array.
std::int32_t scriptTempVarsCount();
void setScriptTempVarsCount(std::int32_t count);
constexpr std::int32_t kMaxTempVars = 1000;
// Reads "temp_vars_count" of section "script" (created, fixed, when
// missing): a key without a value gives 10, otherwise the value's leading
// integer (0 without one), clamped.
void readScriptSettings(IniFile& settings);

class VariablesCore {
public:
    VariablesCore();
    ~VariablesCore();
    VariablesCore(const VariablesCore&) = delete;
    VariablesCore& operator=(const VariablesCore&) = delete;

    // Fills both trees from the packages; the locales are read even when the
    // globals fail. True only when both succeed.
    bool initialize();
    // The save-game block of the global tree.
    std::int32_t write(DataStream& stream);
    std::int32_t read(DataStream& stream);

    // Brings the scratch trees to count fresh empty nodes named
    // "locales_temp1".."locales_temp<count>" (count clamped to 0..kMaxTempVars).
    void makeScratchTrees(std::int32_t count);
    std::int32_t scratchCount() const { return static_cast<std::int32_t>(scratch_.size()); }
    ScriptVariable* scratch(std::int32_t index) { return scratch_[static_cast<std::size_t>(index)].get(); }

    ScriptGlobals& globals() { return *globals_; }
    ScriptLocales& locales() { return *locales_; }

    // The location of a node: "globals" or "locales" and every name from the
    // tree's root down to the node, joined by "." (at most 1,023
    // characters). False, with "locales", when the node is in neither tree
    // (or there is no variables core).
    static bool locate(const ScriptVariable* node, std::string& location);

private:
    std::unique_ptr<ScriptGlobals> globals_;
    std::unique_ptr<ScriptLocales> locales_;
    std::vector<std::unique_ptr<ScriptVariable>> scratch_;
};
