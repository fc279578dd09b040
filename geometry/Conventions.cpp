#include "geometry/Conventions.h"

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

TMatrix4 MirroredInX(const TMatrix4& m) {
  TMatrix4 r = m;
  // Negating row 0 and column 0 (their shared element twice, so it keeps its sign).
  for (int c = 0; c < 4; ++c) r.M[c * 4] = -r.M[c * 4];
  for (int row = 0; row < 4; ++row) r.M[row] = -r.M[row];
  return r;
}

} // namespace palkor
