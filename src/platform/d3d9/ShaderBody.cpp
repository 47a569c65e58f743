#include "platform/d3d9/ShaderBody.h"

#include <algorithm>
#include <cstring>

namespace platform::d3d9 {

namespace {

class Writer {
public:
    void u8(std::uint32_t v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
    void u16(std::uint32_t v) {
        u8(v);
        u8(v >> 8);
    }
    void u32(std::uint32_t v) {
        u16(v);
        u16(v >> 16);
    }
    void text(const std::string& s) {
        const std::size_t n = std::min<std::size_t>(s.size(), 0xFFFF);
        u16(static_cast<std::uint32_t>(n));
        bytes.insert(bytes.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    }
    std::vector<std::uint8_t> bytes;
};

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : p(data), end(data + size) {}
    bool u8(std::uint32_t& v) {
        if (end - p < 1) return false;
        v = *p++;
        return true;
    }
    bool u16(std::uint32_t& v) {
        if (end - p < 2) return false;
        v = p[0] | (p[1] << 8);
        p += 2;
        return true;
    }
    bool u32(std::uint32_t& v) {
        if (end - p < 4) return false;
        v = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
        p += 4;
        return true;
    }
    bool text(std::string& s) {
        std::uint32_t n = 0;
        if (!u16(n) || std::size_t(end - p) < n) return false;
        s.assign(reinterpret_cast<const char*>(p), n);
        p += n;
        return true;
    }
    bool atEnd() const { return p == end; }

private:
    const std::uint8_t* p;
    const std::uint8_t* end;
};

}  // namespace

std::vector<std::uint8_t> writeShaderBody(const ShaderBody& body) {
    Writer w;
    w.u32(kShaderBodyMagic);
    w.u32(0);  // total size, patched below
    w.u16(kShaderBodyVersion);
    w.u8(body.kind);
    w.u8(0);
    w.text(body.profile);
    w.text(body.entryPoint);
    w.u32(static_cast<std::uint32_t>(body.sourceId));
    w.u16(static_cast<std::uint32_t>(body.defines.size()));
    for (const auto& [name, value] : body.defines) {
        w.text(name);
        w.text(value);
    }
    w.u16(static_cast<std::uint32_t>(body.constants.size()));
    for (const auto& c : body.constants) {
        w.text(c.name);
        w.u8(c.registerSet);
        w.u16(c.registerIndex);
        w.u16(c.registerCount);
        w.u8(c.parameterClass);
        w.u8(c.parameterType);
        w.u8(c.rows);
        w.u8(c.columns);
        w.u16(c.elements);
    }
    // Whole DWORDs: the device takes a body as a DWORD pointer.
    while (w.bytes.size() % 4) w.u8(0);
    const auto size = static_cast<std::uint32_t>(w.bytes.size());
    for (int i = 0; i < 4; ++i) w.bytes[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    return w.bytes;
}

std::uint32_t shaderBodySize(const void* data) {
    if (!data) return 0;
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::uint32_t magic = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
    if (magic != kShaderBodyMagic) return 0;
    return p[4] | (p[5] << 8) | (p[6] << 16) | (std::uint32_t(p[7]) << 24);
}

bool readShaderBody(const void* data, std::size_t size, ShaderBody& body, std::string& why) {
    body = {};
    if (!data || size < 8) {
        why = "no body";
        return false;
    }
    const std::uint32_t claimed = shaderBodySize(data);
    if (claimed == 0) {
        why = "not a shader body of ours";
        return false;
    }
    if (claimed > size || claimed < 12) {
        why = "damaged body: size " + std::to_string(claimed) + " of " + std::to_string(size) + " bytes";
        return false;
    }
    Reader r(static_cast<const std::uint8_t*>(data) + 8, claimed - 8);
    std::uint32_t version = 0, kind = 0, reserved = 0, sourceId = 0, count = 0;
    if (!r.u16(version) || version != kShaderBodyVersion) {
        why = "unknown body version " + std::to_string(version);
        return false;
    }
    bool ok = r.u8(kind) && kind <= 1 && r.u8(reserved) && r.text(body.profile) && r.text(body.entryPoint) &&
              r.u32(sourceId) && r.u16(count);
    body.kind = static_cast<std::uint8_t>(kind);
    body.sourceId = static_cast<std::int32_t>(sourceId);
    for (std::uint32_t i = 0; ok && i < count; ++i) {
        std::string name, value;
        ok = r.text(name) && r.text(value);
        body.defines.emplace_back(std::move(name), std::move(value));
    }
    ok = ok && r.u16(count);
    for (std::uint32_t i = 0; ok && i < count; ++i) {
        ShaderConstant c;
        std::uint32_t set = 0, index = 0, registers = 0, cls = 0, type = 0, rows = 0, columns = 0, elements = 0;
        ok = r.text(c.name) && r.u8(set) && r.u16(index) && r.u16(registers) && r.u8(cls) && r.u8(type) &&
             r.u8(rows) && r.u8(columns) && r.u16(elements) && set <= 3 && cls <= 5 && type <= 20;
        c.registerSet = static_cast<std::uint8_t>(set);
        c.registerIndex = static_cast<std::uint16_t>(index);
        c.registerCount = static_cast<std::uint16_t>(registers);
        c.parameterClass = static_cast<std::uint8_t>(cls);
        c.parameterType = static_cast<std::uint8_t>(type);
        c.rows = static_cast<std::uint8_t>(rows);
        c.columns = static_cast<std::uint8_t>(columns);
        c.elements = static_cast<std::uint16_t>(elements);
        body.constants.push_back(std::move(c));
    }
    if (!ok) {
        why = "damaged body";
        return false;
    }
    const bool vertexProfile = body.profile.rfind("vs_", 0) == 0, pixelProfile = body.profile.rfind("ps_", 0) == 0;
    if ((body.kind == 0 && !vertexProfile) || (body.kind == 1 && !pixelProfile)) {
        why = "profile [" + body.profile + "] does not match the body's kind";
        return false;
    }
    return true;
}

}  // namespace platform::d3d9
