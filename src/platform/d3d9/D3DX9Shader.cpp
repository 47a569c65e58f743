// D3DX buffers and shader constant tables. A table is read from a body in
// our format; its Set* calls pack values into registers the way D3DX does
// (one register per scalar or vector element, rows or columns of a matrix
// by its class) and send them through the device's constant calls, so the
// core's register limits apply.
#include "platform/d3d9/D3DX9.h"
#include "platform/d3d9/DeviceLocal.h"
#include "platform/d3d9/ShaderBody.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

using platform::d3d9::Counted;
using platform::d3d9::ShaderBody;
using platform::d3d9::ShaderConstant;

class Buffer final : public Counted<ID3DXBuffer> {
public:
    explicit Buffer(DWORD size) : bytes_(size, 0) { name_ = "buffer"; }
    void* GetBufferPointer() override { return bytes_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    std::vector<std::uint8_t> bytes_;
};

void message(const char* line) {
    if (platform::d3d9::environment().sink) platform::d3d9::environment().sink(line);
}

class ConstantTable final : public Counted<ID3DXConstantTable> {
public:
    ConstantTable(const std::uint8_t* code, std::size_t size, ShaderBody body)
        : code_(code, code + size), body_(std::move(body)) {
        name_ = "constant table";
        creator_ = "engine shader packer";
    }

    void* GetBufferPointer() override { return code_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(code_.size()); }

    HRESULT GetDesc(D3DXCONSTANTTABLE_DESC* desc) override {
        if (!desc) return D3DERR_INVALIDCALL;
        const std::string& p = body_.profile;  // "vs_2_0"
        const DWORD major = p.size() > 3 ? DWORD(p[3] - '0') : 0, minor = p.size() > 5 && p[5] != 'a' && p[5] != 'b'
                                                                              ? DWORD(p[5] - '0')
                                                                              : 0;
        desc->Creator = creator_.c_str();
        desc->Version = body_.kind == 0 ? D3DVS_VERSION(major, minor) : D3DPS_VERSION(major, minor);
        desc->Constants = static_cast<UINT>(body_.constants.size());
        return S_OK;
    }

    HRESULT GetConstantDesc(D3DXHANDLE handle, D3DXCONSTANT_DESC* desc, UINT* count) override {
        const ShaderConstant* c = find(handle);
        if (!c || !count) return D3DERR_INVALIDCALL;
        if (desc && *count >= 1) {
            desc->Name = c->name.c_str();
            desc->RegisterSet = D3DXREGISTER_SET(c->registerSet);
            desc->RegisterIndex = c->registerIndex;
            desc->RegisterCount = c->registerCount;
            desc->Class = D3DXPARAMETER_CLASS(c->parameterClass);
            desc->Type = D3DXPARAMETER_TYPE(c->parameterType);
            desc->Rows = c->rows;
            desc->Columns = c->columns;
            desc->Elements = c->elements;
            desc->StructMembers = 0;
            desc->Bytes = 4u * c->rows * c->columns * std::max<UINT>(1, c->elements);
            desc->DefaultValue = nullptr;
        }
        *count = 1;
        return S_OK;
    }

    D3DXHANDLE GetConstant(D3DXHANDLE parent, UINT index) override {
        if (parent || index >= body_.constants.size()) return nullptr;
        return body_.constants[index].name.c_str();
    }

    D3DXHANDLE GetConstantByName(D3DXHANDLE parent, const char* name) override {
        if (parent || !name) return nullptr;
        for (const auto& c : body_.constants)
            if (c.name == name) return c.name.c_str();
        return nullptr;
    }

    HRESULT SetDefaults(IDirect3DDevice9* device) override { return device ? S_OK : D3DERR_INVALIDCALL; }

    HRESULT SetBool(IDirect3DDevice9* device, D3DXHANDLE handle, BOOL value) override {
        const float f = value ? 1.0f : 0.0f;
        return setFloats(device, handle, &f, 1, 1, false, "SetBool");
    }
    HRESULT SetInt(IDirect3DDevice9* device, D3DXHANDLE handle, INT value) override {
        const float f = static_cast<float>(value);
        return setFloats(device, handle, &f, 1, 1, false, "SetInt");
    }
    HRESULT SetFloat(IDirect3DDevice9* device, D3DXHANDLE handle, float value) override {
        return setFloats(device, handle, &value, 1, 1, false, "SetFloat");
    }
    HRESULT SetFloatArray(IDirect3DDevice9* device, D3DXHANDLE handle, const float* values, UINT count) override {
        const ShaderConstant* c = find(handle);
        const UINT stride = c ? std::max<UINT>(1, c->rows * c->columns) : 1;
        return setFloats(device, handle, values, count / stride + (count % stride ? 1 : 0), stride, false,
                         "SetFloatArray", count);
    }
    HRESULT SetVector(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXVECTOR4* vector) override {
        return setFloats(device, handle, reinterpret_cast<const float*>(vector), 1, 4, false, "SetVector");
    }
    HRESULT SetVectorArray(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXVECTOR4* vectors,
                           UINT count) override {
        return setFloats(device, handle, reinterpret_cast<const float*>(vectors), count, 4, false, "SetVectorArray");
    }
    HRESULT SetMatrix(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXMATRIX* matrix) override {
        return setFloats(device, handle, reinterpret_cast<const float*>(matrix), 1, 16, false, "SetMatrix");
    }
    HRESULT SetMatrixArray(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXMATRIX* matrices,
                           UINT count) override {
        return setFloats(device, handle, reinterpret_cast<const float*>(matrices), count, 16, false, "SetMatrixArray");
    }
    HRESULT SetMatrixTranspose(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXMATRIX* matrix) override {
        return setFloats(device, handle, reinterpret_cast<const float*>(matrix), 1, 16, true, "SetMatrixTranspose");
    }
    HRESULT SetMatrixTransposeArray(IDirect3DDevice9* device, D3DXHANDLE handle, const D3DXMATRIX* matrices,
                                    UINT count) override {
        return setFloats(device, handle, reinterpret_cast<const float*>(matrices), count, 16, true,
                         "SetMatrixTransposeArray");
    }

private:
    // A handle is one of ours or a constant's name.
    const ShaderConstant* find(D3DXHANDLE handle) const {
        if (!handle) return nullptr;
        for (const auto& c : body_.constants)
            if (c.name.c_str() == handle) return &c;
        for (const auto& c : body_.constants)
            if (c.name == handle) return &c;
        return nullptr;
    }

