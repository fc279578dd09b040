// A battle skeleton from the fuzzer, with valid textures, parts and animations.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const palkor::fuzzing::TBattleMembers base = palkor::fuzzing::DefaultBattle();
  palkor::fuzzing::TBattleMembers members = base;
  members[0].second.assign(reinterpret_cast<const char*>(data), size);
  palkor::fuzzing::ExerciseBattle(members);
  return 0;
}
