// palkor_fuzz_seeds FOLDER: writes a starting corpus for each fuzz target into
// FOLDER/<target>/: valid files and a few faulty ones, all made by our own writers.
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "tests/fuzz/FuzzSupport.h"

#include <filesystem>
#include <string>

using namespace palkor::fixtures;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string root = argv[1];
  auto seed = [&](const std::string& target, const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(root + "/" + target);
    WriteFile(root + "/" + target + "/" + name, bytes);
  };

  TLGPFixture plain;
  plain.Add("AAAA.HRC", "skeleton").Add("AAAB.RSD", "resource").Add("AAAC.P", PatternBytes(64, 1));
  seed("fuzz_lgp", "plain.lgp", BuildLGP(plain));
  TLGPFixture odd = plain;
  odd.Members[1].TableOffset = MemberOffsets(odd)[0];
  odd.Members[2].HeaderSize = 1 << 20;
  odd.Gap = std::string(40, '\x01');
  seed("fuzz_lgp", "odd.lgp", BuildLGP(odd));
  TLGPFixture cut = plain;
  cut.TruncateAt = 100;
  seed("fuzz_lgp", "cut.lgp", BuildLGP(cut));
  seed("fuzz_lgp", "empty.lgp", BuildLGP(TLGPFixture()));

  const palkor::fuzzing::TModelMembers m = palkor::fuzzing::DefaultModel();
  seed("fuzz_hrc", "model.hrc", m.HRC);
  seed("fuzz_rsd", "model.rsd", m.RSD);
  seed("fuzz_ppart", "model.p", m.P);
  seed("fuzz_tex", "model.tex", m.TEX);
  seed("fuzz_anim", "model.a", m.A);
  TLGPFixture model;
  model.Add("M.HRC", m.HRC).Add("R.RSD", m.RSD).Add("P.P", m.P).Add("T.TEX", m.TEX).Add("M.A", m.A);
  seed("fuzz_model", "model.lgp", BuildLGP(model));

  const palkor::fuzzing::TBattleMembers battle = palkor::fuzzing::DefaultBattle();
  seed("fuzz_battle_skeleton", "battle.aa", battle.front().second);
  seed("fuzz_battle_anims", "battle.da", battle.back().second);
  std::string joined;
  for (const auto& [suffix, bytes] : battle) joined += (joined.empty() ? "" : "\x7F|\x7F") + bytes;
  seed("fuzz_battle_model", "battle.members", joined);

  const std::vector<std::string> gltf = palkor::fuzzing::DefaultGltfFiles();
  for (size_t i = 0; i < gltf.size(); ++i)
    seed("fuzz_gltf_import", std::to_string(i) + ".gltf", gltf[i]);
  for (size_t i = 0; i < gltf.size(); ++i)
    seed("fuzz_model_import", std::to_string(i) + ".gltf", gltf[i]);
  return 0;
}
