// glTF 2.0 files read without trusting them.
//
// A .glb file, all numbers u32 LE:
//   0   "glTF", version, total length
//   12  JSON chunk: length, "JSON", the document
//   20+ BIN chunk (optional): length, "BIN\0", the data of the buffer without a URI
// The library that parses the document takes some of it on trust: it copies a binary
// chunk by its stated length, indexes the first byte of every buffer, and recurses once
// for every level of JSON nesting. Those are checked here before it sees the file, and
// every count read from the document is checked against the bytes that are there before
// anything is made from it.
#include "export/GltfFile.h"

#include "platform/Convert.h"
#include "platform/Exceptions.h"
#include "platform/Memory.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace palkor {

[[noreturn]] void InvalidGltf(const std::string& path, const std::string& why) {
  throw Exception(Format("Invalid glTF file \"%s\": %s", path, why));
}

[[noreturn]] void UnreadableGltf(const std::string& path, const std::string& why) {
  throw Exception(Format("Cannot read glTF file \"%s\": %s", path, why));
}

namespace {

// Images are not needed to read animations: they are neither decoded nor checked.
bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;
}

// Far deeper than any document needs: glTF's own objects nest about ten levels.
constexpr int MaxJsonDepth = 64;

// Walks a document's JSON without keeping it, for what the library must not see: nesting
// deeper than MaxJsonDepth, and a buffer whose byteLength is 0.
class TJsonCheck final : public nlohmann::json_sax<nlohmann::json> {
public:
  bool TooDeep = false;
  int EmptyBuffer = -1;

  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t v) override { return Number(v == 0); }
  bool number_unsigned(number_unsigned_t v) override { return Number(v == 0); }
  bool number_float(number_float_t v, const string_t&) override { return Number(v == 0); }
  bool string(string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool start_object(std::size_t) override { return Open(); }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(); }
  bool end_array() override { return Close(); }
  bool key(string_t& name) override {
    // Depth 1: the document's members; depth 3: those of an entry of one of its arrays.
    if (Depth == 1) InBuffers = name == "buffers";
    if (Depth == 3) AtByteLength = name == "byteLength";
    return true;
  }
  // Malformed JSON is left to the library, which says where.
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

private:
  int Depth = 0;
  int Buffer = -1; // the entry of "buffers" being read
  bool InBuffers = false, AtByteLength = false;

  bool Value() {
    if (InBuffers && Depth == 2) ++Buffer;
    return true;
  }
  bool Number(bool zero) {
    if (zero && InBuffers && Depth == 3 && AtByteLength && EmptyBuffer < 0) EmptyBuffer = Buffer;
    return Value();
  }
  bool Open() {
    Value();
    if (++Depth > MaxJsonDepth) TooDeep = true;
    return !TooDeep;
  }
  bool Close() {
    --Depth;
    return true;
  }
};

// Refuses what the library would read outside the file, crash on or recurse too deeply
// for: a binary chunk longer than the file, a buffer of no bytes, JSON nested too deep.
void CheckBeforeLoading(std::string_view bytes, const std::string& path) {
  std::string_view json = bytes;
  if (bytes.size() >= 20 && bytes.compare(0, 4, "glTF") == 0) {
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint64_t length = std::min<uint64_t>(GetU32LE(b + 8), bytes.size());
    const uint64_t jsonEnd = 20 + uint64_t(GetU32LE(b + 12));
    if (jsonEnd > length) return; // the library says what is wrong with the header
    json = bytes.substr(20, size_t(jsonEnd - 20));
    if (jsonEnd + 8 <= length && jsonEnd + 8 + GetU32LE(b + jsonEnd) > length)
      UnreadableGltf(path, "its binary chunk runs past the end of the file");
  }
  TJsonCheck check;
  nlohmann::json::sax_parse(json.data(), json.data() + json.size(), &check);
  if (check.TooDeep)
    UnreadableGltf(path, Format("its JSON nests more than %d levels deep", MaxJsonDepth));
  if (check.EmptyBuffer >= 0) UnreadableGltf(path, Format("buffer %d is empty", check.EmptyBuffer));
}

