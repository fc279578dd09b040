#pragma once

#include <cmath>

namespace palkor {

struct TVec3 {
  float X = 0, Y = 0, Z = 0;
};

// A rotation as a unit quaternion (X, Y, Z the vector part, W the scalar part).
struct TQuat {
  float X = 0, Y = 0, Z = 0, W = 1;

  // The turn by degrees about the axis (x, y, z), as glRotatef turns.
  static TQuat AxisAngle(float degrees, float x, float y, float z) {
    float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0) return {};
    double half = double(degrees) * M_PI / 360.0;
    float s = float(std::sin(half)) / length;
    return {x * s, y * s, z * s, float(std::cos(half))};
  }

  // a * b turns by b first, as matrices compose.
  TQuat operator*(const TQuat& b) const {
    return {W * b.X + X * b.W + Y * b.Z - Z * b.Y, W * b.Y - X * b.Z + Y * b.W + Z * b.X,
            W * b.Z + X * b.Y - Y * b.X + Z * b.W, W * b.W - X * b.X - Y * b.Y - Z * b.Z};
  }
  float Dot(const TQuat& b) const { return X * b.X + Y * b.Y + Z * b.Z + W * b.W; }
  TQuat Negated() const { return {-X, -Y, -Z, -W}; }
};

// A 4x4 transform stored column by column, as OpenGL keeps it. Products compose as
// GL's matrix calls do: A * B applies B first.
struct TMatrix4 {
  float M[16];

  static TMatrix4 Identity() { return {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}; }

  // The rotation glRotatef(degrees, x, y, z) multiplies on.
  static TMatrix4 Rotation(float degrees, float x, float y, float z) {
    float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0) return Identity();
    x /= length;
    y /= length;
    z /= length;
    float radians = degrees * float(M_PI / 180.0);
    float c = std::cos(radians), s = std::sin(radians), t = 1 - c;
    return {{t * x * x + c, t * x * y + s * z, t * x * z - s * y, 0, t * x * y - s * z,
             t * y * y + c, t * y * z + s * x, 0, t * x * z + s * y, t * y * z - s * x,
             t * z * z + c, 0, 0, 0, 0, 1}};
  }

  static TMatrix4 Translation(float x, float y, float z) {
    return {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}};
  }

  static TMatrix4 Scale(float x, float y, float z) {
    return {{x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1}};
  }

  // The rotation a unit quaternion describes.
  static TMatrix4 FromQuat(const TQuat& q) {
    float x = q.X, y = q.Y, z = q.Z, w = q.W;
    return {{1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w), 0,
             2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w), 0,
             2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y), 0, 0, 0, 0, 1}};
  }

  float At(int row, int col) const { return M[col * 4 + row]; }

  TMatrix4 operator*(const TMatrix4& b) const {
    TMatrix4 r;
    for (int col = 0; col < 4; ++col)
      for (int row = 0; row < 4; ++row) {
        float sum = 0;
        for (int k = 0; k < 4; ++k) sum += M[k * 4 + row] * b.M[col * 4 + k];
        r.M[col * 4 + row] = sum;
      }
    return r;
  }

  TVec3 TransformPoint(const TVec3& p) const {
    return {M[0] * p.X + M[4] * p.Y + M[8] * p.Z + M[12],
            M[1] * p.X + M[5] * p.Y + M[9] * p.Z + M[13],
            M[2] * p.X + M[6] * p.Y + M[10] * p.Z + M[14]};
  }

  TVec3 Translation() const { return {M[12], M[13], M[14]}; }

  // The inverse of an affine transform (last row 0 0 0 1); the identity when the
  // transform has no inverse.
  TMatrix4 AffineInverse() const;

  // The rotation of a transform whose 3x3 part is a rotation times a uniform scale.
  TQuat RotationPart() const;

  // The determinant of the 3x3 part: negative for a transform that mirrors.
  double Determinant3() const;
};

} // namespace palkor
