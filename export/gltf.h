#pragma once

#include "geometry/Matrix.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace palkor {

class TFieldModel;
class TBattleModel;

// Every exported file uses these axes and units: glTF's +Y up, the model facing the way
// its data faces, as the viewer shows it unturned; one field model unit is 5 cm, and
// battle models come at the viewer's scale of 0.04 of that. The viewer's floor is y = 0,
// with the model lifted above it as the viewer lifts it.
constexpr float GltfMetresPerUnit = 0.05f;

// A field animation to export: the A member's name as the archive spells it, and its
// bytes (the caller's, read while exporting).
struct TFieldAnimation {
  std::string Name;
  std::string_view Data;
};

// The pose the skin is bound in: the one the mesh's vertices are written in, and the one
// a program shows as the model's rest.
enum class TBindPose {
  Zero,       // every rotation 0 (and a battle root's offsets 0)
  FirstFrame, // frame 0 of the first exported animation; Zero when there is none
};

struct TGltfOptions {
  // Frame k of an animation is at time k / Fps seconds.
  int32_t Fps = 30;
  TBindPose BindPose = TBindPose::Zero;
};

// A glTF 2.0 document built in memory.
class TGltfDocument {
public:
  TGltfDocument();
  TGltfDocument(TGltfDocument&&) noexcept;
  TGltfDocument& operator=(TGltfDocument&&) noexcept;
  ~TGltfDocument();

  // The file's bytes: a binary glTF, or JSON with the buffer and images as data URIs.
  std::string Bytes(bool binary) const;

  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

// The document of a field model: a node per bone entry (the first is "root"), one skin,
// the parts the viewer draws as one mesh, and one animation per entry of anims (each at
// least one frame long for the model's bone count, or "Stream read error"). name names
// the node above the skeleton and the mesh.
TGltfDocument ExportFieldModel(const TFieldModel& model, const std::string& name,
                               const std::vector<TFieldAnimation>& anims,
                               const TGltfOptions& options);

// The document of a battle model: "root" (offsets and root rotation) above "bone0",
// "bone1", ...; anims are indexes into the model's animations, each exported as
// "Animation N" (N from 1). An index outside them: "no animation %d: the model has %d".
TGltfDocument ExportBattleModel(const TBattleModel& model, const std::string& name,
                                const std::vector<int32_t>& anims, const TGltfOptions& options);

// The skeleton's joints as ExportFieldModel binds them, each in the model's space (that of
// the node above the skeleton, before its lift and scale): every rotation 0 when anim is
// null, else frame 0 of anim ("Stream read error" when it is shorter than a frame).
std::vector<TMatrix4> FieldBindJoints(const TFieldModel& model, const TFieldAnimation* anim);

// The same for ExportBattleModel, "root" first: every rotation and offset 0 when anim is
// -1, else frame 0 of the model's animation of that index.
std::vector<TMatrix4> BattleBindJoints(const TBattleModel& model, int32_t anim);

// True when path names a binary glTF file: it ends in ".glb" in any letter case.
bool IsBinaryGltfPath(const std::string& path);

// Writes the document to path, binary or JSON by the name, whole or not at all.
void WriteGltfFile(const TGltfDocument& document, const std::string& path);

} // namespace palkor
