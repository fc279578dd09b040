#include "geometry/Matrix.h"

namespace palkor {

double TMatrix4::Determinant3() const {
  auto a = [&](int r, int c) { return double(At(r, c)); };
  return a(0, 0) * (a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1)) -
         a(0, 1) * (a(1, 0) * a(2, 2) - a(1, 2) * a(2, 0)) +
         a(0, 2) * (a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0));
}

TMatrix4 TMatrix4::AffineInverse() const {
  // The 3x3 part inverted by its cofactors, in double precision.
  double a[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) a[r][c] = At(r, c);
  double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  if (det == 0 || !std::isfinite(det)) return Identity();
  double inv[3][3] = {
      {c00 / det, (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det,
       (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det},
      {c01 / det, (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det,
       (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det},
      {c02 / det, (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det,
       (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det},
  };
  TMatrix4 r = Identity();
  for (int row = 0; row < 3; ++row) {
    double t = 0;
    for (int c = 0; c < 3; ++c) {
      r.M[c * 4 + row] = float(inv[row][c]);
      t -= inv[row][c] * M[12 + c];
    }
    r.M[12 + row] = float(t);
  }
  return r;
}

TQuat TMatrix4::RotationPart() const {
  // Columns normalised first, so that a uniform scale does not matter.
  double m[3][3];
  for (int c = 0; c < 3; ++c) {
    double length = std::sqrt(double(At(0, c)) * At(0, c) + double(At(1, c)) * At(1, c) +
                              double(At(2, c)) * At(2, c));
    for (int r = 0; r < 3; ++r) m[r][c] = length > 0 ? At(r, c) / length : 0;
  }
  double trace = m[0][0] + m[1][1] + m[2][2];
  double x, y, z, w;
  if (trace > 0) {
    double s = std::sqrt(trace + 1.0) * 2;
    w = s / 4;
    x = (m[2][1] - m[1][2]) / s;
    y = (m[0][2] - m[2][0]) / s;
    z = (m[1][0] - m[0][1]) / s;
  } else if (m[0][0] > m[1][1] && m[0][0] > m[2][2]) {
    double s = std::sqrt(1.0 + m[0][0] - m[1][1] - m[2][2]) * 2;
    w = (m[2][1] - m[1][2]) / s;
    x = s / 4;
    y = (m[0][1] + m[1][0]) / s;
    z = (m[0][2] + m[2][0]) / s;
  } else if (m[1][1] > m[2][2]) {
    double s = std::sqrt(1.0 + m[1][1] - m[0][0] - m[2][2]) * 2;
    w = (m[0][2] - m[2][0]) / s;
    x = (m[0][1] + m[1][0]) / s;
    y = s / 4;
    z = (m[1][2] + m[2][1]) / s;
  } else {
    double s = std::sqrt(1.0 + m[2][2] - m[0][0] - m[1][1]) * 2;
    w = (m[1][0] - m[0][1]) / s;
    x = (m[0][2] + m[2][0]) / s;
    y = (m[1][2] + m[2][1]) / s;
    z = s / 4;
  }
  double length = std::sqrt(x * x + y * y + z * z + w * w);
  if (!(length > 0)) return {};
  return {float(x / length), float(y / length), float(z / length), float(w / length)};
}

} // namespace palkor
