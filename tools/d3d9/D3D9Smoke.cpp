// d3d9_smoke [--window] [folder]: draws the test scenes through our
// Direct3D 9 on its GL backend and writes each back buffer as
// <folder>/<scene>.png. Headless it renders offscreen through EGL; with
// --window it presents every scene in an SDL window as well (a display is
// needed, e.g. under xvfb-run).
#include "d3d9/TestScenes.h"
#include "platform/Window.h"
#include "platform/d3d9/D3DX9.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    bool windowed = false;
    std::string folder = ".";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--window") == 0)
            windowed = true;
        else
            folder = argv[i];
    }
    platform::d3d9::Environment environment;
    environment.backend = platform::d3d9::BackendKind::GL;
    environment.sink = [](const char* line) { std::fprintf(stderr, "%s\n", line); };
    platform::d3d9::setEnvironment(environment);

    std::unique_ptr<platform::Window> window;
    if (windowed) {
        window = platform::createWindow();
        if (!window->create("d3d9_smoke", 64, 64, 256, 256, false) || !window->deviceWindow()) {
            std::fprintf(stderr, "d3d9_smoke: no GL window on this host\n");
            return 1;
        }
    }
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!direct3d) return 1;
    int failures = 0;
    for (const auto& scene : d3d9_scenes::scenes()) {
        D3DPRESENT_PARAMETERS parameters = d3d9_scenes::sceneParameters();
        IDirect3DDevice9* device = nullptr;
        if (FAILED(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, window ? window->deviceWindow() : nullptr,
                                          D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters, &device))) {
            std::fprintf(stderr, "d3d9_smoke: no device\n");
            direct3d->Release();
            return 1;
        }
        const bool drawn = d3d9_scenes::drawScene(device, scene.name);
        device->Present(nullptr, nullptr, nullptr, nullptr);
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        ID3DXBuffer* png = nullptr;
        const std::string path = folder + "/" + scene.name + ".png";
        bool written = false;
        if (SUCCEEDED(D3DXSaveSurfaceToFileInMemory(&png, D3DXIFF_PNG, back, nullptr, nullptr))) {
            if (FILE* file = std::fopen(path.c_str(), "wb")) {
                written = std::fwrite(png->GetBufferPointer(), 1, png->GetBufferSize(), file) == png->GetBufferSize();
                written = std::fclose(file) == 0 && written;
            }
            png->Release();
        }
        back->Release();
        device->Release();
        std::printf("%-18s %s%s\n", scene.name, drawn ? "drawn" : "REFUSED", written ? "" : " (not written)");
        if (!drawn || !written) ++failures;
    }
    direct3d->Release();
    return failures == 0 ? 0 : 1;
}
