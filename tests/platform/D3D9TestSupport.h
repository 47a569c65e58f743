// A null-backend Direct3D 9 for tests: installs an environment whose
// message sink collects the lines, and creates a windowed device.
#pragma once

#include "d3d9/TestScenes.h"
#include "platform/d3d9/AdapterProfile.h"
#include "platform/d3d9/D3D9.h"
#include "platform/d3d9/ShaderBody.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace d3d9_test {

class D3D9Test : public ::testing::Test {
protected:
    void SetUp() override {
        environment.sink = [this](const char* line) { lines.emplace_back(line); };
        environment.faults = faults;
        platform::d3d9::setEnvironment(environment);
    }

    void TearDown() override {
        if (device) device->Release();
        if (direct3d) direct3d->Release();
        platform::d3d9::setEnvironment({});
    }

    // Re-installs the environment after a test changed it.
    void install() { platform::d3d9::setEnvironment(environment); }

    // The scenes' windowed X8R8G8B8 device with a D24S8 depth buffer, in
    // another size.
    static D3DPRESENT_PARAMETERS windowed(UINT width = 64, UINT height = 32) {
        D3DPRESENT_PARAMETERS p = d3d9_scenes::sceneParameters();
        p.BackBufferWidth = width;
        p.BackBufferHeight = height;
        return p;
    }

    IDirect3DDevice9* createDevice(D3DPRESENT_PARAMETERS p = windowed()) {
        if (!direct3d) direct3d = Direct3DCreate9(D3D_SDK_VERSION);
        IDirect3DDevice9* created = nullptr;
        EXPECT_EQ(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &created),
                  S_OK);
        return created;
    }

    void open() { device = createDevice(); }

    // A vertex shader of the device from a small body (null backend: the
    // body's form is all it checks); the caller releases it.
    IDirect3DVertexShader9* createTestVertexShader() {
        platform::d3d9::ShaderBody body;
        body.profile = "vs_2_0";
        body.entryPoint = "VS_OPS1";
        body.sourceId = 201;
        const auto code = platform::d3d9::writeShaderBody(body);
        IDirect3DVertexShader9* shader = nullptr;
        EXPECT_EQ(device->CreateVertexShader(reinterpret_cast<const DWORD*>(code.data()), &shader), S_OK);
        return shader;
    }

    // True when a collected line holds text.
    bool logged(const std::string& text) const {
        for (const auto& line : lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

    std::string allLines() const {
        std::string all;
        for (const auto& line : lines) all += line + "\n";
        return all;
    }

    std::shared_ptr<platform::d3d9::FaultPlan> faults = std::make_shared<platform::d3d9::FaultPlan>();
    platform::d3d9::Environment environment;
    std::vector<std::string> lines;
    IDirect3D9* direct3d = nullptr;
    IDirect3DDevice9* device = nullptr;
};

}  // namespace d3d9_test
