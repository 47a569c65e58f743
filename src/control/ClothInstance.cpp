#include "control/ClothInstance.h"

#include "app/GameCore.h"
#include "model/Model.h"
#include "model/Y3Mesh.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"

bool ClothInstance::draw(ModelElement& element) {
    if (hidden || !vertexBuffer || !indexBuffer || !gameCore.render) return false;
    ShaderCore& shaders = gameCore.render->shaders();
    if (!shaders.currentVertexProgram() && !shaders.currentPixelProgram()) return false;
    Model::prepareElementShaderPass(element, -1);
    DXStateCache& cache = gameCore.render->stateCache();
    cache.apply();
    IDirect3DDevice9* device = cache.device();
    if (!device) return false;
    device->SetStreamSource(0, vertexBuffer, 0, stride);
    device->SetIndices(indexBuffer);
    return device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, indexCount / 3) >= 0;
}

bool ClothInstance::releaseBuffers() {
    if (vertexBuffer) {
        if (vertexLocked) vertexBuffer->Unlock();
        vertexBuffer->Release();
    }
    if (indexBuffer) {
        if (indexLocked) indexBuffer->Unlock();
        indexBuffer->Release();
    }
    vertexBuffer = nullptr;
    indexBuffer = nullptr;
    vertexLocked = false;
    indexLocked = false;
    if (mesh_) mesh_->removeClothInstance(this);
    return true;
}
