// TEX bytes from the fuzzer: decoded alone (any size, any counts), and when small
// enough uploaded as a texture and used by a model's part.
#include "field/tex.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palkor;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    TMemoryStream stream(bytes);
    auto image = LoadTEX(stream, TEXDataOffset);
    if (image->Pixels.size() != size_t(image->Width) * size_t(image->Height) * 4) __builtin_trap();
  } catch (const Exception&) {
  }
  static const fuzzing::TModelMembers base = fuzzing::DefaultModel();
  fuzzing::TModelMembers m = base;
  m.TEX = bytes;
  fuzzing::ExerciseModel(m);
  return 0;
}