    // Sends count elements of `stride` floats each (limit: how many floats
    // the caller gave, 0 = all) into the constant's registers.
    HRESULT setFloats(IDirect3DDevice9* device, D3DXHANDLE handle, const float* values, UINT count, UINT stride,
                      bool transpose, const char* call, UINT limit = 0) {
        const ShaderConstant* c = find(handle);
        if (!device || !values || !c) {
            std::string line = std::string("ID3DXConstantTable::") + call + " refused: ";
            line += !c ? "unknown constant" : "no device or no values";
            message(line.c_str());
            return D3DERR_INVALIDCALL;
        }
        if (c->registerSet == D3DXRS_SAMPLER) {
            message((std::string("ID3DXConstantTable::") + call + " refused: [" + c->name + "] is a sampler").c_str());
            return D3DERR_INVALIDCALL;
        }
        const UINT available = limit ? limit : count * stride;
        auto value = [&](UINT element, UINT row, UINT column) -> float {
            // Matrices come as 4 x 4 row-major; other values as `stride`
            // floats an element.
            UINT index;
            if (stride == 16)
                index = element * 16 + (transpose ? column * 4 + row : row * 4 + column);
            else
                index = element * stride + row * c->columns + column;
            return index < available ? values[index] : 0.0f;
        };
        const bool matrix = c->parameterClass == D3DXPC_MATRIX_ROWS || c->parameterClass == D3DXPC_MATRIX_COLUMNS;
        const UINT perElement = matrix ? (c->parameterClass == D3DXPC_MATRIX_ROWS ? c->rows : c->columns) : 1;
        std::vector<std::array<float, 4>> registers;
        for (UINT element = 0; element < count && registers.size() < c->registerCount; ++element)
            for (UINT r = 0; r < perElement && registers.size() < c->registerCount; ++r) {
                std::array<float, 4> reg{};
                for (UINT i = 0; i < 4; ++i) {
                    if (!matrix) {
                        if (i < std::max<UINT>(1, c->columns)) reg[i] = value(element, 0, i);
                    } else if (c->parameterClass == D3DXPC_MATRIX_ROWS) {
                        if (i < c->columns) reg[i] = value(element, r, i);
                    } else if (i < c->rows) {
                        reg[i] = value(element, i, r);
                    }
                }
                registers.push_back(reg);
            }
        if (registers.empty()) return S_OK;
        const UINT start = c->registerIndex, n = static_cast<UINT>(registers.size());
        if (c->registerSet == D3DXRS_FLOAT4)
            return body_.kind == 0 ? device->SetVertexShaderConstantF(start, registers[0].data(), n)
                                   : device->SetPixelShaderConstantF(start, registers[0].data(), n);
        if (c->registerSet == D3DXRS_INT4) {
            std::vector<INT> ints;
            for (const auto& reg : registers)
                for (float f : reg) ints.push_back(static_cast<INT>(f));
            return body_.kind == 0 ? device->SetVertexShaderConstantI(start, ints.data(), n)
                                   : device->SetPixelShaderConstantI(start, ints.data(), n);
        }
        std::vector<BOOL> bools;
        for (const auto& reg : registers) bools.push_back(reg[0] != 0.0f);
        return body_.kind == 0 ? device->SetVertexShaderConstantB(start, bools.data(), n)
                               : device->SetPixelShaderConstantB(start, bools.data(), n);
    }

    std::vector<std::uint8_t> code_;
    ShaderBody body_;
    std::string creator_;
};

}  // namespace

HRESULT D3DXCreateBuffer(DWORD size, ID3DXBuffer** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = new Buffer(size);
    return S_OK;
}

UINT D3DXGetShaderSize(const DWORD* function) { return platform::d3d9::shaderBodySize(function); }

HRESULT D3DXGetShaderConstantTable(const DWORD* function, ID3DXConstantTable** table) {
    if (!function || !table) return D3DERR_INVALIDCALL;
    *table = nullptr;
    const std::uint32_t size = platform::d3d9::shaderBodySize(function);
    ShaderBody body;
    std::string why = "not a shader body of ours";
    if (size == 0 || !platform::d3d9::readShaderBody(function, size, body, why)) {
        message(("D3DXGetShaderConstantTable refused: " + why).c_str());
        return D3DXERR_INVALIDDATA;
    }
    *table = new ConstantTable(reinterpret_cast<const std::uint8_t*>(function), size, std::move(body));
    return S_OK;
}
