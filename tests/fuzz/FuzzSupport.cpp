#include "tests/fuzz/FuzzSupport.h"

#include "battle/BattleModel.h"
#include "export/gltf.h"
#include "export/gltfimport.h"
#include "export/modelimport.h"
#include "field/FieldModel.h"
#include "field/texquantise.h"
#include "fixtures/BattleWriters.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TexWriter.h"
#include "platform/DebugLog.h"
#include "render/modeldraw.h"
#include "render/offscreen.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace palkor::fuzzing {

using namespace palkor::fixtures;

std::string ScratchPath(const char* name) {
  return "/dev/shm/palkor-fuzz-" + std::to_string(::getpid()) + "-" + name;
}

// Models leave their textures in the context, as in the viewer; a fresh context now and
// then frees them, so that a long run does not grow without end.
void EnsureGL() {
  // The loaders log what they find; a fuzzer would keep every line of millions of runs.
  DebugLog().ClearLines();
  static std::unique_ptr<TOffscreenContext> context;
  static int uses = 0;
  if (!context || ++uses % 2000 == 0) {
    context.reset();
    context = std::make_unique<TOffscreenContext>(16, 16);
  }
  context->MakeCurrent();
}

TModelMembers DefaultModel() {
  TModelMembers m;
  m.HRC = ":HEADER_BLOCK 2\r\n:SKELETON m\r\n:BONES 2\r\n\r\nhip\r\nroot\r\n2.5\r\n1 R\r\n"
          "# comment\r\n\r\narm\r\nhip\r\n3\r\n2 R R\r\n";
  m.RSD = "@RSD940102\r\nPLY=P.PLY\r\nNTEX=1\r\nTEX[0]=T.TIM\r\n";
  TPFixture p;
  p.AddBox(0, 0, 0, 2, 2, 2, {255, 255, 255, 255}, 0);
  p.AddBox(3, 0, 0, 1, 1, 1, {255, 0, 0, 128});
  m.P = BuildP(p);
  TTexFixture t;
  t.Width = t.Height = 4;
  t.ColourKey = 1;
  t.Palette = {{0, 0, 0, 0}, {255, 0, 0, 255}, {0, 255, 0, 255}};
  t.Indices = {0, 1, 2, 1, 1, 2, 1, 0, 2, 2, 1, 1, 0, 0, 2, 1};
  m.TEX = BuildTEX(t);
  m.A = BuildAnimation(2, {{{0, 90, 0}, {10, 0, 0}}, {{5, 5, 5}, {-10, 0, 0}}, {{0, 0, 0}}});
  return m;
}

void ExerciseModel(const TModelMembers& members) {
  EnsureGL();
  TLGPFixture lgp;
  lgp.Add("M.HRC", members.HRC).Add("R.RSD", members.RSD).Add("P.P", members.P);
  lgp.Add("T.TEX", members.TEX).Add("M.A", members.A);
  const std::string path = ScratchPath("model.lgp");
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::string bytes = BuildLGP(lgp);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  try {
    auto archive = TLGPFile::Create(path, false);
    TFieldModel model(*archive, "m.hrc", "m.a");
    // Exported as it was read, in both kinds of file.
    try {
      TGltfDocument document = ExportFieldModel(model, "M", {{"M.A", model.AnimData.View()}}, {});
      document.Bytes(true);
      document.Bytes(false);
    } catch (const Exception&) {
    }
    TTextureSet textures;
    textures.Add(model);
    TViewOptions options;
    options.Bones = true;
    options.Crosshairs = true;
    for (int32_t frame = 0; frame < model.FrameCount && frame < 64; ++frame) {
      model.SetFrame(frame);
      options.SelectedBone = frame % model.BoneCount();
      if (options.SelectedBone >= 1) {
        const TVec3 rotation = model.GetRotation(options.SelectedBone, frame);
        model.SetRotation(options.SelectedBone, frame, {rotation.X + 1, rotation.Y, rotation.Z});
      }
      DrawFieldModel(model, textures, options);
    }
    options.DisplayGroup = 2;
    for (auto& bone : model.Bones)
      for (auto& part : bone->Parts) DrawPart(*part, textures, options);
  } catch (const Exception&) {
  }
}

TBattleMembers DefaultBattle() {
  const TModelMembers field = DefaultModel();
  TBattleAnimFixture idle, swing;
  idle.Frames = {{0, 0, 0, {{1024, 0, 0}, {0, 8, 0}, {2048, 0, 0}, {0, 0, 0}}},
                 {5, -3, 200, {{1030, 4090, 0}, {0, 8, 0}, {2000, 0, 0}, {0, 0, 0}}}};
  swing.Shift = 2;
  swing.Frames = {{0, 0, 0, {{0, 0, 0}, {4, 8, 12}, {0, 0, 0}, {0, 0, 0}}},
                  {0, 0, 0, {{400, 0, 0}, {4, 8, 12}, {3000, 0, 0}, {0, 0, 0}}}};
  swing.Raw = {{1, 6}};
  return {
      {"aa", BuildBattleSkeleton({{-1, 10, true}, {0, 5, false}, {1, 3, true}})},
      {"ab", ""},
      {"ac", field.TEX},
      {"am", field.P},
      {"an", field.P},
      {"da", BuildBattleAnimations({EncodeBattleAnimation(idle), EncodeBattleAnimation(swing)})}};
}

