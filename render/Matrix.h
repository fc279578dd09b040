#pragma once

#include <cmath>

namespace palkor {

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
};

} // namespace palkor
