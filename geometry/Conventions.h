#pragma once

// How the game's models are placed in the viewer's world, in one place for drawing and
// exporting alike. The viewer's world is right-handed with +Y up; the eye looks along
// -Z at the model's front.

#include "geometry/Matrix.h"

namespace palkor {

// Field models. A P file's vertex is negated on load (the files hold the model upside
// down and facing away); battle models' parts are P files read the same way. A bone
// turns about -Y, then X, then -Z by its rotation in degrees; its children's joints lie
// at (0, 0, length) from its joint.
inline TVec3 FieldVertex(float x, float y, float z) {
  return {-x, -y, -z};
}
// FieldVertex as a transform: a point reflection, which turns every triangle inside out.
inline TMatrix4 FieldVertexMap() {
  return TMatrix4::Scale(-1, -1, -1);
}

// Winding. The game draws with Direct3D, whose front faces are clockwise on screen in a
// left-handed eye space: in a P file's own numbers, a triangle's corners turn
// counter-clockwise about its outward normal by the right-hand rule, and the file's
// normals point outward. glTF's front faces wind the same way in its right-handed space.
// So a triangle placed through map, the whole transform from the file's numbers to where
// it is written, keeps its outside only when map does not mirror: whoever writes the
// corners out reverses their order exactly when this is true. (The viewer draws without
// culling and needs neither.) Field parts are negated on load (reverse); battle parts
// are negated and then mirrored in X (keep).
inline bool ReversesWinding(const TMatrix4& map) {
  return map.Determinant3() < 0;
}
TMatrix4 FieldBoneTurn(const TVec3& degrees);
// The same turn as a quaternion.
TQuat FieldBoneTurnQuat(const TVec3& degrees);
inline float FieldBoneReach(float length) {
  return length;
}

// Battle models. The whole model is mirrored in X; the root moves by the frame's
// offsets with Y negated and turns by the frame's root rotation. A bone turns about Y,
// then X, then Z; its children's joints lie at (0, 0, -length). Angles are in degrees.
TMatrix4 BattleMirror();
TMatrix4 BattleBoneTurn(const TVec3& degrees);
inline float BattleBoneReach(float length) {
  return -length;
}
// The root's transform inside the mirror: offsets and root rotation.
TMatrix4 BattleRootMove(const TVec3& offset, const TVec3& degrees);

// The viewer lifts every model by this much above its floor (y = 0) and draws battle
// models at this scale (geometry/Placement.h places them).
constexpr float ViewerLift = 15.0f;
constexpr float BattleViewerScale = 0.04f;

// The angles of a turn, inverse to the turns above: every turn has two triples (one
// where it is about X by +-90 degrees, then only a sum or difference of the other two is
// fixed); the one returned is the one nearest to near, each angle within 180 degrees of
// near's, so that a sequence of turns gives angles without needless jumps.
TVec3 FieldBoneAngles(const TMatrix4& turn, const TVec3& near);
TVec3 BattleBoneAngles(const TMatrix4& turn, const TVec3& near);

// m seen in a mirror in X: Mirror * m * Mirror. A mirrored turn is again a turn.
TMatrix4 MirroredInX(const TMatrix4& m);

} // namespace palkor
