// Animation bytes from the fuzzer, posed, edited and drawn on a valid skeleton.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const palkor::fuzzing::TModelMembers base = palkor::fuzzing::DefaultModel();
  palkor::fuzzing::TModelMembers m = base;
  m.A.assign(reinterpret_cast<const char*>(data), size);
  palkor::fuzzing::ExerciseModel(m);
  return 0;
}
