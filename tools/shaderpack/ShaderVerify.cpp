#include "shaderpack/ShaderVerify.h"

#include <fstream>
#include <iterator>

#include "foundation/DataStream.h"
#include "foundation/PackedStream.h"
#include "render/shaders/Container.h"
#include "render/shaders/MultyShader.h"
#include "render/shaders/ShaderProgramTable.h"
#include "shaderpack/ShaderPacker.h"

bool readShaderPackage(const std::string& path, std::vector<PackageEntry>& entries, std::string& error) {
    entries.clear();
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) bytes.clear();
    if (bytes.empty()) {
        error = "can't read [" + path + "]";
        return false;
    }
    MemoryStream packed(bytes.data(), std::int32_t(bytes.size()));
    MemoryStream content;
    Container container("shader package", 0);
    if (readPackedStream(-1, content, false, packed) < 0 || container.read(content) < 0) {
        error = "[" + path + "] is no shader package";
        return false;
    }
    for (std::int32_t i = 0; i < container.count(); ++i) {
        const ContainerEntry& entry = container.entry(i);
        const std::uint8_t* data = entry.data.data();
        entries.push_back({entry.name, std::vector<std::uint8_t>(data, data + const_cast<MemoryStream&>(entry.data).size())});
    }
    return true;
}

std::vector<std::string> sampleShaderKeys(int between) {
    std::vector<std::string> keys;
    for (const ShaderProgramRow& row : ShaderProgramTable::vertexRows())
        if (row.index < kStandaloneVertexPrograms) keys.push_back(ShaderProgramTable::fullName(kVertexProfiles[0], row.name));
    for (const ShaderProgramRow& row : ShaderProgramTable::pixelRows())
        if (row.index < kStandalonePixelPrograms)
            keys.push_back(ShaderProgramTable::fullName(kPixelProfiles[row.profile], row.name));
    // The walks in order, one list of keys each.
    std::vector<std::vector<std::string>> walks;
    const MultyShader* lastFamily = nullptr;
    bool lastPixel = false;
    forEachFamilyPermutation([&](MultyShader& family, bool pixel, const char* name) {
        if (&family != lastFamily || pixel != lastPixel) walks.emplace_back();
        lastFamily = &family;
        lastPixel = pixel;
        walks.back().push_back(ShaderProgramTable::fullName(pixel ? kPixelProfiles[0] : kVertexProfiles[0], name));
        return true;
    });
    for (const std::vector<std::string>& walk : walks) {
        const std::size_t n = walk.size();
        const std::size_t picks = std::min<std::size_t>(n, std::size_t(between) + 2);
        for (std::size_t i = 0; i < picks; ++i) {
            const std::size_t at = picks == 1 ? 0 : i * (n - 1) / (picks - 1);
            if (i == 0 || keys.back() != walk[at]) keys.push_back(walk[at]);
        }
    }
    return keys;
}

bool compileShaderEntry(IDirect3DDevice9* device, const PackageEntry& entry) {
    const DWORD* code = reinterpret_cast<const DWORD*>(entry.body.data());
    HRESULT result = D3DERR_INVALIDCALL;
    if (entry.key.rfind("vs_", 0) == 0) {
        IDirect3DVertexShader9* shader = nullptr;
        result = device->CreateVertexShader(code, &shader);
        if (shader) shader->Release();
    } else {
        IDirect3DPixelShader9* shader = nullptr;
        result = device->CreatePixelShader(code, &shader);
        if (shader) shader->Release();
    }
    return SUCCEEDED(result);
}
