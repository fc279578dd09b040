#include "geometry/Conventions.h"

#include <algorithm>
#include <cmath>

namespace palkor {

TMatrix4 FieldBoneTurn(const TVec3& degrees) {
  return TMatrix4::Rotation(-degrees.Y, 0, 1, 0) * TMatrix4::Rotation(degrees.X, 1, 0, 0) *
         TMatrix4::Rotation(-degrees.Z, 0, 0, 1);
}

TQuat FieldBoneTurnQuat(const TVec3& degrees) {
  return TQuat::AxisAngle(-degrees.Y, 0, 1, 0) * TQuat::AxisAngle(degrees.X, 1, 0, 0) *
         TQuat::AxisAngle(-degrees.Z, 0, 0, 1);
}

TMatrix4 BattleMirror() {
  return TMatrix4::Scale(-1, 1, 1);
}

TMatrix4 BattleBoneTurn(const TVec3& degrees) {
  return TMatrix4::Rotation(degrees.Y, 0, 1, 0) * TMatrix4::Rotation(degrees.X, 1, 0, 0) *
         TMatrix4::Rotation(degrees.Z, 0, 0, 1);
}

TMatrix4 BattleRootMove(const TVec3& offset, const TVec3& degrees) {
  return TMatrix4::Translation(offset.X, -offset.Y, offset.Z) * BattleBoneTurn(degrees);
}

namespace {

constexpr double Degrees = 180.0 / M_PI;

// angle + 360 k nearest to near.
double Near(double angle, double near) {
  return angle + 360.0 * std::round((near - angle) / 360.0);
}

// a, b, c in degrees with the rotation of r = Ry(a) Rx(b) Rz(c), returned as {b, a, c},
// nearest to near (given the same way).
TVec3 YXZAnglesNear(const TMatrix4& r, const TVec3& near) {
  // The rotation with any uniform scale taken out.
  TMatrix4 m = TMatrix4::FromQuat(r.RotationPart());
  auto at = [&](int row, int col) { return double(m.At(row, col)); };
  const double sb = std::clamp(-at(1, 2), -1.0, 1.0);
  const double cb = std::hypot(at(1, 0), at(1, 1));
  const double nearA = near.Y, nearB = near.X, nearC = near.Z;
  if (cb < 1e-5) {
    // About X by +-90 degrees: a - c (or a + c) is all there is; a stays as near has it.
    double b = sb > 0 ? 90 : -90;
    double a = nearA;
    double c = sb > 0 ? a - std::atan2(at(0, 1), at(0, 0)) * Degrees
                      : std::atan2(-at(0, 1), at(0, 0)) * Degrees - a;
    return {float(Near(b, nearB)), float(a), float(Near(c, nearC))};
  }
  const double b1 = std::atan2(sb, cb) * Degrees;
  const double a1 = std::atan2(at(0, 2), at(2, 2)) * Degrees;
  const double c1 = std::atan2(at(1, 0), at(1, 1)) * Degrees;
  const double first[3] = {Near(b1, nearB), Near(a1, nearA), Near(c1, nearC)};
  const double second[3] = {Near(180 - b1, nearB), Near(a1 + 180, nearA), Near(c1 + 180, nearC)};
  auto distance = [&](const double* t) {
    return std::abs(t[0] - nearB) + std::abs(t[1] - nearA) + std::abs(t[2] - nearC);
  };
  const double* best = distance(second) < distance(first) ? second : first;
  return {float(best[0]), float(best[1]), float(best[2])};
}

} // namespace

TVec3 FieldBoneAngles(const TMatrix4& turn, const TVec3& near) {
  TVec3 r = YXZAnglesNear(turn, {near.X, -near.Y, -near.Z});
  return {r.X, -r.Y, -r.Z};
}

TVec3 BattleBoneAngles(const TMatrix4& turn, const TVec3& near) {
  return YXZAnglesNear(turn, near);
}

TMatrix4 MirroredInX(const TMatrix4& m) {
  TMatrix4 r = m;
  // Negating row 0 and column 0 (their shared element twice, so it keeps its sign).
  for (int c = 0; c < 4; ++c) r.M[c * 4] = -r.M[c * 4];
  for (int row = 0; row < 4; ++row) r.M[row] = -r.M[row];
  return r;
}

} // namespace palkor
