// A whole archive from the fuzzer, from which the model M.HRC with animation M.A is
// built, exported, posed and drawn.
#include "export/gltf.h"
#include "field/FieldModel.h"
#include "render/modeldraw.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palkor;
  fuzzing::EnsureGL();
  static const std::string path = fuzzing::ScratchPath("archive.lgp");
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  try {
    auto archive = TLGPFile::Create(path, false);
    TFieldModel model(*archive, "M.HRC", "M.A");
    try {
      ExportFieldModel(model, "M", {{"M.A", model.AnimData.View()}}, {}).Bytes(true);
    } catch (const Exception&) {
    }
    TTextureSet textures;
    textures.Add(model);
    TViewOptions options;
    options.Bones = true;
    for (int32_t frame = 0; frame < model.FrameCount && frame < 16; ++frame) {
      model.SetFrame(frame);
      DrawFieldModel(model, textures, options);
    }
  } catch (const Exception&) {
  }
  return 0;
}
