#include "foundation/Intersection.h"

#include <cmath>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"

namespace {

float dot3(const float* a, const float* b) { return vector3Dot(a, b); }
float length3(const float* v) { return vector3Length(v); }
void normalize3(float* v) { vector3Normalize(v); }

const float* row(const Matrix34& m, int i) { return m.m + i * 3; }
float* row(Matrix34& m, int i) { return m.m + i * 3; }

void difference(const float* a, const float* b, float* out) {
    for (int i = 0; i < 3; ++i) out[i] = a[i] - b[i];
}

// Corner signs along axes 0, 1, 2, in the stored corner order.
constexpr float kCornerSigns[8][3] = {{-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}, {1, -1, -1},
                                      {-1, -1, 1},  {-1, 1, 1},  {1, 1, 1},  {1, -1, 1}};

// ---- The five tests

bool sphereSphere(const SphereVolume& a, const SphereVolume& b) {
    float d[3];
    difference(row(a.matrix, 3), row(b.matrix, 3), d);
    const float distanceSquared = dot3(d, d);
    return distanceSquared <= 2.0f * a.radius * b.radius + a.radiusSquared + b.radiusSquared;
}

bool sphereBox(const SphereVolume& sphere, const BoxVolume& box) {
    float d[3];
    difference(row(sphere.matrix, 3), row(box.matrix, 3), d);
    int outside = 0;
    float single = 0.0f;
    float sumSquares = 0.0f;
    for (int i = 0; i < 3; ++i) {
        const float o = std::fabs(dot3(d, row(box.matrix, i))) - box.extents[i];
        if (o > 0.0f) {
            ++outside;
            single = o;
            sumSquares += o * o;
        }
    }
    if (outside == 0) return true;
    if (outside == 1) return single <= sphere.radius;
    return sumSquares <= sphere.radiusSquared;
}

bool boxBox(const BoxVolume* a, const BoxVolume* b) {
    if (dot3(a->extents, a->extents) < dot3(b->extents, b->extents)) std::swap(a, b);
    const float* ea = a->extents;
    const float* eb = b->extents;
    float centre[3];
    difference(row(b->matrix, 3), row(a->matrix, 3), centre);
    float t[3], r[3][3], absR[3][3];
    for (int i = 0; i < 3; ++i) {
        t[i] = dot3(centre, row(a->matrix, i));
        for (int j = 0; j < 3; ++j) {
            r[i][j] = dot3(row(a->matrix, i), row(b->matrix, j));
            absR[i][j] = std::fabs(r[i][j]);
        }
    }
    for (int i = 0; i < 3; ++i) {
        const float rb = eb[0] * absR[i][0] + eb[1] * absR[i][1] + eb[2] * absR[i][2];
        if (std::fabs(t[i]) > ea[i] + rb) return false;
    }
    for (int j = 0; j < 3; ++j) {
        const float ra = ea[0] * absR[0][j] + ea[1] * absR[1][j] + ea[2] * absR[2][j];
        const float distance = std::fabs(t[0] * r[0][j] + t[1] * r[1][j] + t[2] * r[2][j]);
        if (distance > ra + eb[j]) return false;
    }
    for (int i = 0; i < 3; ++i) {
        const int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
        for (int j = 0; j < 3; ++j) {
            const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            const float ra = ea[i1] * absR[i2][j] + ea[i2] * absR[i1][j];
            const float rb = eb[j1] * absR[i][j2] + eb[j2] * absR[i][j1];
            const float distance = std::fabs(t[i2] * r[i1][j] - t[i1] * r[i2][j]);
            if (distance > ra + rb) return false;
        }
    }
    return true;
}

bool sphereFrustum(const SphereVolume& sphere, const IntersectionFrustum& frustum) {
    float d[3];
    difference(row(sphere.matrix, 3), row(frustum.pose, 3), d);
    const float back = dot3(d, frustum.worldNormals[FrustumBack]);
    if (back > sphere.radius) return false;
    if (-back > frustum.farDistance) return false;
    for (int side = FrustumRight; side <= FrustumBottom; ++side)
        if (dot3(d, frustum.worldNormals[side]) > sphere.radius) return false;
    return true;
}

bool boxCornersFrustum(const BoxVolume& box, const IntersectionFrustum& frustum) {
    static constexpr int kOrder[4] = {FrustumTop, FrustumBottom, FrustumRight, FrustumLeft};
    int firstCode = -1;
    bool shared = true;
    for (const float* corner : box.corners) {
        float d[3];
        difference(corner, row(frustum.pose, 3), d);
        int code = 0;
        for (int side : kOrder) {
            if (dot3(d, frustum.worldNormals[side]) > 0.0f) {
                code = side;
                break;
            }
        }
        if (code == 0) return true;
        if (firstCode < 0) firstCode = code;
        else if (code != firstCode) shared = false;
    }
    return !shared;
}

// ---- Records

std::int32_t writeMatrix(DataStream& s, const Matrix34& m, std::int32_t& total) {
    for (float v : m.m)
        if (!addField(total, writeF32(s, v))) return total;
    return total;
}

std::int32_t readMatrix(DataStream& s, Matrix34& m, std::int32_t& total) {
    for (float& v : m.m)
        if (!addField(total, readF32(s, v))) return total;
    return total;
}

void finishSphere(SphereVolume& sphere) {
    sphere.radiusSquared = sphere.radius * sphere.radius;
    matrix34Inverse(sphere.matrix, sphere.inverse);
}

}  // namespace

