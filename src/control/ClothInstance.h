// A physics cloth instance made for the mesh of a model element. The cloth
// code registers it with its mesh (Y3Mesh::pushCloth) and removes it again
// through releaseBuffers(). It owns its own vertex and index buffers; the
// simulation would fill them, and nothing in the game does, so a cloth
// instance draws nothing until one does.
#pragma once

#include <cstdint>

#include "platform/d3d9/D3D9.h"

class Y3Mesh;
struct ModelElement;

class ClothInstance {
public:
    explicit ClothInstance(Y3Mesh* mesh = nullptr) : mesh_(mesh) {}
    ~ClothInstance() { releaseBuffers(); }
    ClothInstance(const ClothInstance&) = delete;
    ClothInstance& operator=(const ClothInstance&) = delete;

    Y3Mesh* mesh() const { return mesh_; }

    // Draws the cloth with the element's shader pass and render states: one
    // indexed triangle list of every vertex and indexCount / 3 triangles.
    // False, drawing nothing, when hidden, when a buffer is missing or when
    // no shader program is current; else whether the device took the draw.
    bool draw(ModelElement& element);
    // Unlocks and releases both buffers and leaves the mesh's list. True.
    bool releaseBuffers();

    bool hidden = false;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    bool vertexLocked = false;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    bool indexLocked = false;
    std::uint32_t vertexCount = 0;
    std::uint32_t indexCount = 0;
    // Bytes a vertex.
    std::uint32_t stride = 32;

private:
    Y3Mesh* mesh_;
};
