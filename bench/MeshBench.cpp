// Meshes beside plain loops of the same work (see PairedRun.h), on the null
// Direct3D 9 backend:
//   BM_SkinStream: skinning a 20,000-vertex stream with four weights a
//     vertex (format 5: position, normal, texture, blend data) from a
//     four-bone palette and putting it on the device, against a bare loop
//     of the same arithmetic over the same arrays followed by the same
//     upload.
//   BM_BuildGroup: building a 50-member instancing group of a 1,000-vertex
//     mesh (its vertex and index buffers made and filled), against a plain
//     loop that transforms and copies the same vertices and indices.
//   BM_LoadModel: reading a model of 20 elements with three levels of
//     detail each (300, 150 and 75 vertices) from its header and data
//     files, against copying the same bytes into memory; both sides end
//     with the files' bytes (the model written again).
// The first two check that the two sides end with the same vertices.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "app/GameCore.h"
#include "d3d9/TestScenes.h"
#include "foundation/DataStream.h"
#include "model/ModelWriter.h"
#include "model/Y3Mesh.h"
#include "model/Y3MeshStream.h"
#include "model/Y3Model.h"
#include "platform/d3d9/D3D9.h"
#include "render/RenderCore.h"

namespace {

// A null-backend device behind a render core, as the game's draws see it.
struct NullDevice {
    NullDevice() {
        platform::d3d9::setEnvironment({});
        direct3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p = d3d9_scenes::sceneParameters();
        if (direct3d)
            direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device);
        render = std::make_unique<RenderCore>();
        render->stateCache().setDevice(device);
        gameCore.render = render.get();
    }
    ~NullDevice() {
        gameCore.render = nullptr;
        render.reset();
        if (device) device->Release();
        if (direct3d) direct3d->Release();
    }
    IDirect3D9* direct3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    std::unique_ptr<RenderCore> render;
};

void loadMesh(Y3Mesh& mesh, const std::string& text) {
    model_tools::ModelDescription description;
    std::string error;
    if (!model_tools::parseModelDescription(text, description, error)) return;
    for (bool header : {true, false}) {
        std::string bytes = model_tools::meshPartBytes(*description.meshes.front().mesh, false, header);
        MemoryStream in(bytes.data(), std::int32_t(bytes.size()));
        mesh.read(in, false, header);
    }
}

std::string meshText(std::int32_t format, std::int32_t vertices, bool weighted) {
    std::string text = "mesh a b\nmeshstream " + std::to_string(format) + "\n";
    for (std::int32_t v = 0; v < vertices; ++v) {
        const float f = float(v % 97) * 0.01f;
        text += "vertex p " + std::to_string(f) + " " + std::to_string(1 - f) + " 0.5 n 0 0 1 t " + std::to_string(f) +
                " 0";
        text += weighted ? " i 0 1 2 3 w 0.4 0.3 0.2 0.1\n" : "\n";
    }
    text += "index";
    for (std::int32_t v = 0; v + 2 < vertices; v += 3) text += " " + std::to_string(v) + " " +
                                                              std::to_string(v + 1) + " " + std::to_string(v + 2);
    text += "\nsubset 0 0 " + std::to_string(vertices / 3 * 3) + " " + std::to_string(vertices) + "\n";
    if (weighted) text += "bone a 0\nbone b 1\nbone c 2\nbone d 3\n";
    return text;
}

MeshMatrix turned(float angle, float x) {
    MeshMatrix m;
    m.m[0][0] = std::cos(angle);
    m.m[0][1] = std::sin(angle);
    m.m[1][0] = -std::sin(angle);
    m.m[1][1] = std::cos(angle);
    m.m[3][0] = x;
    return m;
}

void transform(const float* p, const MeshMatrix& m, float* out, bool translate) {
    for (int c = 0; c < 3; ++c)
        out[c] = p[0] * m.m[0][c] + p[1] * m.m[1][c] + p[2] * m.m[2][c] + (translate ? m.m[3][c] : 0.0f);
}

