// A physics cloth instance made for the mesh of a model element. The cloth
// code registers it with its mesh (Y3Mesh::pushCloth) and removes it again
// (Y3Mesh::removeClothInstance); the mesh only keeps the reference, and the
// cloth releases its own buffers.
#pragma once

class Y3Mesh;

class ClothInstance {
public:
    explicit ClothInstance(Y3Mesh* mesh = nullptr) : mesh_(mesh) {}
    Y3Mesh* mesh() const { return mesh_; }

private:
    Y3Mesh* mesh_;
};