void ExerciseBattle(const TBattleMembers& members) {
  EnsureGL();
  TBattleModel::TMemberList list;
  for (const auto& [suffix, bytes] : members)
    list.emplace_back(suffix, std::make_unique<TMemoryStream>(bytes));
  try {
    TBattleModel model;
    model.LoadFromList(list);
    try {
      std::vector<int32_t> anims;
      for (int32_t a = 0; a < model.AnimCount(); ++a) anims.push_back(a);
      ExportBattleModel(model, "M", anims, {}).Bytes(true);
    } catch (const Exception&) {
    }
    TTextureSet textures;
    textures.Add(model);
    for (int32_t a = 0; a < std::max(model.AnimCount(), 1); ++a) {
      for (int32_t f = 0; f < std::min(model.FrameCount(a) + 1, 64); ++f) {
        glLoadIdentity();
        DrawBattleModel(model, model.FrameAt(a, f), textures, TViewOptions());
      }
    }
  } catch (const Exception&) {
  }
}

namespace {

// The default models, built once from archives of their members.
struct TDefaultModels {
  std::unique_ptr<TFieldModel> Field;
  std::unique_ptr<TBattleModel> Battle;
};

const TDefaultModels& DefaultModels() {
  static TDefaultModels models = [] {
    TDefaultModels m;
    const TModelMembers members = DefaultModel();
    TLGPFixture lgp;
    lgp.Add("M.HRC", members.HRC).Add("R.RSD", members.RSD).Add("P.P", members.P);
    lgp.Add("T.TEX", members.TEX).Add("M.A", members.A);
    const std::string path = ScratchPath("gltf-model.lgp");
    WriteFile(path, BuildLGP(lgp));
    auto archive = TLGPFile::Create(path, false);
    m.Field = std::make_unique<TFieldModel>(*archive, "M.HRC", "M.A");
    TBattleModel::TMemberList list;
    for (const auto& [suffix, bytes] : DefaultBattle())
      list.emplace_back(suffix, std::make_unique<TMemoryStream>(bytes));
    m.Battle = std::make_unique<TBattleModel>();
    m.Battle->LoadFromList(list);
    return m;
  }();
  return models;
}

} // namespace

std::vector<std::string> DefaultGltfFiles() {
  const TDefaultModels& m = DefaultModels();
  TGltfDocument field = ExportFieldModel(*m.Field, "M", {{"M.A", m.Field->AnimData.View()}}, {});
  TGltfDocument battle = ExportBattleModel(*m.Battle, "B", {0, 1}, {});
  return {field.Bytes(true), field.Bytes(false), battle.Bytes(true)};
}

void ExerciseGltfImport(const std::string& bytes) {
  const TDefaultModels& m = DefaultModels();
  const std::string path = ScratchPath("import.glb");
  WriteFile(path, bytes);
  try {
    TGltfAnimationFile file(path);
    const size_t count = std::min<size_t>(file.AnimationNames().size(), 4);
    for (size_t a = 0; a < count; ++a) {
      try {
        if (file.FrameCount(int32_t(a), 30) > 2000) continue;
        ImportFieldAnimation(*m.Field, m.Field->AnimData.View(), file, int32_t(a), 30);
        ImportBattleAnimation(*m.Battle, 0, file, int32_t(a), 30);
      } catch (const Exception&) {
      }
    }
  } catch (const Exception&) {
  }
}

void ExerciseModelImport(const std::string& bytes) {
  DefaultModels(); // writes the field model's archive
  static const std::string battlePath = [] {
    TLGPFixture lgp;
    for (const auto& [suffix, member] : DefaultBattle()) lgp.Add("bb" + suffix, member);
    const std::string path = ScratchPath("import-battle.lgp");
    WriteFile(path, BuildLGP(lgp));
    return path;
  }();
  const std::string path = ScratchPath("import-model.glb");
  WriteFile(path, bytes);
  TModelImportOptions options;
  options.Prune = true;
  options.EncodeTexture = [](const TTexImage& picture) {
    return WriteTEX(DefaultTEXHeader(), QuantiseTEX(picture, {}).Image);
  };
  try {
    TGltfAnimationFile file(path);
    try {
      auto archive = TLGPFile::Create(ScratchPath("gltf-model.lgp"), false);
      PlanFieldModelImport(*archive, "M.HRC", file, options);
    } catch (const Exception&) {
    }
    try {
      auto archive = TLGPFile::Create(battlePath, false);
      PlanBattleModelImport(*archive, "bb", file, options);
    } catch (const Exception&) {
    }
  } catch (const Exception&) {
  }
}

} // namespace palkor::fuzzing
