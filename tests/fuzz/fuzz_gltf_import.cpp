// A glTF file from the fuzzer, read for its animations and imported into a field and a
// battle model.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  palkor::fuzzing::ExerciseGltfImport(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