// ---- Set-up

void orientedBoxFromMatrix(const float* halfExtents, BoxVolume& box, const Matrix34& matrix) {
    box.matrix = matrix;
    for (int i = 0; i < 3; ++i) {
        box.extents[i] = halfExtents[i] * length3(row(matrix, i));
        normalize3(row(box.matrix, i));
    }
    for (int c = 0; c < 8; ++c)
        for (int k = 0; k < 3; ++k) {
            float value = row(box.matrix, 3)[k];
            for (int axis = 0; axis < 3; ++axis)
                value += kCornerSigns[c][axis] * box.extents[axis] * row(box.matrix, axis)[k];
            box.corners[c][k] = value;
        }
}

void boundingSphereFromMatrix(SphereVolume& sphere, const Matrix34& matrix, float radius) {
    sphere.matrix = matrix;
    float largest = 0.0f;
    for (int i = 0; i < 3; ++i) largest = std::max(largest, length3(row(matrix, i)));
    sphere.radius = radius * largest;
    for (int i = 0; i < 3; ++i) normalize3(row(sphere.matrix, i));
    finishSphere(sphere);
}

void boundingSphereAtPoint(SphereVolume& sphere, const float* point, float radius) {
    Matrix34 matrix = matrix34Identity();
    for (int k = 0; k < 3; ++k) row(matrix, 3)[k] = point[k];
    boundingSphereFromMatrix(sphere, matrix, radius);
}

std::unique_ptr<Intersection> Intersection::create(std::uint32_t kind) {
    switch (kind) {
        case IntersectionKindBox: return std::make_unique<IntersectionOBBox>();
        case IntersectionKindSphere: return std::make_unique<IntersectionSphere>();
        case IntersectionKindFrustum: return std::make_unique<IntersectionFrustum>();
        case IntersectionKindNone: return nullptr;
        default: engineLog().error("Unsupported intersection type"); return nullptr;
    }
}

// ---- Box

bool IntersectionOBBox::intersects(const Intersection& other) const {
    switch (other.kind()) {
        case IntersectionKindBox: {
            const auto& box2 = static_cast<const IntersectionOBBox&>(other);
            return sphereSphere(sphere, box2.sphere) && boxBox(&box, &box2.box);
        }
        case IntersectionKindSphere: {
            const auto& sphere2 = static_cast<const IntersectionSphere&>(other);
            return sphereSphere(sphere, sphere2.sphere) && sphereBox(sphere2.sphere, box);
        }
        case IntersectionKindFrustum:
            return sphereFrustum(sphere, static_cast<const IntersectionFrustum&>(other));
        default: return false;
    }
}

