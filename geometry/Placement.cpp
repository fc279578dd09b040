#include "geometry/Placement.h"

#include "geometry/Conventions.h"

namespace palkor {

TMatrix4 PlacementMatrix(const TPlacement& placement) {
  TMatrix4 m = TMatrix4::Identity();
  for (const TPlacementStep& step : placement) {
    const TVec3& v = step.Vector;
    switch (step.Kind) {
    case TPlacementStep::Translate:
      m = m * TMatrix4::Translation(v.X, v.Y, v.Z);
      break;
    case TPlacementStep::Scale:
      m = m * TMatrix4::Scale(v.X, v.Y, v.Z);
      break;
    case TPlacementStep::Rotate:
      m = m * TMatrix4::Rotation(step.Degrees, v.X, v.Y, v.Z);
      break;
    }
  }
  return m;
}

TPlacement ModelPlacement(TPlacedModel model, const TVec3* viewTurn) {
  TPlacement turn;
  if (viewTurn)
    turn = {{TPlacementStep::Rotate, {0, 1, 0}, viewTurn->Y},
            {TPlacementStep::Rotate, {1, 0, 0}, viewTurn->X},
            {TPlacementStep::Rotate, {0, 0, 1}, viewTurn->Z}};
  const TPlacementStep lift{TPlacementStep::Translate, {0, ViewerLift, 0}};
  TPlacement placement;
  if (model == TPlacedModel::Field) {
    placement = turn;
    placement.push_back(lift);
  } else {
    placement = {
        lift, {TPlacementStep::Scale, {BattleViewerScale, BattleViewerScale, BattleViewerScale}}};
    placement.insert(placement.end(), turn.begin(), turn.end());
  }
  return placement;
}

} // namespace palkor
