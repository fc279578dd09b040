// palkor_bench_data FOLDER: the files the whole-process measurements run on, made by our
// own writers:
//   catalogue.lgp      56 MB: 1,200 skeletons, 4,000 animations, 16,000 members in all,
//                      the 50 largest of them 200 KB textures; the skeletons and
//                      animations lie together at the start; every .TEX member a
//                      palettised texture (its pixels a pattern), padded to its size
//   char.lgp           the same counts and size laid out as the game's field archive:
//                      each skeleton followed by its parts, resources and textures with
//                      its animations among them, so that the members the catalogue
//                      reads lie a few KB apart all through the file
//   largest.txt        those 50 members' names; members/NAME their bytes
//   tiny/battle.lgp    the demo golem
//   big/battle.lgp     a battle model whose animations member is about 3 MB
//   render.lgp         the demo archive with the knight's walk lengthened to 30 frames
//                      (KN30.A)
//   paint.png          a 256x256 RGBA picture of many colours, as painted, for tex-import
#include "battle/BattleModel.h"
#include "field/AnimLayout.h"
#include "fixtures/BattleWriters.h"
#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "platform/Streams.h"
#include "platform/images.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

// A palettised texture of exactly size bytes (at least 1,300): 256 colours, a width of
// 32 or 256 and as many rows as fit, the rest padding; palette and pixels a pattern.
std::string TextureOfSize(size_t size, uint32_t seed) {
  const size_t width = size >= 64 * 1024 ? 256 : 32;
  const size_t height = (size - 236 - 1024) / width;
  std::string tex(236, '\0');
  auto put = [&](size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) tex[offset + size_t(i)] = char(value >> (8 * i));
  };
  put(60, uint32_t(width));
  put(64, uint32_t(height));
  put(88, 256);
  tex += PatternBytes(1024 + width * height, seed);
  tex += PatternBytes(size - tex.size(), seed + 1);
  return tex;
}

void WriteCatalogueArchive(const std::string& folder) {
  TLGPFixture lgp;
  std::ofstream largest(folder + "/largest.txt");
  std::filesystem::create_directories(folder + "/members");
  int name = 0, members = 0;
  for (int m = 0; m < 1200; ++m) {
    THRCFixture hrc;
    hrc.Skeleton = Letters(m, 4);
    for (int b = 0; b < 12; ++b)
      hrc.Bones.push_back({"bone" + std::to_string(b),
                           b ? "bone" + std::to_string(b - 1) : "root",
                           "1.5",
                           {Letters(name + b, 4)},
                           {}});
    lgp.Add(Letters(name++, 4) + ".HRC", BuildHRC(hrc));
    ++members;
  }
  for (int a = 0; a < 4000; ++a, ++members) {
    TAFixture anim;
    anim.HeaderBoneCount = 12 + a % 7;
    anim.Frames.assign(3 + a % 5, std::vector<std::array<float, 3>>(size_t(anim.HeaderBoneCount),
                                                                    {1, 2, float(a)}));
    lgp.Add(Letters(name++, 4) + ".A", BuildA(anim));
  }
  for (int big = 0; big < 50; ++big, ++members) {
    const std::string member = Letters(name++, 4) + ".TEX";
    const std::string bytes = TextureOfSize(200 * 1024 + size_t(big) * 64, uint32_t(big));
    lgp.Add(member, bytes);
    largest << member << "\n";
    WriteFile(folder + "/members/" + member, bytes);
  }
  // The rest: parts, resources and textures of a few KB, to 56 MB.
  int64_t total = 0;
  for (const auto& member : lgp.Members) total += int64_t(member.Data.size());
  const int rest = 16000 - members;
  const size_t size = size_t((56LL * 1000 * 1000 - total) / rest);
  static const char* extensions[] = {".P", ".RSD", ".TEX"};
  for (int i = 0; i < rest; ++i)
    lgp.Add(Letters(name++, 4) + extensions[i % 3],
            i % 3 == 2 ? TextureOfSize(size, uint32_t(i)) : PatternBytes(size, uint32_t(i)));
  WriteFile(folder + "/catalogue.lgp", BuildLGP(lgp));
}

