// A whole member set from the fuzzer: the input is split at "\x7F|\x7F" into members that get
// the suffixes aa, ab, ac, ... in turn (so the fuzzer chooses how many textures and
// parts there are and what lies where), and the model is built and drawn.
#include "tests/fuzz/FuzzSupport.h"

constexpr std::string_view Separator = "\x7F|\x7F";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palkor;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzzing::TBattleMembers members;
  char suffix[3] = "aa";
  while (members.size() < 26 * 4) {
    size_t bar = input.find(Separator);
    members.emplace_back(suffix, std::string(input.substr(0, bar)));
    if (bar == std::string_view::npos) break;
    input.remove_prefix(bar + Separator.size());
    if (++suffix[1] > 'z') suffix[1] = 'a', ++suffix[0];
  }
  fuzzing::ExerciseBattle(members);
  return 0;
}
