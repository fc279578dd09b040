// Matrices, quaternions, skeleton composition and the models' conventions.
#include "geometry/Conventions.h"
#include "geometry/Matrix.h"
#include "geometry/Skeleton.h"

#include <gtest/gtest.h>

using namespace palkor;

namespace {

void ExpectNear(const TMatrix4& a, const TMatrix4& b, float tolerance = 1e-5f) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.M[i], b.M[i], tolerance) << "element " << i;
}

const TVec3 Turns[] = {{0, 0, 0},      {90, 0, 0},     {0, 90, 0},          {0, 0, 90},
                       {30, -45, 60},  {180, 0, 0},    {0, 180, 0},         {179.5f, 90, -180},
                       {-720, 370, 5}, {45, 180, 180}, {0.001f, 0, -0.001f}};

} // namespace

TEST(Geometry, QuaternionsTurnAsTheMatricesDo) {
  for (const TVec3& r : Turns) {
    SCOPED_TRACE(::testing::Message() << r.X << " " << r.Y << " " << r.Z);
    ExpectNear(TMatrix4::FromQuat(FieldBoneTurnQuat(r)), FieldBoneTurn(r));
    // A turn read back from its matrix is the same turn (q or -q).
    TMatrix4 m = BattleBoneTurn(r);
    ExpectNear(TMatrix4::FromQuat(m.RotationPart()), m);
    // A uniform scale does not change the rotation read.
    ExpectNear(TMatrix4::FromQuat((TMatrix4::Scale(3, 3, 3) * m).RotationPart()), m);
  }
}

TEST(Geometry, InversesAndMirrors) {
  const TMatrix4 m = TMatrix4::Translation(3, -4, 5) * BattleBoneTurn({30, 60, -90}) *
                     TMatrix4::Scale(0.5f, 0.5f, 0.5f);
  ExpectNear(m * m.AffineInverse(), TMatrix4::Identity());
  ExpectNear(m.AffineInverse() * m, TMatrix4::Identity());
  // Nothing to invert: the identity rather than infinities.
  ExpectNear(TMatrix4::Scale(0, 1, 1).AffineInverse(), TMatrix4::Identity());
  ExpectNear(MirroredInX(m), BattleMirror() * m * BattleMirror());
}

TEST(Geometry, SkeletonsComposeDepthFirstAndListEachBoneOnce) {
  // 0 -> 1 -> 2, 0 -> 3; 4 names a parent outside; 5 and 6 are each other's parent.
  auto children = ChildrenOf({-1, 0, 1, 0, 9, 6, 5});
  auto turn = [](int32_t b) { return TMatrix4::Rotation(b == 1 ? 90.0f : 0.0f, 0, 1, 0); };
  auto reach = [](int32_t) { return 10.0f; };
  std::vector<TPosedJoint> joints =
      ComposeSkeleton(0, children, TMatrix4::Translation(0, 1, 0), turn, reach);
  std::vector<int32_t> order;
  for (const TPosedJoint& j : joints) order.push_back(j.Bone);
  EXPECT_EQ(order, (std::vector<int32_t>{0, 1, 2, 3}));
  // Bone 2 hangs 10 along bone 1's turned Z: +X.
  TVec3 at = joints[2].Joint.Translation();
  EXPECT_NEAR(at.X, 10, 1e-5);
  EXPECT_NEAR(at.Y, 1, 1e-5);
  EXPECT_NEAR(at.Z, 10, 1e-5);
  // Started inside a cycle, each bone comes once and the walk ends.
  EXPECT_EQ(ComposeSkeleton(5, children, TMatrix4::Identity(), turn, reach).size(), 2u);
  EXPECT_TRUE(ComposeSkeleton(7, children, TMatrix4::Identity(), turn, reach).empty());
}

TEST(Geometry, AnglesComeBackFromTheirTurnsNearestToWhatWasAsked) {
  for (const TVec3& r : Turns) {
    SCOPED_TRACE(::testing::Message() << r.X << " " << r.Y << " " << r.Z);
    // Asked near themselves, the angles come back as they were (within float error).
    using TTurn = TMatrix4 (*)(const TVec3&);
    using TAngles = TVec3 (*)(const TMatrix4&, const TVec3&);
    for (auto [turn, angles] : {std::pair<TTurn, TAngles>{FieldBoneTurn, FieldBoneAngles},
                                std::pair<TTurn, TAngles>{BattleBoneTurn, BattleBoneAngles}}) {
      TVec3 back = angles(turn(r), r);
      EXPECT_NEAR(back.X, r.X, 2e-3);
      EXPECT_NEAR(back.Y, r.Y, 2e-3);
      EXPECT_NEAR(back.Z, r.Z, 2e-3);
      // Asked near nothing in particular: another triple, but the same turn.
      ExpectNear(turn(angles(turn(r), {})), turn(r), 2e-5f);
    }
  }
  // Of the two triples, the one nearer: (170, 0, 0) is also (10, 180, 180).
  TVec3 flipped = BattleBoneAngles(BattleBoneTurn({170, 0, 0}), {0, 170, 170});
  EXPECT_NEAR(flipped.X, 10, 1e-3);
  EXPECT_NEAR(flipped.Y, 180, 1e-3);
  // A turn of 350 degrees asked near 0 is -10: no jump of a whole turn.
  EXPECT_NEAR(FieldBoneAngles(FieldBoneTurn({0, 350, 0}), {}).Y, -10, 1e-3);
}
