// One frame of the GL backend's work as plain data, for a benchmark that
// replays it in bare GL calls: per draw the program's shader texts, the
// uniform blocks and uniforms, the textures and samplers of each unit, the
// vertex and index data, the pipeline state and the framebuffer; the clears
// and copies between them, and the framebuffer that was presented. GL
// enums and names are kept as plain integers (names are the backend's, used
// only as keys). Recording is off unless recordGLFrame (D3D9.h) asks for it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform::d3d9 {

struct GLRecordedTexture {
    unsigned target = 0, internalFormat = 0;
    int levels = 0, width = 0, height = 0;
    int swizzle[4] = {};
    bool compressed = false;
    unsigned readFormat = 0, readType = 0;      // how images hold the texels (uncompressed)
    std::vector<std::vector<std::uint8_t>> images;  // per level, a cube's six faces in a row
};

struct GLRecordedAttachment {
    unsigned type = 0;  // GL_TEXTURE, GL_RENDERBUFFER or 0 (none)
    unsigned name = 0;  // texture (see textures) or renderbuffer
    int level = 0, layer = -1;
    unsigned internalFormat = 0;  // renderbuffer
    int width = 0, height = 0;    // renderbuffer
};

struct GLRecordedFramebuffer {
    GLRecordedAttachment color, depth;
    bool depthStencil = false;
};

// The pipeline state of a draw as GL holds it.
struct GLRecordedState {
    int viewport[4] = {};
    float depthRange[2] = {};
    int scissorTest = 0, scissor[4] = {};
    int depthTest = 0, depthFunc = 0, depthMask = 0;
    int cull = 0, cullFace = 0, polygonMode = 0;
    int blend = 0, blendSource = 0, blendDest = 0, blendSourceAlpha = 0, blendDestAlpha = 0, blendEquation = 0,
        blendEquationAlpha = 0;
    float blendColor[4] = {};
    int colorMask[4] = {};
    int stencilTest = 0, stencilFunc = 0, stencilRef = 0, stencilValueMask = 0, stencilFail = 0, stencilDepthFail = 0,
        stencilPass = 0, stencilWriteMask = 0;
    int clipDistances = 0;  // bit i: GL_CLIP_DISTANCE0 + i on
    int polygonOffset = 0;
    float offsetFactor = 0.0f, offsetUnits = 0.0f;
};

struct GLRecordedSampler {
    int wrap[3] = {}, minFilter = 0, magFilter = 0;
    float border[4] = {}, anisotropy = 1.0f, lodBias = 0.0f, minLod = 0.0f;
};

struct GLRecordedAttribute {
    int location = 0, size = 0;  // size GL_BGRA for a Direct3D colour
    unsigned type = 0;
    bool normalized = false;
    unsigned offset = 0;
};

struct GLRecordedDraw {
    unsigned vertexShader = 0, pixelShader = 0;  // keys of GLFrameRecord::shaders
    std::array<std::vector<std::uint8_t>, 4> uniformBlocks;  // bindings 0 to 3
    // The integer and boolean constants "vi", "vb", "pi", "pb" (empty when
    // the program has none).
    std::array<std::vector<int>, 4> uniforms;
    std::vector<unsigned> textures;  // per unit, 0: none
    std::vector<GLRecordedSampler> samplers;
    GLRecordedState state;
    unsigned framebuffer = 0;  // key of GLFrameRecord::framebuffers
    std::vector<GLRecordedAttribute> attributes;
    int stride = 0;
    unsigned mode = 0;
    int count = 0;
    // The vertices the draw reads, from the lowest it reads on; the indices
    // (empty: not indexed) count from that vertex.
    std::vector<std::uint8_t> vertices;
    std::vector<std::uint8_t> indices;
    unsigned indexType = 0;
};

struct GLRecordedClear {
    unsigned framebuffer = 0;
    int rect[4] = {};  // x, y, width, height
    bool color = false, depth = false, stencil = false;
    float rgba[4] = {};
    float z = 0.0f;
    int stencilValue = 0;
};

struct GLRecordedBlit {
    unsigned source = 0, dest = 0;
    int sourceRect[4] = {}, destRect[4] = {};  // x0, y0, x1, y1
    unsigned filter = 0;
};

struct GLFrameRecord {
    enum class Kind { Draw, Clear, Blit };
    std::vector<std::pair<Kind, std::size_t>> steps;  // in order, index into the lists below
    std::vector<GLRecordedDraw> draws;
    std::vector<GLRecordedClear> clears;
    std::vector<GLRecordedBlit> blits;
    std::map<unsigned, std::pair<unsigned, std::string>> shaders;  // name: stage, text
    std::map<unsigned, GLRecordedTexture> textures;
    std::map<unsigned, GLRecordedFramebuffer> framebuffers;
    unsigned presented = 0;  // the framebuffer of the back buffer at the present
    bool complete = false;   // the present ended the frame
};

}  // namespace platform::d3d9
