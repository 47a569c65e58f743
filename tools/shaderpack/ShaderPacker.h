// The shader packer: writes the compiled-shader package "shaders.0050" that
// the shader core loads. For every program the engine loads it writes a
// body in our format (platform/d3d9/ShaderBody.h) under the program's key
// (profile + name): the program's source id, its defines (the global
// defines, then one named after its entry point, which selects the program
// in the GLSL text) and its constant table, read from the carried GLSL
// source as it stands under those defines.
//
// Constants in a source (see render/shaders/glsl/): a #define of a
// register expression whose comment names the type and the first register,
//   #define mWorld mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0
//   #define GaussianFilter(i) pc[2 + (i)]            // float4[13] : c2
// (types float, float2, float3, float4, float4x4; vertex programs use vc,
// pixel programs pc), and samplers, whose register is their stage:
//   layout(binding = 0) uniform sampler2D sDiffuseMap;
// The conditional directives #if, #ifdef, #ifndef, #elif, #else and #endif
// are followed with the program's defines (integer expressions with
// defined(), ! && || == != < > <= >= + - * / and parentheses).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/d3d9/ShaderBody.h"

struct PackedShader {
    std::string key;  // profile followed by the program name
    platform::d3d9::ShaderBody body;
};

// The constants of a source text under a list of defines; false with error
// ("f_20_hdr.fx:42: ...") for a damaged text or annotation.
bool collectShaderConstants(const std::string& fileName, const std::string& text,
                            const std::vector<std::pair<std::string, std::string>>& defines, bool vertex,
                            std::vector<platform::d3d9::ShaderConstant>& constants, std::string& error);

class MultyShader;

// Walks every permutation of the five families as the shader core loads
// them, with the family's values set; stops when visit answers false.
bool forEachFamilyPermutation(const std::function<bool(MultyShader&, bool pixel, const char* name)>& visit);

// The bodies of every program the shader core loads (the standalone
// programs and every family permutation), sorted by key.
bool buildShaderBodies(std::vector<PackedShader>& shaders, std::string& error);

// Writes the package file (a packed container of the bodies).
bool writeShaderPackage(const std::string& path, const std::vector<PackedShader>& shaders, std::string& error);

// Builds every body and writes the package file: the whole packer run.
bool packAllShaders(const std::string& path, std::string& error);