void IntersectionOBBox::setTransform(const Matrix34& matrix) {
    const float extents[3] = {box.extents[0], box.extents[1], box.extents[2]};
    setFromExtents(matrix, extents);
}

void IntersectionOBBox::setFromSize(const Matrix34& matrix, float size) {
    const float extents[3] = {size, size, size};
    orientedBoxFromMatrix(extents, box, matrix);
    boundingSphereFromMatrix(sphere, matrix, size);
}

void IntersectionOBBox::setFromExtents(const Matrix34& matrix, const float* halfExtents) {
    const float radius = length3(halfExtents);
    orientedBoxFromMatrix(halfExtents, box, matrix);
    boundingSphereFromMatrix(sphere, matrix, radius);
}

std::int32_t IntersectionOBBox::write(DataStream& s) const {
    std::int32_t total = 0;
    if (writeMatrix(s, box.matrix, total) < 0) return total;
    if (writeFloats(s, box.extents, 3, total) < 0) return total;
    if (writeMatrix(s, sphere.matrix, total) < 0) return total;
    writeFloats(s, &sphere.radius, 1, total);
    return total;
}

std::int32_t IntersectionOBBox::read(DataStream& s) {
    std::int32_t total = 0;
    Matrix34 matrix{};
    float extents[3] = {};
    if (readMatrix(s, matrix, total) < 0) return total;
    if (readFloats(s, extents, 3, total) < 0) return total;
    orientedBoxFromMatrix(extents, box, matrix);
    if (readMatrix(s, sphere.matrix, total) < 0) return total;
    if (readFloats(s, &sphere.radius, 1, total) < 0) return total;
    finishSphere(sphere);
    return total;
}

// ---- Sphere

bool IntersectionSphere::intersects(const Intersection& other) const {
    switch (other.kind()) {
        case IntersectionKindBox: {
            const auto& box = static_cast<const IntersectionOBBox&>(other);
            return sphereSphere(sphere, box.sphere) && sphereBox(sphere, box.box);
        }
        case IntersectionKindSphere:
            return sphereSphere(sphere, static_cast<const IntersectionSphere&>(other).sphere);
        case IntersectionKindFrustum:
            return sphereFrustum(sphere, static_cast<const IntersectionFrustum&>(other));
        default: return false;
    }
}

void IntersectionSphere::setTransform(const Matrix34& matrix) {
    sphere.matrix = matrix;
    matrix34Inverse(sphere.matrix, sphere.inverse);
}

void IntersectionSphere::setFromSize(const Matrix34& matrix, float size) {
    boundingSphereFromMatrix(sphere, matrix, size);
}

void IntersectionSphere::setFromExtents(const Matrix34& matrix, const float* halfExtents) {
    boundingSphereFromMatrix(sphere, matrix, length3(halfExtents));
}

std::int32_t IntersectionSphere::write(DataStream& s) const {
    std::int32_t total = 0;
    if (writeMatrix(s, sphere.matrix, total) < 0) return total;
    writeFloats(s, &sphere.radius, 1, total);
    return total;
}

std::int32_t IntersectionSphere::read(DataStream& s) {
    std::int32_t total = 0;
    if (readMatrix(s, sphere.matrix, total) < 0) return total;
    if (readFloats(s, &sphere.radius, 1, total) < 0) return total;
    finishSphere(sphere);
    return total;
}

// ---- Frustum

bool IntersectionFrustum::intersects(const Intersection& other) const {
    switch (other.kind()) {
        case IntersectionKindBox: {
            const auto& box = static_cast<const IntersectionOBBox&>(other);
            return sphereFrustum(box.sphere, *this) && boxCornersFrustum(box.box, *this);
        }
        case IntersectionKindSphere:
            return sphereFrustum(static_cast<const IntersectionSphere&>(other).sphere, *this);
        default: return false;
    }
}

