#pragma once

#include "battle/BattleModel.h"
#include "geometry/Matrix.h"
#include "platform/Exceptions.h"

#include <cmath>

#include <functional>
#include <string>

namespace palkor::testing {

// The message of the failure action raises, or "(no error)".
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

// Two turns within this many degrees of each other, as a difference of matrix elements.
inline bool NearTurn(const TMatrix4& a, const TMatrix4& b, double degrees) {
  const double tolerance = 2 * std::sin(degrees * M_PI / 360);
  for (int i = 0; i < 11; ++i)
    if (i % 4 != 3 && std::abs(a.M[i] - b.M[i]) > tolerance) return false;
  return true;
}

// Two battle frames with the same offsets and rotation values.
inline bool SameFrame(const TBattleFrame& a, const TBattleFrame& b) {
  if (a.OffsetX != b.OffsetX || a.OffsetY != b.OffsetY || a.OffsetZ != b.OffsetZ ||
      a.Rotations.size() != b.Rotations.size())
    return false;
  for (size_t r = 0; r < a.Rotations.size(); ++r)
    if (a.Rotations[r].X != b.Rotations[r].X || a.Rotations[r].Y != b.Rotations[r].Y ||
        a.Rotations[r].Z != b.Rotations[r].Z)
      return false;
  return true;
}

} // namespace palkor::testing
