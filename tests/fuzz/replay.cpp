// palkor_fuzz_replay TARGET FOLDER...: runs one fuzz target's entry over every file in the
// folders, as the fuzzer would, in an ordinary build (no sanitizers): the kept corpus
// and the seeds must go through without a crash or a runaway. Exits 1 if a folder is
// missing or empty, 2 on wrong usage.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define PALKOR_FUZZ_TARGETS(X)                                                                     \
  X(fuzz_lgp)                                                                                      \
  X(fuzz_hrc)                                                                                      \
  X(fuzz_rsd)                                                                                      \
  X(fuzz_ppart)                                                                                    \
  X(fuzz_tex)                                                                                      \
  X(fuzz_anim)                                                                                     \
  X(fuzz_model)                                                                                    \
  X(fuzz_battle_skeleton)                                                                          \
  X(fuzz_battle_anims)                                                                             \
  X(fuzz_battle_model)                                                                             \
  X(fuzz_gltf_import)                                                                              \
  X(fuzz_model_import)

#define PALKOR_DECLARE(name) extern "C" int PalkorFuzz_##name(const uint8_t* data, size_t size);
PALKOR_FUZZ_TARGETS(PALKOR_DECLARE)

namespace {

struct TTarget {
  const char* Name;
  int (*Run)(const uint8_t*, size_t);
};

#define PALKOR_ENTRY(name) {#name, PalkorFuzz_##name},
const TTarget Targets[] = {PALKOR_FUZZ_TARGETS(PALKOR_ENTRY)};

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: palkor_fuzz_replay TARGET FOLDER...\n");
    return 2;
  }
  const TTarget* target = nullptr;
  for (const TTarget& t : Targets)
    if (std::strcmp(t.Name, argv[1]) == 0) target = &t;
  if (!target) {
    std::fprintf(stderr, "no fuzz target named %s\n", argv[1]);
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
      if (entry.is_regular_file()) files.push_back(entry.path());
    if (files.empty()) {
      std::fprintf(stderr, "%s: no inputs in %s\n", argv[1], argv[i]);
      return 1;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      target->Run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%s: %zu inputs from %s\n", argv[1], files.size(), argv[i]);
  }
  return 0;
}