void WriteFieldShapedArchive(const std::string& folder) {
  constexpr int models = 1200, others = 9; // 1,200 x (1 + 9) + 4,000 animations = 16,000
  constexpr int64_t total = 56LL * 1000 * 1000;
  TLGPFixture lgp;
  int name = 0, anim = 0;
  std::vector<size_t> otherMembers; // where the parts, resources and textures go
  for (int m = 0; m < models; ++m) {
    THRCFixture hrc;
    hrc.Skeleton = Letters(m, 4);
    for (int b = 0; b < 12; ++b)
      hrc.Bones.push_back({"bone" + std::to_string(b),
                           b ? "bone" + std::to_string(b - 1) : "root",
                           "1.5",
                           {Letters(name + b, 4)},
                           {}});
    lgp.Add(Letters(name++, 4) + ".HRC", BuildHRC(hrc));
    // Three animations after the second, fifth and eighth other member; every third
    // model a fourth at the end, 4,000 in all.
    const int anims = m % 3 == 2 ? 4 : 3;
    for (int o = 0; o < others; ++o) {
      static const char* extensions[] = {".RSD", ".P", ".TEX"};
      otherMembers.push_back(lgp.Members.size());
      lgp.Add(Letters(name++, 4) + extensions[o % 3], "");
      if (o % 3 == 1 || (o == others - 1 && anims == 4)) {
        TAFixture a;
        a.HeaderBoneCount = 12 + anim % 7;
        a.Frames.assign(3 + anim % 5, std::vector<std::array<float, 3>>(size_t(a.HeaderBoneCount),
                                                                        {1, 2, float(anim)}));
        lgp.Add(Letters(name++, 4) + ".A", BuildA(a));
        ++anim;
      }
    }
  }
  // The other members' sizes vary from 1 to 15 units, the units filling the archive
  // to 56 MB.
  int64_t used = 0, weights = 0;
  for (const auto& member : lgp.Members) used += int64_t(member.Data.size());
  for (size_t k = 0; k < otherMembers.size(); ++k) weights += 1 + int64_t(k * 7 % 15);
  const int64_t unit = (total - used) / weights;
  for (size_t k = 0; k < otherMembers.size(); ++k)
    lgp.Members[otherMembers[k]].Data =
        PatternBytes(size_t(unit * (1 + int64_t(k * 7 % 15))), uint32_t(k));
  WriteFile(folder + "/char.lgp", BuildLGP(lgp));
}

// Soft shapes and gradients of some thousands of colours, with a transparent border.
void WritePaint(const std::string& folder) {
  constexpr int size = 256;
  std::vector<uint8_t> pixels;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const double u = x / double(size), v = y / double(size);
      const double ring = std::sin(20 * std::hypot(u - 0.4, v - 0.6));
      pixels.push_back(uint8_t(127 + 120 * ring * u));
      pixels.push_back(uint8_t(255 * v));
      pixels.push_back(uint8_t(200 - 150 * u * v));
      pixels.push_back(x < 4 || y < 4 ? 0 : 255);
    }
  WriteFile(folder + "/paint.png", EncodePNG(size, size, pixels.data(), 4));
}

void WriteBigBattle(const std::string& folder) {
  std::vector<TBattleBoneFixture> bones;
  for (int b = 0; b < 20; ++b) bones.push_back({b - 1, 10, false});
  TBattleAnimFixture anim;
  std::vector<TBattleRotation> rotations(21);
  int32_t ox = 0, oy = 0, oz = 0;
  for (int f = 0; f < 70000; ++f) {
    TBattleFrame frame;
    if (f > 0) {
      ox += (f % 7) - 3;
      oy += (f % 5) - 2;
      oz += (f % 11) - 5;
      for (size_t r = 0; r < rotations.size(); ++r) {
        auto step = [&](int16_t& v, int k) {
          // Mostly small turns; now and then a jump only a raw code holds.
          int delta = (f + int(r) * 3 + k) % 53 == 0
                          ? 700
                          : int(std::lround(6 * std::sin(f * 0.05 + r + k)));
          v = int16_t(((v + delta) % 4096 + 4096) % 4096);
        };
        step(rotations[r].X, 0);
        step(rotations[r].Y, 1);
        step(rotations[r].Z, 2);
      }
    }
    frame.OffsetX = f ? ox : 0;
    frame.OffsetY = f ? oy : 0;
    frame.OffsetZ = f ? oz : 0;
    frame.Rotations.assign(rotations.begin(), rotations.end());
    anim.Frames.push_back(std::move(frame));
  }
  TLGPFixture lgp;
  lgp.Add("zzaa", BuildBattleSkeleton(bones));
  lgp.Add("zzab", "");
  lgp.Add("zzam", "");
  lgp.Add("zzda", BuildBattleAnimations({EncodeBattleAnimation(anim)}));
  std::filesystem::create_directories(folder + "/big");
  WriteFile(folder + "/big/battle.lgp", BuildLGP(lgp));
}

void WriteRenderArchive(const std::string& folder) {
  TLGPFixture lgp = BuildDemoFieldArchive();
  std::string walk;
  for (const auto& member : lgp.Members)
    if (member.Name == "KNWA.A") walk = member.Data;
  // The knight's 24 frames of 12 bone-list entries, repeated to 30.
  const int32_t entries = 12, frames = AnimFrameCount(int64_t(walk.size()), entries);
  std::string longer = walk;
  for (int32_t f = frames; f < 30; ++f)
    longer +=
        walk.substr(size_t(AnimFrameAddress(entries, f % frames)), size_t(AnimFrameSize(entries)));
  lgp.Add("KN30.A", longer);
  WriteFile(folder + "/render.lgp", BuildLGP(lgp));
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: palkor_bench_data FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::filesystem::create_directories(folder + "/tiny");
  WriteCatalogueArchive(folder);
  WriteFieldShapedArchive(folder);
  WriteFile(folder + "/tiny/battle.lgp", BuildLGP(BuildDemoBattleArchive()));
  WriteBigBattle(folder);
  WriteRenderArchive(folder);
  WritePaint(folder);
  return 0;
}