bool closeFloats(const float* a, const float* b, int count) {
    for (int i = 0; i < count; ++i)
        if (std::fabs(a[i] - b[i]) > 1e-4f) return false;
    return true;
}

void BM_SkinStream(benchmark::State& state) {
    constexpr std::int32_t kVertices = 20000;
    NullDevice null;
    Y3Mesh mesh;
    loadMesh(mesh, meshText(5, kVertices, true));
    MeshAnimInstance* instance = mesh.createAnimInstance();
    if (!null.device || !instance || !instance->allocate()) return state.SkipWithError("no instance");
    const MeshMatrix palette[4] = {turned(0.1f, 1), turned(0.2f, 2), turned(0.3f, 3), turned(0.4f, 4)};
    const Y3MeshStream& source = *mesh.stream(0);
    Y3MeshStream& target = *instance->stream(0);
    const std::int32_t stride = source.getStride();  // 52: P N T I W
    std::vector<float> plain(std::size_t(kVertices) * 8);

    bench_pairs::runPaired(
        state, [&] { instance->skin(palette, 4); },
        [&] {
            const std::uint8_t* from = source.getData();
            for (std::int32_t v = 0; v < kVertices; ++v, from += stride) {
                const float* p = reinterpret_cast<const float*>(from);
                const float* n = p + 3;
                const std::uint8_t* index = from + 32;
                const float* w = reinterpret_cast<const float*>(from + 36);
                float* out = &plain[std::size_t(v) * 8];
                float position[3] = {}, normal[3] = {}, t[3];
                for (int k = 0; k < 4; ++k) {
                    transform(p, palette[index[k]], t, true);
                    for (int c = 0; c < 3; ++c) position[c] += w[k] * t[c];
                    if (k < 3) {
                        transform(n, palette[index[k]], t, false);
                        for (int c = 0; c < 3; ++c) normal[c] += w[k] * t[c];
                    }
                }
                std::memcpy(out, position, 12);
                std::memcpy(out + 3, normal, 12);
                std::memcpy(out + 6, p + 6, 8);
            }
            instance->upload();
        },
        kVertices);
    for (std::int32_t v = 0; v < kVertices; ++v)
        if (!closeFloats(reinterpret_cast<const float*>(target.getData() + std::size_t(v) * stride),
                         &plain[std::size_t(v) * 8], 8))
            return state.SkipWithError("the two sides differ");
    mesh.destroyAnimInstance(instance);
}
BENCHMARK(BM_SkinStream)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_BuildGroup(benchmark::State& state) {
    constexpr std::int32_t kVertices = 1000;
    constexpr std::int32_t kMembers = 50;
    NullDevice null;
    Y3Mesh mesh;
    loadMesh(mesh, meshText(4, kVertices, false));
    if (!null.device || !mesh.stream(0)) return state.SkipWithError("no mesh");
    std::vector<MeshInstanceMember> members(kMembers);
    MeshInstance group(&mesh, MeshInstanceKey());
    for (std::int32_t k = 0; k < kMembers; ++k) {
        members[std::size_t(k)].matrix = turned(0.01f * float(k), float(k));
        if (!group.push(&members[std::size_t(k)])) return state.SkipWithError("group refused a member");
    }
    const Y3MeshStream& source = *mesh.stream(0);
    const std::int32_t stride = source.getStride();  // 32: P N T
    const std::vector<std::uint32_t>& indices = mesh.indices();
    std::vector<float> plain(std::size_t(kVertices) * kMembers * 8);
    std::vector<std::uint32_t> plainIndices(indices.size() * kMembers);

    bench_pairs::runPaired(
        state,
        [&] {
            if (group.flags() & MeshInstance::kAllocated) group.deallocate();
            if (!group.allocate()) state.SkipWithError("group not built");
        },
        [&] {
            for (std::int32_t k = 0; k < kMembers; ++k) {
                const MeshMatrix& m = members[std::size_t(k)].matrix;
                const std::uint8_t* from = source.getData();
                for (std::int32_t v = 0; v < kVertices; ++v, from += stride) {
                    const float* p = reinterpret_cast<const float*>(from);
                    float* out = &plain[(std::size_t(k) * kVertices + std::size_t(v)) * 8];
                    transform(p, m, out, true);
                    transform(p + 3, m, out + 3, false);
                    std::memcpy(out + 6, p + 6, 8);
                }
                const std::uint32_t offset = std::uint32_t(k * kVertices);
                for (std::size_t i = 0; i < indices.size(); ++i)
                    plainIndices[std::size_t(k) * indices.size() + i] = indices[i] + offset;
            }
        },
        double(kVertices) * kMembers);
    const Y3MeshStream* built = group.stream(0);
    if (!built || !closeFloats(reinterpret_cast<const float*>(built->getData()), plain.data(), int(plain.size())) ||
        group.indices() != plainIndices)
        return state.SkipWithError("the two sides differ");
    group.deallocate();
    for (MeshInstanceMember& member : members) group.pop(&member);
}
BENCHMARK(BM_BuildGroup)->UseManualTime()->Unit(benchmark::kMicrosecond);

