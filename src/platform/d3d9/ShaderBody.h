// Compiled shader bodies in our own format: what CreateVertexShader,
// CreatePixelShader and D3DXGetShaderConstantTable read, and what the shader
// packer writes into the compiled-shader container.
//
// Layout (little-endian, fields one by one; the format is stored data):
//   u32 magic 0x42533344 ("D3SB"), u32 total byte size (header included),
//   u16 version (1), u8 kind (0 vertex, 1 pixel), u8 reserved 0,
//   string profile ("vs_2_0" ...), string entry point, i32 source id,
//   u16 define count, each: string name, string value,
//   u16 constant count, each: string name, u8 register set, u16 register
//   index, u16 register count, u8 class, u8 type, u8 rows, u8 columns,
//   u16 elements.
// A string is a u16 byte count and the bytes (no terminator).
// A body that is not ours (real Direct3D bytecode, a damaged one) is refused.
#pragma once

#include "platform/d3d9/D3D9Types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::d3d9 {

constexpr std::uint32_t kShaderBodyMagic = 0x42533344u;
constexpr std::uint16_t kShaderBodyVersion = 1;

struct ShaderConstant {
    std::string name;
    std::uint8_t registerSet = 2;  // D3DXRS_FLOAT4
    std::uint16_t registerIndex = 0;
    std::uint16_t registerCount = 1;
    std::uint8_t parameterClass = 1;  // D3DXPC_VECTOR
    std::uint8_t parameterType = 3;   // D3DXPT_FLOAT
    std::uint8_t rows = 1;
    std::uint8_t columns = 4;
    std::uint16_t elements = 1;
};

struct ShaderBody {
    std::uint8_t kind = 0;  // 0 vertex, 1 pixel
    std::string profile;
    std::string entryPoint;
    std::int32_t sourceId = -1;
    std::vector<std::pair<std::string, std::string>> defines;
    std::vector<ShaderConstant> constants;
};

std::vector<std::uint8_t> writeShaderBody(const ShaderBody& body);

// The total size a body claims, or 0 when data does not start like one of
// ours. Reads 8 bytes.
std::uint32_t shaderBodySize(const void* data);
// Parses a body of at most size bytes; false with why set when it is not
// ours or damaged. Does not read past data + size.
bool readShaderBody(const void* data, std::size_t size, ShaderBody& body, std::string& why);

}  // namespace platform::d3d9
