#include "script/lua/VariableScript.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "script/ScriptBinding.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"

namespace {

constexpr const char* kClass = "Variable";
// Decimals "add" accepts; more would not fit its 128-character buffer.
constexpr int kMaxDigits = 32;

// A script object of the class "Variable": a weak reference to a node and
// the state that made it (to hand out further objects).
struct VariableHandle {
    ScriptRef<ScriptVariable> ref;
    lua_State* state = nullptr;

    ScriptVariable& node() const { return ref.require(kClass); }
};

luabind::object wrap(lua_State* state, ScriptVariable* node) {
    if (!node) return luabind::object();
    return luabind::object(state, VariableHandle{ScriptRef<ScriptVariable>(node->lifeToken()), state});
}

// ---- properties: nil once the node is gone ----

luabind::object getId(const VariableHandle& h) {
    ScriptVariable* node = h.ref.get();
    return node ? luabind::object(h.state, std::string(node->name())) : luabind::object();
}

luabind::object getType(const VariableHandle& h) {
    ScriptVariable* node = h.ref.get();
    return node ? luabind::object(h.state, std::string(ScriptVariable::typeName(node->type()))) : luabind::object();
}

luabind::object getWidth(const VariableHandle& h) {
    ScriptVariable* node = h.ref.get();
    if (!node) return luabind::object();
    int width = 0;
    if (node->type() == ScriptVariable::TypeArray) width = 1;
    if (node->type() == ScriptVariable::TypeArray2D) width = node->childCount();
    return luabind::object(h.state, width);
}

luabind::object getHeight(const VariableHandle& h) {
    ScriptVariable* node = h.ref.get();
    if (!node) return luabind::object();
    int height = 0;
    if (node->type() == ScriptVariable::TypeArray) height = node->childCount();
    if (node->type() == ScriptVariable::TypeArray2D && node->childCount() > 0) height = node->child(0)->childCount();
    return luabind::object(h.state, height);
}

luabind::object getValue(const VariableHandle& h) {
    ScriptVariable* node = h.ref.get();
    if (!node) return luabind::object();
    switch (node->type()) {
        case ScriptVariable::TypeBoolean:
            return luabind::object(h.state, node->toBool());
        case ScriptVariable::TypeString:
        case ScriptVariable::TypeWString:
            return luabind::object(h.state, node->toString());
        case ScriptVariable::TypeNumber:
            return luabind::object(h.state, node->toFloat());
        default:
            return luabind::object();
    }
}

// A mismatching type is reported, never refused: the new type wins. The
// changed flag makes the value part of the saved game.
void setValue(const VariableHandle& h, const luabind::object& value) {
    ScriptVariable& node = h.node();
    node.setChanged(true);
    switch (luabind::type(value)) {
        case LUA_TBOOLEAN:
            if (node.type() != ScriptVariable::TypeBoolean) node.reportError("New cell value has another type");
            node.setBool(luabind::object_cast<bool>(value));
            break;
        case LUA_TNUMBER:
            if (node.type() != ScriptVariable::TypeNumber) engineLog().scriptError("New cell value has another type");
            node.setNumber(static_cast<float>(luabind::object_cast<double>(value)));
            break;
        case LUA_TSTRING:
            if (node.type() != ScriptVariable::TypeString) node.reportError("New cell value has another type");
            node.setString(luabind::object_cast<std::string>(value).c_str());
            break;
        default:
            node.freeValue();
            break;
    }
}

// ---- methods ----

const char* classof(const VariableHandle&) { return kClass; }

bool dump(const VariableHandle& h, bool alternate) { return h.node().dump(alternate); }

// Every change a script makes is marked, so that the save game holds it.
void append(ScriptVariable& node, const std::u16string& text) {
    node.setChanged(true);
    node.setWString(node.toWString() + text);
}

long long wholePart(double number) {
    if (!std::isfinite(number)) return 0;
    return static_cast<long long>(std::clamp(std::trunc(number), -9.0e18, 9.0e18));
}

void appendInteger(ScriptVariable& node, long long value) {
    char buffer[128];
    std::snprintf(buffer, sizeof(buffer), "%lli", value);
    append(node, toWideString(buffer));
}

// add(integer), add(string) and add(Variable): the Lua type decides.
void add(const VariableHandle& h, const luabind::object& value) {
    ScriptVariable& node = h.node();
    switch (luabind::type(value)) {
        case LUA_TNUMBER:
            appendInteger(node, wholePart(luabind::object_cast<double>(value)));
            return;
        case LUA_TSTRING:
            append(node, toWideString(luabind::object_cast<std::string>(value)));
            return;
        default: {
            ScriptVariable* source = nullptr;
            if (luabind::type(value) == LUA_TUSERDATA) {
                try {
                    source = luabind::object_cast<const VariableHandle*>(value)->ref.get();
                } catch (const luabind::cast_failed&) {
                }
            }
            append(node, source ? source->toWString() : toWideString(" <<NULL>> "));
            return;
        }
    }
}

// add(number, digits): the decimals are clamped into 0..32 so the text fits
// its buffer; 0 cuts the number to an integer.
void addDigits(const VariableHandle& h, double number, int digits) {
    ScriptVariable& node = h.node();
    digits = std::clamp(digits, 0, kMaxDigits);
    if (digits == 0) {
        appendInteger(node, wholePart(number));
        return;
    }
    char format[16];
    std::snprintf(format, sizeof(format), "%%.%if", digits);
    char buffer[128];
    std::snprintf(buffer, sizeof(buffer), format, number);
    append(node, toWideString(buffer));
}

void clear(const VariableHandle& h) {
    ScriptVariable& node = h.node();
    node.setChanged(true);
    node.releaseValues();
}

bool testPath(const VariableHandle& h, const char* path) { return ScriptVariable::test(&h.node(), path); }
bool testIndex(const VariableHandle& h, int index) { return h.node().hasIndex(index); }
bool testII(const VariableHandle& h, int i, int j) { return ScriptVariable::test(&h.node(), i, j); }
bool testIP(const VariableHandle& h, int i, const char* p) { return ScriptVariable::test(&h.node(), i, p); }
bool testPI(const VariableHandle& h, const char* p, int i) { return ScriptVariable::test(&h.node(), p, i); }
bool testPP(const VariableHandle& h, const char* p, const char* q) { return ScriptVariable::test(&h.node(), p, q); }

luabind::object getPath(const VariableHandle& h, const char* path) {
    return wrap(h.state, ScriptVariable::resolvePath(&h.node(), path));
}
luabind::object getIndex(const VariableHandle& h, int index) { return wrap(h.state, h.node().getChild(index)); }
luabind::object getII(const VariableHandle& h, int i, int j) {
    return wrap(h.state, ScriptVariable::get(&h.node(), i, j));
}
luabind::object getIP(const VariableHandle& h, int i, const char* p) {
    return wrap(h.state, ScriptVariable::get(&h.node(), i, p));
}
luabind::object getPI(const VariableHandle& h, const char* p, int i) {
    return wrap(h.state, ScriptVariable::get(&h.node(), p, i));
}
luabind::object getPP(const VariableHandle& h, const char* p, const char* q) {
    return wrap(h.state, ScriptVariable::get(&h.node(), p, q));
}

// Copies this node's type and value (types 1 to 4) into the target.
bool copy(const VariableHandle& h, const VariableHandle& target) {
    ScriptVariable& node = h.node();
    ScriptVariable& to = target.node();
    if (node.type() >= ScriptVariable::TypeBoolean && node.type() <= ScriptVariable::TypeNumber) to.setChanged(true);
    switch (node.type()) {
        case ScriptVariable::TypeBoolean:
            to.setBool(node.toBool());
            return true;
        case ScriptVariable::TypeString:
            to.setString(node.toString().c_str());
            return true;
        case ScriptVariable::TypeWString:
            to.setWString(node.toWString());
            return true;
        case ScriptVariable::TypeNumber:
            to.setNumber(node.toFloat());
            return true;
        default:
            return engineLog().error("Can't copy variable [%s]: Type is invalid (%s)", node.name(),
                                     ScriptVariable::typeName(node.type()));
    }
}

bool imageCreate(const VariableHandle& h) { return h.node().optimize_image_Create(); }
// image_Replace(item name, element name, rebuild text) and (item name, row
// number, rebuild text): the second argument's Lua type decides.
bool imageReplace(const VariableHandle& h, const char* itemName, const luabind::object& which, bool rebuildText) {
    ScriptVariable& node = h.node();
    if (luabind::type(which) == LUA_TNUMBER) {
        // A row outside 32 bits is no row of any table: it fails as row 0.
        const long long row = wholePart(luabind::object_cast<double>(which));
        const std::int32_t n = row >= 1 && row <= 0x7FFFFFFF ? static_cast<std::int32_t>(row) : 0;
        return node.buildStillFrameFromVariable(itemName, n, rebuildText);
    }
    if (luabind::type(which) == LUA_TSTRING)
        return node.replaceImageByElement(itemName, luabind::object_cast<std::string>(which).c_str(), rebuildText);
    return engineLog().scriptError("image_Replace: expected an element name or a row number");
}

bool toolsSave(const VariableHandle& h, const char* section, const char* prefix) {
    return h.node().toolsSave(section, prefix);
}
bool toolsLoad(const VariableHandle& h, const char* section, const char* prefix) {
    return h.node().toolsLoad(section, prefix);
}

}  // namespace

