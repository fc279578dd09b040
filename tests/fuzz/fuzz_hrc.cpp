// Skeleton text from the fuzzer, with valid resources and animation.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const palkor::fuzzing::TModelMembers base = palkor::fuzzing::DefaultModel();
  palkor::fuzzing::TModelMembers m = base;
  m.HRC.assign(reinterpret_cast<const char*>(data), size);
  palkor::fuzzing::ExerciseModel(m);
  return 0;
}
