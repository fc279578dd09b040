// Battle animation bytes from the fuzzer: decoded alone, then drawn on a valid model.
#include "battle/BattleModel.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palkor;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    TMemoryStream stream(bytes);
    TBattleAnims anims(stream);
    for (const TBattleAnim& anim : anims.Anims)
      for (const TBattleFrame& frame : anim.Frames) {
        if (int32_t(frame.Rotations.size()) != anim.RotationCount) __builtin_trap();
        for (const TBattleRotation& r : frame.Rotations)
          if (r.X < 0 || r.X > 4095 || r.Y < 0 || r.Y > 4095 || r.Z < 0 || r.Z > 4095)
            __builtin_trap();
      }
  } catch (const Exception&) {
  }
  static const fuzzing::TBattleMembers base = fuzzing::DefaultBattle();
  fuzzing::TBattleMembers members = base;
  members.back().second = bytes;
  fuzzing::ExerciseBattle(members);
  return 0;
}