ScriptVariable* scriptVariableAt(lua_State* state, int index) {
    if (!state || lua_type(state, index) != LUA_TUSERDATA) return nullptr;
    luabind::object value(luabind::from_stack(state, index));
    try {
        return luabind::object_cast<const VariableHandle*>(value)->ref.get();
    } catch (const luabind::cast_failed&) {
        return nullptr;
    }
}

void registerVariableClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[(class_<VariableHandle>(kClass)
                       .property("id", &getId)
                       .property("value", &getValue, &setValue)
                       .property("type", &getType)
                       .property("width", &getWidth)
                       .property("height", &getHeight)
                       .def("classof", &classof)
                       .def("dump", &dump)
                       .def("add", &add)
                       .def("add", &addDigits)
                       .def("clear", &clear)
                       .def("test", &testPath)
                       .def("test", &testIndex)
                       .def("test", &testII)
                       .def("test", &testIP)
                       .def("test", &testPI)
                       .def("test", &testPP)
                       .def("get", &getPath)
                       .def("get", &getIndex)
                       .def("get", &getII)
                       .def("get", &getIP)
                       .def("get", &getPI)
                       .def("get", &getPP)
                       .def("copy", &copy)
                       .def("image_Create", &imageCreate)
                       .def("image_Replace", &imageReplace)
                       .def("tools_save", &toolsSave)
                       .def("tools_load", &toolsLoad))];

    VariablesCore* core = gameCore.variables;
    object table = globals(state);
    table["globals"] = wrap(state, core ? core->globals().root() : nullptr);
    table["locales"] = wrap(state, core ? core->locales().root() : nullptr);
    if (!core) return;
    core->makeScratchTrees(scriptTempVarsCount());
    for (std::int32_t i = 0; i < core->scratchCount(); ++i)
        table[core->scratch(i)->name()] = wrap(state, core->scratch(i));
}