void IntersectionFrustum::setPerspective(float horizontalAngle, float verticalAngle, float nearDistance,
                                         float farDistance) {
    const float hx = horizontalAngle * 0.008726646f;
    const float hy = verticalAngle * 0.008726646f;
    const float normals[5][3] = {{0.0f, 0.0f, 1.0f},
                                 {std::cos(hx), 0.0f, std::sin(hx)},
                                 {-std::cos(hx), 0.0f, std::sin(hx)},
                                 {0.0f, std::cos(hy), std::sin(hy)},
                                 {0.0f, -std::cos(hy), std::sin(hy)}};
    for (int side = 0; side < 5; ++side)
        for (int k = 0; k < 3; ++k) localNormals[side][k] = normals[side][k];
    setProjection(1.0f / std::tan(hx), 1.0f / std::tan(hy), nearDistance, farDistance);
}

void IntersectionFrustum::setProjection(float xScale, float yScale, float nearDistance, float farDistance) {
    const float q = farDistance / (nearDistance - farDistance);
    const float values[16] = {xScale, 0, 0, 0, 0, yScale, 0, 0, 0, 0, q, -1, 0, 0, q * nearDistance, 0};
    for (int i = 0; i < 16; ++i) projection[i] = values[i];
    this->farDistance = farDistance;
}

void IntersectionFrustum::setTransform(const Matrix34& second, const Matrix34& newPose) {
    secondMatrix = second;
    pose = newPose;
    for (int side = FrustumRight; side <= FrustumBottom; ++side) {
        float* n = worldNormals[side];
        for (int k = 0; k < 3; ++k) n[k] = localNormals[side][k];
        vector3Rotate(n, pose);
        normalize3(n);
    }
    for (int k = 0; k < 3; ++k) worldNormals[FrustumBack][k] = row(pose, 2)[k];
    normalize3(worldNormals[FrustumBack]);
}

std::int32_t IntersectionFrustum::write(DataStream& s) const {
    std::int32_t total = 0;
    if (writeFloats(s, projection, 16, total) < 0) return total;
    for (int side = 0; side < 5; ++side) {
        if (writeFloats(s, localNormals[side], 3, total) < 0) return total;
        if (writeFloats(s, worldNormals[side], 3, total) < 0) return total;
    }
    if (writeMatrix(s, pose, total) < 0) return total;
    if (writeMatrix(s, secondMatrix, total) < 0) return total;
    writeFloats(s, &farDistance, 1, total);
    return total;
}

std::int32_t IntersectionFrustum::read(DataStream& s) {
    std::int32_t total = 0;
    if (readFloats(s, projection, 16, total) < 0) return total;
    for (int side = 0; side < 5; ++side) {
        if (readFloats(s, localNormals[side], 3, total) < 0) return total;
        if (readFloats(s, worldNormals[side], 3, total) < 0) return total;
    }
    if (readMatrix(s, pose, total) < 0) return total;
    if (readMatrix(s, secondMatrix, total) < 0) return total;
    readFloats(s, &farDistance, 1, total);
    return total;
}

// ---- Optional-volume record

std::int32_t writeIntersection(const Intersection* volume, DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, volume ? volume->kind() : IntersectionKindNone))) return total;
    if (volume) addField(total, volume->write(stream));
    return total;
}

std::int32_t readIntersection(DataStream& stream, std::unique_ptr<Intersection>& volume) {
    volume.reset();
    std::uint32_t kind = 0;
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, kind))) return total;
    if (kind == IntersectionKindNone) return total;
    std::unique_ptr<Intersection> created = Intersection::create(kind);
    // An unknown kind: its data cannot be skipped, so the record fails
    // rather than leaving the stream misaligned.
    if (!created) return -1;
    if (!addField(total, created->read(stream))) return total;
    volume = std::move(created);
    return total;
}