// The files a document names by URI are read only when they are regular files in its
// folder or below it: never through an absolute path, a ".." or a link that leads out of
// the folder, and never a FIFO or a device, which may keep the reader waiting for ever.
struct TFolderFiles {
  std::string Prefix;     // the folder as the library joins URIs to it, ending in "/"
  std::string RealFolder; // the folder with its links resolved
  std::vector<std::pair<std::string, std::string>> Refused; // URI, why
};

// The path with its links resolved, or "" with errno saying why.
std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string resolved(real);
  std::free(real);
  return resolved;
}

// The file that path (the folder joined with a URI) names, resolved, when it may be read;
// otherwise "", with the reason kept.
std::string AllowedFile(const std::string& path, TFolderFiles& files) {
  // The library also looks beside the working folder: never.
  if (path.compare(0, files.Prefix.size(), files.Prefix) != 0) return {};
  const std::string uri = path.substr(files.Prefix.size());
  auto refuse = [&](const std::string& why) {
    files.Refused.emplace_back(uri, Format("it names \"%s\", which %s", uri, why));
    return std::string();
  };
  if (uri.empty()) return {}; // the library says that the URI is missing
  if (uri[0] == '/') return refuse("lies outside its folder");
  const std::string real = RealPath(path);
  if (real.empty())
    return refuse(errno == ENOENT ? std::string("is not there")
                                  : Format("cannot be opened: %s", std::strerror(errno)));
  if (files.RealFolder.empty() ||
      (files.RealFolder != "/" &&
       real.compare(0, files.RealFolder.size() + 1, files.RealFolder + "/") != 0))
    return refuse("lies outside its folder");
  struct stat info;
  if (::stat(real.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return refuse("is not a regular file");
  return real;
}

bool FileInFolder(const std::string& path, void* files) {
  return !AllowedFile(path, *static_cast<TFolderFiles*>(files)).empty();
}

std::string PathAsItIs(const std::string& path, void*) {
  return path;
}

bool ReadFileInFolder(std::vector<unsigned char>* out, std::string*, const std::string& path,
                      void* user) {
  TFolderFiles& files = *static_cast<TFolderFiles*>(user);
  const std::string real = AllowedFile(path, files);
  if (real.empty()) return false;
  const std::string uri = path.substr(files.Prefix.size());
  // Without waiting, in case the file has become a FIFO since it was looked at.
  const int handle = ::open(real.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  struct stat info;
  bool ok = handle >= 0 && ::fstat(handle, &info) == 0 && S_ISREG(info.st_mode);
  int error = handle < 0 ? errno : 0;
  if (ok) {
    out->resize(size_t(info.st_size));
    size_t done = 0;
    while (ok && done < out->size()) {
      const ssize_t n = ::read(handle, out->data() + done, out->size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (n < 0) error = errno;
      if (ok) done += size_t(n);
    }
  }
  if (handle >= 0) ::close(handle);
  if (!ok)
    files.Refused.emplace_back(
        uri, Format("it names \"%s\", which cannot be read%s", uri,
                    error ? std::string(": ") + std::strerror(error) : std::string()));
  return ok;
}

bool WriteNoFile(std::string*, const std::string&, const std::vector<unsigned char>&, void*) {
  return false;
}

// The library's message on one line, without the JSON parser's tag ("[json.exception.
// parse_error.101] ").
std::string LoaderMessage(std::string error) {
  for (size_t tag; (tag = error.find("[json.exception.")) != std::string::npos;) {
    const size_t end = error.find("] ", tag);
    if (end == std::string::npos) break;
    error.erase(tag, end + 2 - tag);
  }
  while (!error.empty() && (error.back() == '\n' || error.back() == '\r')) error.pop_back();
  for (char& c : error)
    if (c == '\n' || c == '\r') c = ' ';
  // A data URI that does not decode is quoted whole.
  if (error.size() > 300) error = error.substr(0, 300) + "...";
  return error.empty() ? std::string("not a glTF file") : error;
}

} // namespace

void LoadGltfFile(const std::string& path, TGltfFileContents& document) {
  TReadingScope reading("glTF file \"" + path + "\"");
  const std::string bytes = ReadFileBytes(path);
  CheckBeforeLoading(bytes, path);
  // URIs are relative to the file's folder.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : path.substr(0, slash);
  TFolderFiles files;
  files.Prefix = folder == "/" ? folder : folder + "/";
  files.RealFolder = RealPath(folder);
  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(SkipImage, nullptr);
  loader.SetFsCallbacks({&FileInFolder, &PathAsItIs, &ReadFileInFolder, &WriteNoFile, &files});
  std::string error, warning;
  bool ok;
  try {
    if (bytes.compare(0, 4, "glTF") == 0) {
      ok = loader.LoadBinaryFromMemory(&document.Model, &error, &warning,
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<unsigned int>(bytes.size()), folder);
    } else {
      ok = loader.LoadASCIIFromString(&document.Model, &error, &warning, bytes.data(),
                                      static_cast<unsigned int>(bytes.size()), folder);
    }
  } catch (const std::bad_alloc&) {
    throw; // "Not enough memory to read glTF file ..."
  } catch (const std::exception&) {
    // What the checks above did not foresee: the library's own text would not say.
    UnreadableGltf(path, "its parts do not fit together");
  }
  if (!ok) {
    for (const auto& [uri, why] : files.Refused)
      if (error.find(uri) != std::string::npos) UnreadableGltf(path, why);
    UnreadableGltf(path, LoaderMessage(error));
  }
  const tinygltf::Model& model = document.Model;
  document.Bytes = bytes.size();
  for (const tinygltf::Buffer& buffer : model.buffers) document.Bytes += buffer.data.size();
  document.Parents.assign(model.nodes.size(), -1);
  for (size_t n = 0; n < model.nodes.size(); ++n)
    for (int child : model.nodes[n].children) {
      if (child < 0 || size_t(child) >= model.nodes.size() ||
          document.Parents[size_t(child)] != -1 || size_t(child) == n)
        InvalidGltf(path, Format("node %d is not a tree's", child));
      document.Parents[size_t(child)] = int32_t(n);
    }
  // A node may not be its own ancestor. Each node's chain is walked up to a node already
  // cleared, so that every node is walked once: 1 marks the chain under way, 2 cleared.
  std::vector<uint8_t> state(model.nodes.size(), 0);
  for (size_t start = 0; start < model.nodes.size(); ++start) {
    int32_t n = int32_t(start);
    while (n >= 0 && state[size_t(n)] == 0) {
      state[size_t(n)] = 1;
      n = document.Parents[size_t(n)];
    }
    if (n >= 0 && state[size_t(n)] == 1) InvalidGltf(path, "its nodes form a cycle");
    for (n = int32_t(start); n >= 0 && state[size_t(n)] == 1; n = document.Parents[size_t(n)])
      state[size_t(n)] = 2;
  }
}

namespace {

// Where an accessor's elements lie, checked against the bytes that are there: First is
// null for an accessor without a buffer view (all zeros), or of no elements.
struct TAccessorBytes {
  const unsigned char* First = nullptr;
  size_t Stride = 0, Count = 0;
  int Components = 0, Size = 0;
};

TAccessorBytes AccessorBytes(const TGltfFileContents& file, int index, const std::string& path) {
  const tinygltf::Model& model = file.Model;
  if (index < 0 || size_t(index) >= model.accessors.size())
    InvalidGltf(path, Format("no accessor %d", index));
  const tinygltf::Accessor& accessor = model.accessors[size_t(index)];
  TAccessorBytes at;
  at.Components = tinygltf::GetNumComponentsInType(uint32_t(accessor.type));
  at.Size = tinygltf::GetComponentSizeInBytes(uint32_t(accessor.componentType));
  if (at.Components <= 0 || at.Size <= 0)
    InvalidGltf(path, Format("accessor %d has no known type", index));
  const size_t element = size_t(at.Components * at.Size);
  at.Count = accessor.count;
  if (accessor.count == 0) return at;
  if (accessor.bufferView < 0) {
    // All zeros, as glTF defines it; no more of them than the file has bytes.
    if (accessor.count > file.Bytes / element)
      InvalidGltf(path, Format("accessor %d holds more values than the file", index));
    return at;
  }
  if (size_t(accessor.bufferView) >= model.bufferViews.size())
    InvalidGltf(path, Format("accessor %d names no buffer view", index));
  const tinygltf::BufferView& view = model.bufferViews[size_t(accessor.bufferView)];
  if (view.buffer < 0 || size_t(view.buffer) >= model.buffers.size())
    InvalidGltf(path, Format("buffer view %d names no buffer", accessor.bufferView));
  const std::vector<unsigned char>& data = model.buffers[size_t(view.buffer)].data;
  const size_t stride = view.byteStride ? view.byteStride : element;
  if (stride < element)
    InvalidGltf(path, Format("accessor %d has elements longer than buffer view %d's stride", index,
                             accessor.bufferView));
  // Each step keeps within the one before, so that no sum or product can wrap: the view
  // within its buffer, the first element within the view, the count within what is left.
  if (view.byteOffset > data.size() || view.byteLength > data.size() - view.byteOffset ||
      accessor.byteOffset > view.byteLength || element > view.byteLength - accessor.byteOffset ||
      accessor.count - 1 > (view.byteLength - accessor.byteOffset - element) / stride)
    InvalidGltf(path, Format("accessor %d lies outside its buffer", index));
  at.First = data.data() + view.byteOffset + accessor.byteOffset;
  at.Stride = stride;
  return at;
}

} // namespace

std::vector<uint32_t> ReadGltfIndices(const TGltfFileContents& file, int index,
                                      const std::string& path) {
  const TAccessorBytes at = AccessorBytes(file, index, path);
  const tinygltf::Accessor& accessor = file.Model.accessors[size_t(index)];
  if (at.Components != 1 || (accessor.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE &&
                             accessor.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
                             accessor.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT))
    InvalidGltf(path, Format("accessor %d does not hold unsigned integers", index));
  std::vector<uint32_t> values(at.Count, 0);
  if (!at.First) return values;
  for (size_t i = 0; i < at.Count; ++i) {
    const unsigned char* p = at.First + i * at.Stride;
    values[i] = at.Size == 1 ? *p : at.Size == 2 ? uint32_t(p[0] | (p[1] << 8)) : GetU32LE(p);
  }
  return values;
}

// An accessor's float values, checked against the bytes that are there before anything is
// made from its count. Normalised integer components are read as glTF defines them.
std::vector<float> ReadGltfFloats(const TGltfFileContents& file, int index,
                                  const std::string& path) {
  const TAccessorBytes at = AccessorBytes(file, index, path);
  const tinygltf::Accessor& accessor = file.Model.accessors[size_t(index)];
  const int components = at.Components, size = at.Size;
  if (!at.First) return std::vector<float>(at.Count * size_t(components), 0.0f);
  const size_t stride = at.Stride;
  std::vector<float> values(accessor.count * size_t(components), 0.0f);
  for (size_t i = 0; i < accessor.count; ++i) {
    const unsigned char* p = at.First + i * stride;
    for (int c = 0; c < components; ++c, p += size) {
      float v = 0;
      switch (accessor.componentType) {
      case TINYGLTF_COMPONENT_TYPE_FLOAT:
        std::memcpy(&v, p, 4);
        break;
      case TINYGLTF_COMPONENT_TYPE_BYTE:
        v = accessor.normalized ? std::max(int8_t(*p) / 127.0f, -1.0f) : float(int8_t(*p));
        break;
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
        v = accessor.normalized ? *p / 255.0f : float(*p);
        break;
      case TINYGLTF_COMPONENT_TYPE_SHORT: {
        int16_t s;
        std::memcpy(&s, p, 2);
        v = accessor.normalized ? std::max(s / 32767.0f, -1.0f) : float(s);
        break;
      }
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        uint16_t s;
        std::memcpy(&s, p, 2);
        v = accessor.normalized ? s / 65535.0f : float(s);
        break;
      }
      default:
        InvalidGltf(path,
                    Format("accessor %d has components of type %d", index, accessor.componentType));
      }
      values[i * size_t(components) + size_t(c)] = v;
    }
  }
  return values;
}

} // namespace palkor