std::string lodText(std::int32_t vertices, float shift) {
    std::string text = "lod\nmeshstream 4\n";
    for (std::int32_t v = 0; v < vertices; ++v) {
        const float f = float(v % 97) * 0.01f + shift;
        text += "vertex p " + std::to_string(f) + " " + std::to_string(1 - f) + " 0.5 n 0 0 1 t " + std::to_string(f) +
                " 0\n";
    }
    text += "index";
    for (std::int32_t v = 0; v + 2 < vertices; v += 3)
        text += " " + std::to_string(v) + " " + std::to_string(v + 1) + " " + std::to_string(v + 2);
    text += "\nsubset 0 0 " + std::to_string(vertices / 3 * 3) + " " + std::to_string(vertices) + " diffuse stone\n";
    return text + "box 1 1 1\n";
}

void BM_LoadModel(benchmark::State& state) {
    constexpr std::int32_t kElements = 20;
    constexpr std::int32_t kVertices = 300;
    std::string text = "model bench\n";
    for (std::int32_t e = 0; e < kElements; ++e) {
        text += "element part" + std::to_string(e) + "\n";
        for (int lod = 0; lod < 3; ++lod) text += lodText(kVertices >> lod, float(e));
    }
    model_tools::ModelDescription description;
    std::string error;
    if (!model_tools::parseModelDescription(text, description, error) || description.models.empty())
        return state.SkipWithError("no model description");
    Y3Model& written = *description.models.front().model;
    std::string header = model_tools::modelFileBytes(written, "bench", true);
    std::string data = model_tools::modelFileBytes(written, "bench", false);
    std::unique_ptr<Y3Model> model;
    std::vector<char> headerCopy;
    std::vector<char> dataCopy;
    bool loaded = true;

    bench_pairs::runPaired(
        state,
        [&] {
            if (model) model->release();
            MemoryStream headerIn(header.data(), std::int32_t(header.size()));
            MemoryStream dataIn(data.data(), std::int32_t(data.size()));
            loaded = Y3Model::readFromStream(headerIn, model, "bench") == std::int32_t(header.size()) &&
                     model->read(dataIn, false, "bench") == std::int32_t(data.size());
        },
        [&] {
            headerCopy.assign(header.begin(), header.end());
            dataCopy.assign(data.begin(), data.end());
        },
        double(header.size() + data.size()));
    if (!loaded || !model || model_tools::modelFileBytes(*model, "bench", true) != header ||
        model_tools::modelFileBytes(*model, "bench", false) != data ||
        std::string(headerCopy.begin(), headerCopy.end()) != header ||
        std::string(dataCopy.begin(), dataCopy.end()) != data)
        return state.SkipWithError("the two sides differ");
    model->release();
}
BENCHMARK(BM_LoadModel)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
