// Bounding volumes for visibility and proximity: an oriented box, a sphere
// and a view frustum behind one abstract class whose test dispatches on the
// other volume's kind. Every test is a plain yes or no.
//
// The stored kinds are fixed values: 0 box, 1 sphere, 2 frustum, 4 none.
// A volume made by create is empty until a setter or a read fills it.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/Math.h"

class DataStream;

struct SphereVolume {
    Matrix34 inverse{};  // inverse of matrix, kept up to date by every setter
    Matrix34 matrix{};   // translation row = centre
    float radius = 0.0f;
    float radiusSquared = 0.0f;
};

struct BoxVolume {
    // Signs of the half extents along axes 0, 1, 2, corner by corner:
    // (-,-,-), (-,+,-), (+,+,-), (+,-,-), (-,-,+), (-,+,+), (+,+,+), (+,-,+).
    float corners[8][3] = {};
    Matrix34 matrix{};  // rows 0-2 the unit axes, row 3 the centre
    float extents[3] = {0.0f, 0.0f, 0.0f};  // half extents, scaled by the source axes
};

enum IntersectionKind : std::uint32_t {
    IntersectionKindBox = 0,
    IntersectionKindSphere = 1,
    IntersectionKindFrustum = 2,
    IntersectionKindNone = 4,
};

class Intersection {
public:
    virtual ~Intersection() = default;
    virtual std::uint32_t kind() const = 0;
    virtual bool intersects(const Intersection& other) const = 0;
    virtual void setTransform(const Matrix34& matrix) = 0;
    virtual void setFromSize(const Matrix34& matrix, float size) = 0;
    virtual void setFromExtents(const Matrix34& matrix, const float* halfExtents) = 0;
    virtual Matrix34 matrix() const = 0;
    virtual float radius() const = 0;
    // The volume's data (not its kind): bytes or the first negative result.
    virtual std::int32_t write(DataStream& stream) const = 0;
    virtual std::int32_t read(DataStream& stream) = 0;

    // A new empty volume of a kind; null for kind 4 (none) and for an
    // unknown kind, which is logged.
    static std::unique_ptr<Intersection> create(std::uint32_t kind);
};

class IntersectionOBBox : public Intersection {
public:
    std::uint32_t kind() const override { return IntersectionKindBox; }
    bool intersects(const Intersection& other) const override;
    // Rebuilds the box from the matrix with the current half extents.
    void setTransform(const Matrix34& matrix) override;
    // Half extents (s, s, s); bounding radius s.
    void setFromSize(const Matrix34& matrix, float size) override;
    // Bounding radius = length of the given half extents (times the largest
    // axis length of the matrix).
    void setFromExtents(const Matrix34& matrix, const float* halfExtents) override;
    Matrix34 matrix() const override { return box.matrix; }
    float radius() const override { return sphere.radius; }
    std::int32_t write(DataStream& stream) const override;  // 112 bytes
    std::int32_t read(DataStream& stream) override;

    BoxVolume box;
    SphereVolume sphere;  // bounding sphere
};

class IntersectionSphere : public Intersection {
public:
    std::uint32_t kind() const override { return IntersectionKindSphere; }
    bool intersects(const Intersection& other) const override;
    // Takes the matrix as it is (not normalised); the radius is kept.
    void setTransform(const Matrix34& matrix) override;
    void setFromSize(const Matrix34& matrix, float size) override;
    void setFromExtents(const Matrix34& matrix, const float* halfExtents) override;
    Matrix34 matrix() const override { return sphere.matrix; }
    float radius() const override { return sphere.radius; }
    std::int32_t write(DataStream& stream) const override;  // 52 bytes
    std::int32_t read(DataStream& stream) override;

    SphereVolume sphere;
};

// Normals index order: back, right, left, top, bottom.
enum FrustumSide { FrustumBack = 0, FrustumRight = 1, FrustumLeft = 2, FrustumTop = 3, FrustumBottom = 4 };

class IntersectionFrustum : public Intersection {
public:
    std::uint32_t kind() const override { return IntersectionKindFrustum; }
    bool intersects(const Intersection& other) const override;
    // The single-matrix setters do nothing for a frustum.
    void setTransform(const Matrix34&) override {}
    void setFromSize(const Matrix34&, float) override {}
    void setFromExtents(const Matrix34&, const float*) override {}
    Matrix34 matrix() const override { return pose; }
    float radius() const override { return 0.1f; }
    std::int32_t write(DataStream& stream) const override;  // 284 bytes
    std::int32_t read(DataStream& stream) override;

    // Side normals from the full horizontal and vertical view angles in
    // degrees, then the projection.
    void setPerspective(float horizontalAngle, float verticalAngle, float nearDistance, float farDistance);
    // Right-handed projection (the view looks along minus z).
    void setProjection(float xScale, float yScale, float nearDistance, float farDistance);
    // Stores both matrices and turns the side normals into world space by
    // the pose; the second matrix is only kept and saved.
    void setTransform(const Matrix34& second, const Matrix34& newPose);

    float projection[16] = {};
    float localNormals[5][3] = {};
    float worldNormals[5][3] = {};
    Matrix34 pose{};
    Matrix34 secondMatrix{};
    float farDistance = 0.0f;
};

void orientedBoxFromMatrix(const float* halfExtents, BoxVolume& box, const Matrix34& matrix);
// Radius times the largest axis length of the matrix; axes normalised.
void boundingSphereFromMatrix(SphereVolume& sphere, const Matrix34& matrix, float radius);
void boundingSphereAtPoint(SphereVolume& sphere, const float* point, float radius);

// The optional-volume record: u32 kind (4: none, nothing follows), then the
// volume. Bytes or the first negative result.
std::int32_t writeIntersection(const Intersection* volume, DataStream& stream);
// Reads the record into volume (null for none). An unknown kind is logged
// and fails (-1), since its data could not be skipped.
std::int32_t readIntersection(DataStream& stream, std::unique_ptr<Intersection>& volume);
