#pragma once

// Where a whole model stands in the viewer's world: the steps that place it, each one
// GL matrix call, and the matrix they make. Drawing applies the steps with those calls;
// framing and export take the matrix.

#include "geometry/Matrix.h"

#include <vector>

namespace palkor {

struct TPlacementStep {
  enum TKind { Translate, Scale, Rotate };
  TKind Kind = Translate;
  TVec3 Vector;      // the move, the factors in X, Y and Z, or the axis turned about
  float Degrees = 0; // Rotate only
};

// Steps in the order they are multiplied on, as GL's matrix calls are: the last step
// acts first on the model's points.
using TPlacement = std::vector<TPlacementStep>;

// The product of the steps, first to last, from the identity.
TMatrix4 PlacementMatrix(const TPlacement& placement);

enum class TPlacedModel { Field, Battle };

// How the viewer places a model, the view's turn (degrees about X, Y and Z as the
// Rotate trackbars give them) included when viewTurn is given: a field model turns
// about Y, X, then Z at the floor's origin and is lifted inside the turn; a battle model
// is lifted, scaled to the field's size, then turned. Without viewTurn, the same
// placement with no turn: what an exported file puts on the node above the skeleton.
TPlacement ModelPlacement(TPlacedModel model, const TVec3* viewTurn = nullptr);

} // namespace palkor
