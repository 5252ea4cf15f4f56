#pragma once

namespace zt {

// Three 32-bit floats with the two operations the motion filter needs. The
// arithmetic stays in single precision: the link is built with
// -ffp-contract=off so a product followed by a sum is never fused.
struct Vector3 {
    float x = 0;
    float y = 0;
    float z = 0;
};

inline Vector3 operator*(float scalar, const Vector3& v)
{
    return Vector3{scalar * v.x, scalar * v.y, scalar * v.z};
}

inline Vector3 operator+(const Vector3& a, const Vector3& b)
{
    return Vector3{a.x + b.x, a.y + b.y, a.z + b.z};
}

} // namespace zt
