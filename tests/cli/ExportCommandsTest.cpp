#include "fixtures/GltfImages.h"
#include "tests/cli/CliRunner.h"

#include "fixtures/Demo.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/GltfParts.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/SyntheticArchive.h"
#include "fixtures/TempDir.h"
#include "platform/Files.h"

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::ExpectFailures;
using palkor::testing::RunCli;

namespace {

class ExportCommand : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Char = Dir.File("char.lgp"), Battle = Dir.File("battle.lgp");

  void SetUp() override {
    WriteFile(Char, BuildLGP(BuildDemoFieldArchive()));
    WriteFile(Battle, BuildLGP(BuildDemoBattleArchive()));
    WriteFile(Dir.File("only.filter"), "KNIGAnims=KNWV,\r\n");
  }

  static tinygltf::Model Load(const std::string& path) {
    tinygltf::TinyGLTF loader;
    fixtures::DecodeGltfImages(loader);
    tinygltf::Model model;
    std::string error, warning;
    bool ok = IsGlb(path) ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                          : loader.LoadASCIIFromFile(&model, &error, &warning, path);
    EXPECT_TRUE(ok) << error;
    return model;
  }
  static bool IsGlb(const std::string& path) { return ReadFileBytes(path).substr(0, 4) == "glTF"; }
  static std::vector<std::string> AnimationNames(const tinygltf::Model& model) {
    std::vector<std::string> names;
    for (const auto& a : model.animations) names.push_back(a.name);
    return names;
  }
  std::vector<std::string> Files(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

} // namespace

TEST_F(ExportCommand, WritesTheModelWithItsOfferedOrChosenAnimations) {
  struct Case {
    std::vector<std::string> Extra;
    std::vector<std::string> Animations;
  };
  const Case cases[] = {
      {{}, {"KNWA.A", "KNWV.A"}},                                       // every offered animation
      {{"--filter", Dir.File("only.filter")}, {"KNWV.A"}},              // those the filter names
      {{"--anim", "knwv.a", "--anim", "KNWA.A"}, {"KNWV.A", "KNWA.A"}}, // in the order given
  };
  for (const Case& c : cases) {
    std::string out = Dir.File("knight.GLB");
    std::vector<std::string> args{"export", Char, "knig.hrc", out};
    args.insert(args.end(), c.Extra.begin(), c.Extra.end());
    auto r = RunCli(args);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "");
    ASSERT_TRUE(IsGlb(out)); // ".GLB" in any case is binary
    tinygltf::Model model = Load(out);
    EXPECT_EQ(AnimationNames(model), c.Animations);
    EXPECT_EQ(model.nodes.at(size_t(model.skins.at(0).joints.at(0))).name, "root");
  }
}

