// A glTF file from the fuzzer, its skinned mesh planned onto a field and a battle model.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  palkor::fuzzing::ExerciseModelImport(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
