// import_floor FILE.glb OUT BYTES: the floor of import-model. The glTF file is read by
// tinygltf alone (its images left undecoded, as import-model reads them only to turn them
// into textures), then BYTES bytes (the size of the archive import-model writes again)
// are written to OUT with an fsync, as a durable file write is.
#include <tiny_gltf.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool KeepImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: import_floor FILE.glb OUT BYTES\n");
    return 2;
  }
  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(KeepImage, nullptr);
  tinygltf::Model model;
  std::string error, warning;
  if (!loader.LoadBinaryFromFile(&model, &error, &warning, argv[1])) {
    std::fprintf(stderr, "import_floor: %s\n", error.c_str());
    return 1;
  }
  const std::vector<char> bytes(size_t(std::strtoull(argv[3], nullptr, 10)), 'x');
  const int file = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file < 0 || ::write(file, bytes.data(), bytes.size()) != ssize_t(bytes.size()) ||
      ::fsync(file) != 0 || ::close(file) != 0) {
    std::perror("import_floor");
    return 1;
  }
  return 0;
}
