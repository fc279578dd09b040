#pragma once

#include <tiny_gltf.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace palkor {

// A glTF document as read from a .gltf or .glb file, with what its readers need besides.
struct TGltfFileContents {
  tinygltf::Model Model;
  std::vector<int32_t> Parents; // of every node, -1 for scene roots
  size_t Bytes = 0;             // the file's and its buffers', for accessors without data
};

// "Invalid glTF file "path": why", for a document that reads but does not make sense.
[[noreturn]] void InvalidGltf(const std::string& path, const std::string& why);
// "Cannot read glTF file "path": why", for a file that does not read.
[[noreturn]] void UnreadableGltf(const std::string& path, const std::string& why);

// Reads the file at path: the JSON checked before the library parses it, buffers only from
// files in the file's own folder (or data URIs), images neither decoded nor checked, and the
// nodes checked to form trees.
void LoadGltfFile(const std::string& path, TGltfFileContents& document);

// An accessor's float values, checked against the bytes that are there before anything is
// made from its count. Normalised integer components are read as glTF defines them.
std::vector<float> ReadGltfFloats(const TGltfFileContents& file, int index,
                                  const std::string& path);

// An accessor of unsigned integer scalars (8, 16 or 32 bits), such as a primitive's
// indices, checked as ReadGltfFloats checks.
std::vector<uint32_t> ReadGltfIndices(const TGltfFileContents& file, int index,
                                      const std::string& path);

} // namespace palkor
