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
