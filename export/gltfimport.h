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
struct TBattleFrame;

// A glTF 2.0 file read for its animations: one written by the exporter, or by a 3D
// program that read such a file and saved it again (joints keep their names; their axes,
// the units and the nodes above the skeleton may have changed).
class TGltfAnimationFile {
public:
  // Reads a .glb or .gltf file, told apart by their content, with the buffer files it
  // names: regular files in its folder or below it, and no others. "Cannot open file "%s".
  // %s" when it cannot be read; "Cannot read glTF file "%s": %s" when it is not glTF, is
  // damaged or names a file that is not to be read; "Invalid glTF file "%s": %s" when its
  // nodes do not form trees.
  explicit TGltfAnimationFile(const std::string& path);
  ~TGltfAnimationFile();

  const std::string& Path() const { return FPath; }
  std::vector<std::string> AnimationNames() const;
  // The first animation named name; "no animation named %s in %s" (also for a file
  // without animations).
  int32_t AnimationNamed(const std::string& name) const;
  // Frame k of an animation is at k / fps seconds, k = 0, 1, ... while k / fps does not
  // pass its last key: at least one frame.
  int32_t FrameCount(int32_t animation, int32_t fps) const;

  // A skeleton's pose at every frame of animation, from the skin: per frame, per bone,
  // its turn relative to its parent in the skeleton's own axes (those of the node above
  // the skeleton, bind pose unturned); a bone without a parent moves and turns relative
  // to the node above. Bones are given by their joints' names (UTF-8) and their parents'
  // indexes (-1: none); the first bone is the skeleton's root. "no joint named %s in %s";
  // "Invalid glTF file "%s": %s" when what the pose is made from (the joints, the nodes
  // above them and the channels that move them) is not in the file or is not a number.
  std::vector<std::vector<TMatrix4>> SkeletonPoses(int32_t animation, int32_t fps,
                                                   const std::vector<std::string>& names,
                                                   const std::vector<int32_t>& parents) const;

  struct TImpl;

private:
  std::string FPath;
  std::unique_ptr<TImpl> Impl;
};

// A field model's animation made from animation of file (the model's bone names are the
// joints'): an A file of one frame per sample, each bone's rotation the angles the
// viewer turns by. The 36-byte header of old (the animation it replaces) is kept, but for
// a second header word equal to old's frame count, which becomes the new count; each
// frame's two leading triples are old's frame k, or its last frame past its end. Bones
// whose turn is old's frame k within 0.01 degrees keep old's values.
std::string ImportFieldAnimation(const TFieldModel& model, std::string_view old,
                                 const TGltfAnimationFile& file, int32_t animation, int32_t fps);

// A battle model's animation made from animation of file: one frame per sample, the
// root's offsets (rounded, less frame 0's) and every rotation entry's values (4096 a turn,
// rounded). The record keeps old's rotation count; entries beyond the skeleton take old's
// frame k (or its last frame). Values that old holds at frame k for the same turn are
// kept as they are.
std::vector<TBattleFrame> ImportBattleAnimation(const TBattleModel& model, int32_t old,
                                                const TGltfAnimationFile& file, int32_t animation,
                                                int32_t fps);

} // namespace palkor