TEST_F(ExportCommand, AnyOtherNameIsJSONWithEverythingEmbedded) {
  std::string out = Dir.File("golem.gltf");
  auto r = RunCli({"export", Battle, "rt", out, "--anim", "2", "--fps", "10"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  std::string text = ReadFileBytes(out);
  EXPECT_EQ(text.front(), '{');
  tinygltf::Model model = Load(out);
  EXPECT_EQ(AnimationNames(model), std::vector<std::string>{"Animation 2"});
  ASSERT_EQ(model.buffers.size(), 1u);
  EXPECT_EQ(model.buffers[0].uri.rfind("data:application/octet-stream;base64,", 0), 0u);
  ASSERT_EQ(model.images.size(), 2u); // the golem's two textures, each a data URI
  for (const auto& image : model.images) EXPECT_GT(image.width, 0);
  size_t uris = 0;
  for (size_t at = 0; (at = text.find("\"data:image/png;base64,", at)) != std::string::npos; ++at)
    ++uris;
  EXPECT_EQ(uris, 2u);
  // Frame 1 at 1 / 10 s.
  const auto& input = model.accessors.at(size_t(model.animations[0].samplers[0].input));
  EXPECT_FLOAT_EQ(float(input.maxValues.at(0)), float(input.count - 1) / 10);
  EXPECT_EQ(model.nodes.at(size_t(model.skins.at(0).joints.at(1))).name, "bone0");
}

TEST_F(ExportCommand, FailuresWriteNoFile) {
  TLGPFixture broken = BuildBrokenDemoFieldArchive(); // BRKN.HRC fails to load
  const std::string brokenPath = Dir.File("broken.lgp");
  WriteFile(brokenPath, BuildLGP(broken));

  const std::string out = Dir.File("out.glb");
  const std::string missingFolder = Dir.File("no/such/folder/out.glb");
  ExpectFailures({
      {{"export", Char, "nobody.hrc", out}, "no model named nobody.hrc"},
      {{"export", Char, "knig.hrc", out, "--anim", "nope.a"}, "no animation named nope.a"},
      {{"export", Battle, "rt", out, "--anim", "3"}, "no animation 3: the model has 2"},
      {{"export", Battle, "zz", out}, "ARRRGH! aa reality failure!: ZZAA is not in the archive"},
      {{"export", brokenPath, "brkn.hrc", out},
       "Stream read error: BRAA.P ends before the data it describes"},
  });
  EXPECT_FALSE(FileExists(out));

  auto r = RunCli({"export", Char, "knig.hrc", missingFolder});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err.rfind("palkor-cli: Cannot create file \"" + missingFolder + "\".", 0), 0u)
      << r.Err;
  EXPECT_FALSE(FileExists(missingFolder));

  // An existing file is replaced whole or kept: a failing export leaves it as it was.
  WriteFile(out, "old");
  EXPECT_EQ(RunCli({"export", Char, "knig.hrc", out, "--anim", "nope.a"}).ExitCode, 1);
  EXPECT_EQ(ReadFileBytes(out), "old");

  for (const char* fps : {"0", "1001", "x"})
    EXPECT_EQ(RunCli({"export", Char, "knig.hrc", out, "--fps", fps}).ExitCode, 2) << fps;
}

TEST_F(ExportCommand, ExportAllWritesEveryModelAndGoesOnPastFailures) {
  std::string folder = Dir.File("models/field"); // made, parents and all
  auto r = RunCli({"export-all", Char, folder, "--jobs", "2"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "exported 2 of 2 models\n");
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(Files(folder), (std::vector<std::string>{"HOUN.glb", "KNIG.glb"}));
  EXPECT_EQ(AnimationNames(Load(folder + "/KNIG.glb")),
            (std::vector<std::string>{"KNWA.A", "KNWV.A"}));

  r = RunCli({"export-all", Battle, Dir.File("models/battle")});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "exported 1 of 1 models\n");
  EXPECT_EQ(Files(Dir.File("models/battle")), std::vector<std::string>{"RT.glb"});

  TLGPFixture broken = BuildBrokenDemoFieldArchive(); // BRKN.HRC fails to load
  WriteFile(Dir.File("broken.lgp"), BuildLGP(broken));
  r = RunCli({"export-all", Dir.File("broken.lgp"), Dir.File("models/broken"), "--jobs", "1"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "exported 2 of 3 models\n");
  EXPECT_EQ(r.Err,
            "palkor-cli: BRKN: Stream read error: BRAA.P ends before the data it describes\n");
  EXPECT_EQ(Files(Dir.File("models/broken")), (std::vector<std::string>{"HOUN.glb", "KNIG.glb"}));

  // A folder that cannot be made.
  WriteFile(Dir.File("plain"), "a file");
  r = RunCli({"export-all", Char, Dir.File("plain/sub")});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err.rfind("palkor-cli: Cannot create folder", 0), 0u) << r.Err;
  EXPECT_EQ(RunCli({"export-all", Char, folder, "--jobs", "0"}).ExitCode, 2);
}

TEST_F(ExportCommand, ImportAnimWritesTheAnimationBackAndFailuresChangeNothing) {
  const std::string knight = Dir.File("knight.glb"), golem = Dir.File("golem.glb"),
                    hound = Dir.File("hound.glb");
  ASSERT_EQ(RunCli({"export", Char, "knig.hrc", knight}).ExitCode, 0);
  ASSERT_EQ(RunCli({"export", Battle, "rt", golem}).ExitCode, 0);
  ASSERT_EQ(RunCli({"export", Char, "houn.hrc", hound}).ExitCode, 0);
  const std::string charBefore = ReadFileBytes(Char), battleBefore = ReadFileBytes(Battle);
  const std::string frames = RunCli({"battle", Battle, "rt", "--frames"}).Out;
  const std::string wave = RunCli({"extract", Char, "KNWV.A"}).Out;

  // Failures, each leaving both archives byte for byte as they were; among them files made
  // to break the reader (a count whose bytes wrap past 2^64, a buffer of no bytes, a
  // rotation that is not a number, a buffer file that is a FIFO).
  WriteFile(Dir.File("text.glb"), "not glTF");
  const TGlbParts parts = SplitGlb(ReadFileBytes(knight));
  const int keys = parts.Document["animations"][0]["samplers"][0]["output"];
  auto crafted = [&](const std::string& name, const std::function<void(TGlbParts&)>& change) {
    TGlbParts changed = parts;
    change(changed);
    WriteFile(Dir.File(name), JoinGlb(changed));
    return Dir.File(name);
  };
  const std::string wrapped = crafted("wrapped.glb", [&](TGlbParts& p) {
    p.Document["accessors"][keys]["count"] = (uint64_t(1) << 62) + 1;
  });
  const std::string empty =
      crafted("empty.glb", [](TGlbParts& p) { p.Document["buffers"][0]["byteLength"] = 0; });
  const std::string notNumber = crafted("nan.glb", [&](TGlbParts& p) {
    p.PutF32LE(p.AccessorOffset(keys), std::numeric_limits<float>::quiet_NaN());
  });
  nlohmann::json piped = parts.Document;
  piped["buffers"][0]["uri"] = "pipe.bin";
  WriteFile(Dir.File("piped.gltf"), piped.dump());
  ASSERT_EQ(::mkfifo(Dir.File("pipe.bin").c_str(), 0600), 0);
  ExpectFailures({
      {{"import-anim", Char, "knig.hrc", Dir.File("none.glb"), "KNWA.A"},
       "Cannot open file \"" + Dir.File("none.glb") + "\". No such file or directory"},
      {{"import-anim", Char, "knig.hrc", knight, "NOPE.A"}, "no animation named NOPE.A"},
      {{"import-anim", Char, "knig.hrc", knight, "KNWA.A", "--from", "Walk"},
       "no animation named Walk in " + knight},
      {{"import-anim", Char, "knig.hrc", hound, "KNWA.A"}, "no joint named hip in " + hound},
      {{"import-anim", Char, "nobody.hrc", knight, "KNWA.A"}, "no model named nobody.hrc"},
      {{"import-anim", Battle, "rt", golem, "3"}, "no animation 3: the model has 2"},
      {{"import-anim", Battle, "rt", knight, "1"}, "no joint named bone0 in " + knight},
      {{"import-anim", Char, "knig.hrc", wrapped, "KNWA.A"},
       "Invalid glTF file \"" + wrapped + "\": accessor " + std::to_string(keys) +
           " lies outside its buffer"},
      {{"import-anim", Char, "knig.hrc", empty, "KNWA.A"},
       "Cannot read glTF file \"" + empty + "\": buffer 0 is empty"},
      {{"import-anim", Char, "knig.hrc", notNumber, "KNWA.A"},
       "Invalid glTF file \"" + notNumber + "\": animation 0 has a rotation that is not a number"},
      {{"import-anim", Battle, "rt", Dir.File("piped.gltf"), "1"},
       "Cannot read glTF file \"" + Dir.File("piped.gltf") +
           "\": it names \"pipe.bin\", which is not a regular file"},
  });
  auto r = RunCli({"import-anim", Char, "knig.hrc", Dir.File("text.glb"), "KNWA.A"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err.rfind("palkor-cli: Cannot read glTF file \"" + Dir.File("text.glb") + "\": ", 0),
            0u)
      << r.Err;
  EXPECT_EQ(RunCli({"import-anim", Char, "knig.hrc", knight, "KNWA.A", "--fps", "0"}).ExitCode, 2);
  EXPECT_EQ(ReadFileBytes(Char), charBefore);
  EXPECT_EQ(ReadFileBytes(Battle), battleBefore);

  // The exported animations written back: the same poses, member for member.
  r = RunCli({"import-anim", Char, "KNIG.HRC", knight, "knwv.a", "--from", "KNWV.A"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out + r.Err, "");
  EXPECT_EQ(RunCli({"extract", Char, "KNWV.A"}).Out, wave);
  for (const char* anim : {"1", "2"}) {
    r = RunCli(
        {"import-anim", Battle, "RT", golem, anim, "--from", std::string("Animation ") + anim});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
  }
  EXPECT_EQ(RunCli({"battle", Battle, "rt", "--frames"}).Out, frames);
  EXPECT_GT(ReadFileBytes(Battle).size(), battleBefore.size()); // written as replace writes
}

TEST_F(ExportCommand, ImportsRacingIntoOneBattleModelLoseNoChange) {
  // Each animation alone in a file; two processes at once put each in the other's place.
  const std::string one = Dir.File("one.glb"), two = Dir.File("two.glb");
  ASSERT_EQ(RunCli({"export", Battle, "rt", one, "--anim", "1"}).ExitCode, 0);
  ASSERT_EQ(RunCli({"export", Battle, "rt", two, "--anim", "2"}).ExitCode, 0);
  // The frame lines of one animation in battle --frames' output.
  auto framesOf = [](const std::string& text, int anim) {
    std::istringstream lines(text);
    std::string line, frames;
    int current = -1;
    while (std::getline(lines, line)) {
      if (line.rfind("anim\t", 0) == 0)
        current = std::stoi(line.substr(5));
      else if (line.rfind("frame\t", 0) == 0 && current == anim)
        frames += line + "\n";
    }
    return frames;
  };
  const std::string original = ReadFileBytes(Battle);
  const std::string before = RunCli({"battle", Battle, "rt", "--frames"}).Out;
  ASSERT_NE(framesOf(before, 0), framesOf(before, 1));
  for (int round = 0; round < 10; ++round) {
    WriteFile(Battle, original);
    palkor::testing::TCliResult a, b;
    std::thread first([&] { a = RunCli({"import-anim", Battle, "rt", two, "1"}); });
    std::thread second([&] { b = RunCli({"import-anim", Battle, "rt", one, "2"}); });
    first.join();
    second.join();
    ASSERT_EQ(a.ExitCode, 0) << a.Err;
    ASSERT_EQ(b.ExitCode, 0) << b.Err;
    const std::string after = RunCli({"battle", Battle, "rt", "--frames"}).Out;
    ASSERT_EQ(framesOf(after, 0), framesOf(before, 1)) << "round " << round;
    ASSERT_EQ(framesOf(after, 1), framesOf(before, 0)) << "round " << round;
  }
}

TEST_F(ExportCommand, FilesBoundInTheFirstFrameComeBackThroughImportAnim) {
  const std::string knight = Dir.File("knight.glb"), golem = Dir.File("golem.glb");
  for (const auto& [archive, model, out] :
       {std::tuple{Char, "knig.hrc", knight}, std::tuple{Battle, "rt", golem}}) {
    auto r = RunCli({"export", archive, model, out, "--bind-pose", "first-frame"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out + r.Err, "");
  }
  ASSERT_EQ(RunCli({"export", Char, "knig.hrc", Dir.File("zero.glb")}).ExitCode, 0);
  EXPECT_TRUE(ReadFileBytes(knight) != ReadFileBytes(Dir.File("zero.glb")));
  const std::string frames = RunCli({"battle", Battle, "rt", "--frames"}).Out;
  const std::string wave = RunCli({"extract", Char, "KNWV.A"}).Out;

  // The knight is bound in the walk's frame 0, which the archive holds: the wave comes
  // back into its own member byte for byte, and the golem's animations value for value.
  auto r = RunCli({"import-anim", Char, "KNIG.HRC", knight, "KNWV.A", "--from", "KNWV.A"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(RunCli({"extract", Char, "KNWV.A"}).Out, wave);
  for (const char* anim : {"1", "2"}) {
    r = RunCli(
        {"import-anim", Battle, "rt", golem, anim, "--from", std::string("Animation ") + anim});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
  }
  EXPECT_EQ(RunCli({"battle", Battle, "rt", "--frames"}).Out, frames);

  // export-all takes the choice for every model; anything else is wrong usage.
  ASSERT_EQ(RunCli({"export-all", Char, Dir.File("all"), "--bind-pose", "first-frame"}).ExitCode,
            0);
  EXPECT_TRUE(ReadFileBytes(Dir.File("all/KNIG.glb")) == ReadFileBytes(knight));
  for (const char* command : {"export", "export-all"})
    EXPECT_EQ(
        RunCli({command, Char, "knig.hrc", Dir.File("x.glb"), "--bind-pose", "rest"}).ExitCode, 2)
        << command;
}

TEST_F(ExportCommand, ExportAllRefusesNamesThatLeaveTheFolderAndEscapesThemWhenPrinted) {
  // Member names of an LGP archive may hold any byte: one leads out of OUTDIR, one (a
  // model that fails to load) holds a line end and a terminal's escape sequence.
  TLGPFixture fixture = BuildBrokenDemoFieldArchive();
  for (TLGPFixtureMember& member : fixture.Members) {
    if (member.Name == "KNIG.HRC") member.Name = "../KNIG.HRC";
    if (member.Name == "BRKN.HRC") member.Name = "B\nR\x1b[2J.HRC";
  }
  const std::string archive = Dir.File("names.lgp");
  WriteFile(archive, BuildLGP(fixture));
  WriteFile(Dir.File("KNIG.glb"), "not to be replaced");
  auto r = RunCli({"export-all", archive, Dir.File("models"), "--jobs", "2"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "exported 1 of 3 models\n");
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = r.Err.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(r.Err.substr(at, end - at));
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "palkor-cli: ../KNIG: \"../KNIG\" is not a plain file name",
                       "palkor-cli: B\\x0AR\\x1B[2J: Stream read error: BRAA.P ends before the "
                       "data it describes",
                   }))
      << r.Err;
  EXPECT_TRUE(ReadFileBytes(Dir.File("KNIG.glb")) == "not to be replaced"); // not a model file
  EXPECT_EQ(Files(Dir.File("models")), std::vector<std::string>{"HOUN.glb"});
}

namespace {

// The temporary files left in folder, and whether every model file there reads whole.
int TemporaryFilesIn(const std::string& folder) {
  int count = 0;
  if (std::filesystem::is_directory(folder))
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      count += entry.path().filename().string().rfind(".palkor-", 0) == 0;
  return count;
}

} // namespace

TEST_F(ExportCommand, ExportAllShortOfMemoryEndsWithOneLineNeverAnAbort) {
  // Limits below the least with which the whole run succeeds, down to where the
  // threads cannot be made: a thread that cannot be made, and a worker running short in
  // the middle of a model, are met on the way.
  constexpr uint64_t MiB = 1 << 20;
  auto limited = [](uint64_t limit, const std::vector<std::string>& args) {
    palkor::testing::TCliSetup setup;
    setup.AddressSpace = limit;
    return RunCli(args, setup);
  };
  const std::string folder = Dir.File("limited");
  const std::vector<std::string> exportAll{"export-all", Char, folder, "--jobs", "2"};
  uint64_t least = 4 * MiB; // the least that starts the program at all
  while (limited(least, {"--version"}).ExitCode != 0) {
    least += 2 * MiB;
    ASSERT_LT(least, 256 * MiB);
  }
  uint64_t enough = least;
  while (limited(enough, exportAll).ExitCode != 0) {
    enough += 8 * MiB;
    ASSERT_LT(enough, 1024 * MiB);
  }
  for (uint64_t limit = std::max(least, enough - 24 * MiB); limit < enough; limit += 2 * MiB) {
    std::filesystem::remove_all(folder);
    auto r = limited(limit, exportAll);
    const std::string at = std::to_string(limit / MiB) + " MiB: " + r.Err;
    ASSERT_TRUE(r.ExitCode == 0 || r.ExitCode == 1) << r.ExitCode << " at " << at;
    if (r.ExitCode == 0) {
      EXPECT_EQ(r.Out, "exported 2 of 2 models\n") << at;
    } else {
      EXPECT_FALSE(r.Err.empty()) << at; // a failure says what it was
    }
    for (size_t start = 0, end; (end = r.Err.find('\n', start)) != std::string::npos;
         start = end + 1) {
      const std::string line = r.Err.substr(start, end - start);
      EXPECT_EQ(line.rfind("palkor-cli: ", 0), 0u) << at;
      for (const char* library : {"std::", "terminate", "what()", "bad_alloc"})
        EXPECT_EQ(line.find(library), std::string::npos) << at;
    }
    EXPECT_EQ(TemporaryFilesIn(folder), 0) << at;
    if (std::filesystem::is_directory(folder)) {
      for (const auto& entry : std::filesystem::directory_iterator(folder)) // each one whole
        EXPECT_FALSE(Load(entry.path().string()).nodes.empty()) << at;
    }
  }
}

TEST_F(ExportCommand, ExportAllEndedBySignalsLeavesNoTemporaryFiles) {
  TSyntheticFieldOptions options;
  options.Models = 40;
  options.Bones = 4;
  std::filesystem::create_directory(Dir.File("many"));
  const TSyntheticFieldArchive archive = WriteSyntheticFieldArchive(Dir.File("many"), options);
  const std::string folder = Dir.File("models");
  const std::vector<std::string> args{"export-all", archive.Path, folder, "--jobs", "2"};
  // A whole run's length, to send the signals part of the way through.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(palkor::testing::WaitCli(palkor::testing::StartCli(args)), 0);
  const auto whole = std::chrono::steady_clock::now() - start;
  int ended = 0;
  const std::pair<int, double> kills[] = {{SIGTERM, 0.15}, {SIGINT, 0.3},  {SIGHUP, 0.45},
                                          {SIGTERM, 0.6},  {SIGINT, 0.75}, {SIGTERM, 0.9}};
  for (const auto& [signal, part] : kills) {
    std::filesystem::remove_all(folder);
    const int code = palkor::testing::SignalCliPartWay(args, whole, part, signal);
    // Ended by the signal as without a handler (or done before it came).
    EXPECT_TRUE(code == 128 + signal || code == 0) << code;
    ended += code == 128 + signal;
    EXPECT_EQ(TemporaryFilesIn(folder), 0) << "signal " << signal << " at " << part;
  }
  EXPECT_GT(ended, 0);
}
