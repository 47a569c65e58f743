// Model elements on the GL backend: one frame of 200 elements of a prop
// written by the model writer (a hexagon of six triangles under one
// textured material of kind 3), each drawn through ModelElement::render and
// the element paths (the fixed-function kind-3 path, its state cache and the
// mesh's subset draw), against bare OpenGL calls drawing the same triangles
// with the same texture, colour rule (texture x factor x 2) and placements,
// in alternating blocks (PairedRun.h). Each frame is read back; both sides
// must read back the same picture (each channel within 2), checked before
// the timing and after it. The run ends with the median ratio.
#include "GLBench.h"
#include "PairedRun.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "d3d9/TestScenes.h"
#include "foundation/DataStream.h"
#include "model/Model.h"
#include "model/ModelElement.h"
#include "model/ModelWriter.h"
#include "model/Y3Mesh.h"
#include "platform/d3d9/D3D9.h"
#include "platform/d3d9/GLContext.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "textures/DdsWriter.h"
#include "textures/MemoryTextureEnvironment.h"

namespace {

constexpr int kElements = 200;
constexpr int kColumns = 20;
constexpr UINT kSize = 256;
constexpr float kRadius = 0.05f;
// The texture's one colour (B, G, R) and what the kind-3 path makes of it.
constexpr std::uint8_t kPaint[3] = {30, 60, 100};

// The prop: one element whose three levels draw a hexagon (format 4:
// position, normal, texture), clockwise on screen.
std::string propText() {
    std::string lod = "lod\nmeshstream 4\nvertex p 0 0 0.5 n 0 0 -1 t 0.5 0.5\n";
    for (int k = 0; k < 6; ++k) {
        const float angle = (90.0f - 60.0f * float(k)) * 3.14159265f / 180.0f;
        lod += "vertex p " + std::to_string(kRadius * std::cos(angle)) + " " + std::to_string(kRadius * std::sin(angle)) +
               " 0.5 n 0 0 -1 t 0.5 0.5\n";
    }
    lod += "index";
    for (int k = 0; k < 6; ++k) lod += " 0 " + std::to_string(1 + k) + " " + std::to_string(1 + (k + 1) % 6);
    lod += "\nsubset 0 0 18 7 kind 3 diffuse paint\nbox 0.05 0.05 0.01 at 0 0 0.5\n";
    return "model prop\nelement hex\n" + lod + lod + lod;
}

D3DMATRIX placement(int i) {
    D3DMATRIX m{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    m.m[3][0] = -0.95f + 0.1f * float(i % kColumns);
    m.m[3][1] = 0.9f - 0.2f * float(i / kColumns);
    return m;
}

std::vector<std::uint8_t> paintDds() {
    texture_tools::DdsImage image;
    image.width = image.height = 8;
    std::vector<std::uint8_t> texels;
    for (int i = 0; i < 64; ++i) texels.insert(texels.end(), {kPaint[0], kPaint[1], kPaint[2], 255});
    image.blocks.push_back(texels);
    return texture_tools::writeDds(image);
}

double colourSum(const std::vector<std::uint8_t>& bgra) {
    double sum = 0;
    for (std::size_t i = 0; i + 3 < bgra.size(); i += 4) sum += bgra[i] + bgra[i + 1] + bgra[i + 2];
    return sum;
}

// The prop's mesh as the model resource reads it: both stored parts.
bool loadProp(Y3Mesh& mesh, const std::string& text) {
    model_tools::ModelDescription description;
    std::string error;
    if (!model_tools::parseModelDescription(text, description, error) || description.models.empty()) return false;
    Y3Model& model = *description.models.front().model;
    auto* prop = dynamic_cast<Y3ModelDefault*>(&model);
    bool ok = prop && !prop->elements.empty();
    if (ok)
        for (bool header : {true, false}) {
            std::string bytes = model_tools::meshPartBytes(prop->elements.front()->lods[0], false, header);
            MemoryStream in(bytes.data(), std::int32_t(bytes.size()));
            ok = ok && mesh.read(in, false, header) > 0;
        }
    model.release();
    return ok;
}

// The frame through the element paths of our Direct3D 9 on the GL backend.
class ElementScene {
public:
    ElementScene() {
        platform::d3d9::Environment environment;
        environment.backend = platform::d3d9::BackendKind::GL;
        platform::d3d9::setEnvironment(environment);
        direct3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p = d3d9_scenes::sceneParameters();
        p.BackBufferWidth = p.BackBufferHeight = kSize;
        if (!direct3d_ || FAILED(direct3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr,
                                                         D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device_)))
            return;
        textures_.deviceInUse = device_;
        textures_.setup.details = 0;
        textures_.files["paint.dds"] = paintDds();
        setTextureEnvironment(&textures_);
        gameCore.video = &video_;
        render_ = std::make_unique<RenderCore>();
        gameCore.render = render_.get();
        DXStateCache& cache = render_->stateCache();
        cache.setDevice(device_);
        cache.initialize(false);
        if (!cache.setupDeviceDefaults(false) || !render_->streamDeclarations().allocate(device_)) return;
        render_->shaders().attach(device_, &cache);
        render_->textures.allocated = true;
        const D3DMATRIX identity{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
        cache.setTransform(DXStateCache::TransformView, identity);
        cache.setTransform(DXStateCache::TransformProjection, identity);
        if (!loadProp(mesh_, propText())) return;
        elements_.resize(kElements);
        for (int i = 0; i < kElements; ++i) {
            ModelElement& element = elements_[std::size_t(i)];
            element.world = placement(i);
            ModelElementLod& level = element.lods.emplace_back();
            level.setMesh(mesh_);
            for (auto& material : level.materials)
                if (!material->allocate()) return;
        }
        device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back_);
    }
    ~ElementScene() {
        for (ModelElement& element : elements_)
            for (ModelElementLod& level : element.lods)
                for (auto& material : level.materials) material->release();
        elements_.clear();
        mesh_.release(3, true);
        if (back_) back_->Release();
        if (render_) {
            render_->textures.releaseAll();
            render_->shaders().release();
        }
        gameCore.render = nullptr;
        render_.reset();
        gameCore.video = nullptr;
        setTextureEnvironment(nullptr);
        if (device_) device_->Release();
        if (direct3d_) direct3d_->Release();
        platform::d3d9::setEnvironment({});
    }
    bool ready() const { return back_ != nullptr; }

    // True when every element drew.
    bool frame(std::vector<std::uint8_t>& pixels) {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device_->BeginScene();
        bool drawn = true;
        for (ModelElement& element : elements_) drawn = element.render() && drawn;
        device_->EndScene();
        device_->Present(nullptr, nullptr, nullptr, nullptr);
        D3DSURFACE_DESC desc{};
        platform::d3d9::readSurface(back_, pixels, desc);
        benchmark::DoNotOptimize(pixels.data());
        return drawn;
    }
    const Y3Mesh& mesh() const { return mesh_; }

private:
    IDirect3D9* direct3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DSurface9* back_ = nullptr;
    texture_tools::MemoryTextureEnvironment textures_;
    VideoCore video_;
    std::unique_ptr<RenderCore> render_;
    Y3Mesh mesh_;
    std::vector<ModelElement> elements_;
};

// The same triangles through bare OpenGL calls, in a context of their own:
// the prop's vertices and indices in buffers, one draw per element with its
// world matrix.
class BareScene {
public:
    explicit BareScene(const Y3Mesh& mesh) {
        if (!context_.open(nullptr, why)) return;
        context_.makeCurrent();
        glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
        target_.create(kSize);
        program_ = glCreateProgram();
        vs_ = bench_gl::compile(GL_VERTEX_SHADER, R"(#version 450 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec2 uv;
uniform mat4 world;
out vec2 vUv;
// Direct3D's pixel centres and top-left rule, as the substitute keeps them.
void main() {
    gl_Position = world * vec4(position, 1.0);
    gl_Position.xy += vec2(1.0 / 256.0, -(1.0 - 1.0 / 32.0) / 256.0) * gl_Position.w;
    vUv = uv;
})");
        fs_ = bench_gl::compile(GL_FRAGMENT_SHADER, R"(#version 450 core
layout(binding = 0) uniform sampler2D image;
in vec2 vUv;
out vec4 fragment;
void main() { fragment = min(texture(image, vUv) * 2.0, vec4(1.0)); })");
        glAttachShader(program_, vs_);
        glAttachShader(program_, fs_);
        glLinkProgram(program_);
        world_ = glGetUniformLocation(program_, "world");
        const Y3MeshStream* stream = const_cast<Y3Mesh&>(mesh).stream(0);
        const std::vector<std::uint32_t>& indices = mesh.indices();
        if (!stream) return;
        const GLsizei stride = stream->getStride();  // 32: P N T
        glCreateBuffers(1, &vertices_);
        glNamedBufferData(vertices_, GLsizeiptr(stride) * stream->getCount(), stream->getData(), GL_STATIC_DRAW);
        glCreateBuffers(1, &indices_);
        glNamedBufferData(indices_, GLsizeiptr(indices.size() * 4), indices.data(), GL_STATIC_DRAW);
        indexCount_ = GLsizei(indices.size());
        glCreateVertexArrays(1, &vertexArray_);
        for (GLuint l : {0u, 1u}) {
            glEnableVertexArrayAttrib(vertexArray_, l);
            glVertexArrayAttribBinding(vertexArray_, l, 0);
        }
        glVertexArrayAttribFormat(vertexArray_, 0, 3, GL_FLOAT, GL_FALSE, 0);
        glVertexArrayAttribFormat(vertexArray_, 1, 2, GL_FLOAT, GL_FALSE, 24);
        glVertexArrayVertexBuffer(vertexArray_, 0, vertices_, 0, stride);
        glVertexArrayElementBuffer(vertexArray_, indices_);
        glCreateTextures(GL_TEXTURE_2D, 1, &texture_);
        glTextureStorage2D(texture_, 1, GL_RGBA8, 8, 8);
        std::vector<std::uint8_t> texels;
        for (int i = 0; i < 64; ++i) texels.insert(texels.end(), {kPaint[0], kPaint[1], kPaint[2], 255});
        glTextureSubImage2D(texture_, 0, 0, 0, 8, 8, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
        glTextureParameteri(texture_, GL_TEXTURE_MAX_LEVEL, 0);
        ready_ = true;
    }
    ~BareScene() {
        if (!ready_) return;
        context_.makeCurrent();
        glDeleteTextures(1, &texture_);
        glDeleteVertexArrays(1, &vertexArray_);
        glDeleteBuffers(1, &vertices_);
        glDeleteBuffers(1, &indices_);
        glDeleteProgram(program_);
        glDeleteShader(vs_);
        glDeleteShader(fs_);
        target_.destroy();
    }
    bool ready() const { return ready_; }

    void frame(std::vector<std::uint8_t>& pixels) {
        context_.makeCurrent();
        glBindFramebuffer(GL_FRAMEBUFFER, target_.framebuffer);
        glViewport(0, 0, kSize, kSize);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glFrontFace(GL_CW);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        glUseProgram(program_);
        glBindVertexArray(vertexArray_);
        glBindTextureUnit(0, texture_);
        const float black[4] = {0, 0, 0, 1};
        glClearNamedFramebufferfv(target_.framebuffer, GL_COLOR, 0, black);
        glClearNamedFramebufferfi(target_.framebuffer, GL_DEPTH_STENCIL, 0, 1.0f, 0);
        for (int i = 0; i < kElements; ++i) {
            const D3DMATRIX m = placement(i);
            glUniformMatrix4fv(world_, 1, GL_FALSE, &m.m[0][0]);
            glDrawElements(GL_TRIANGLES, indexCount_, GL_UNSIGNED_INT, nullptr);
        }
        pixels.resize(std::size_t(kSize) * kSize * 4);
        glReadPixels(0, 0, kSize, kSize, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
        benchmark::DoNotOptimize(pixels.data());
    }

    std::string why;

private:
    platform::d3d9::GLContext context_;
    bool ready_ = false;
    bench_gl::OffscreenTarget target_;
    GLuint program_ = 0, vs_ = 0, fs_ = 0, vertices_ = 0, indices_ = 0,
           vertexArray_ = 0, texture_ = 0;
    GLsizei indexCount_ = 0;
    GLint world_ = -1;
};

void elementsVsBare(benchmark::State& state) {
    ElementScene elements;
    if (!elements.ready()) return state.SkipWithError("no GL device or prop");
    BareScene bare(elements.mesh());
    if (!bare.ready()) return state.SkipWithError(bare.why.empty() ? "no bare GL scene" : bare.why.c_str());
    std::vector<std::uint8_t> mine;
    std::vector<std::uint8_t> base;
    if (!elements.frame(mine)) return state.SkipWithError("an element did not draw");
    bare.frame(base);
    if (bench_gl::differingPixels(mine, base) != 0)
        return state.SkipWithError("the element paths and bare GL drew different pictures");
    bool drawn = true;
    bench_pairs::runPaired(state, [&] { drawn = elements.frame(mine) && drawn; }, [&] { bare.frame(base); },
                           double(kElements));
    const std::size_t differing = bench_gl::differingPixels(mine, base);
    state.counters["colour_sum"] = colourSum(mine);
    state.counters["differing_pixels"] = double(differing);
    if (!drawn || differing != 0) state.SkipWithError("the element paths and bare GL drew different pictures");
}
BENCHMARK(elementsVsBare)->Name("Model/elements_vs_bare_gl")->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    bench_pairs::fixAllocator();
    benchmark::Initialize(&argc, argv);
    bench_gl::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ratio = reporter.ratio("Model/elements_vs_bare_gl/manual_time");
    if (ratio > 0) std::printf("element paths / bare GL, %d elements: %.2f\n", kElements, ratio);
    benchmark::Shutdown();
    return 0;
}
