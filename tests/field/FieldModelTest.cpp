// Building field models from archives: skeleton text, resources, animation addressing,
// and saving the animation back.
#include "field/FieldModel.h"

#include "archive/FolderArchive.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "platform/DebugLog.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

std::string SmallP() {
  TPFixture p;
  p.AddBox(0, 0, 0, 1, 1, 1, {255, 255, 255, 255});
  return BuildP(p);
}

class FieldModelTest : public ::testing::Test {
protected:
  TTempDir Dir;
  TLGPFixture Lgp;
  std::string Path = Dir.File("char.lgp");

  void SetUp() override {
    Lgp.Add("PART.P", SmallP()).Add("PART.RSD", BuildRSD({"PART.PLY", {}, {}, {}}));
  }
  void AddSkeleton(const std::string& text) { Lgp.Add("SKEL.HRC", text); }
  void AddAnimation(size_t bones, size_t frames, const std::string& remainder = "") {
    TAFixture a;
    a.HeaderBoneCount = int32_t(bones);
    for (size_t f = 0; f < frames; ++f) {
      std::vector<std::array<float, 3>> frame;
      for (size_t b = 0; b < bones; ++b)
        frame.push_back({float(f * 100 + b), float(f * 100 + b) + 0.25f, -float(b)});
      a.Frames.push_back(frame);
    }
    a.Remainder = remainder;
    Lgp.Add("ANIM.A", BuildA(a));
  }
  std::unique_ptr<TFieldModel> Build() {
    WriteFile(Path, BuildLGP(Lgp));
    auto archive = TLGPFile::Create(Path, false);
    return std::make_unique<TFieldModel>(*archive, "skel.hrc", "anim.a");
  }
  std::string ErrorOf() {
    try {
      Build();
    } catch (const Exception& e) {
      return e.Message();
    }
    return "(no error)";
  }
};

std::string Skeleton(const std::string& records) {
  return ":HEADER_BLOCK 2\r\n:SKELETON skel\r\n:BONES 3\r\n" + records;
}

} // namespace

TEST_F(FieldModelTest, SkeletonRecordsBecomeBonesWithResolvedParents) {
  AddSkeleton(Skeleton("\r\nhip\r\nroot\r\n2.5\r\n1 PART\r\n"
                       "  # a comment, indented\r\n"
                       "\r\nchest\r\nhip\r\n-1.25\r\n2 PART PART\r\n"
                       "\r\n#between the lines of a record\r\nhip\r\nRoot\r\n3\r\nPART\r\n"
                       "\r\nself\r\nself\r\n0\r\n0\r\n"
                       "\r\nlast\r\nhip\r\n1e1\r\n0\r\n"));
  AddAnimation(5, 2);
  auto model = Build();
  ASSERT_EQ(model->BoneCount(), 6);
  EXPECT_EQ(model->GetBone(0).Name, "root");
  EXPECT_EQ(model->GetBone(0).Parent, -1);
  EXPECT_EQ(model->GetBone(0).Length, 0);
  const struct {
    const char* Name;
    int32_t Parent;
    float Length;
    size_t Parts;
  } expected[] = {
      {"hip", 0, 2.5f, 1}, {"chest", 1, -1.25f, 2},
      {"hip", -1, 3, 1},  // "Root" is not "root"; a line without a blank is one name
      {"self", -1, 0, 0}, // its own parent would hang from itself: unparented
      {"last", 1, 10, 0}, // the first bone named hip
  };
  for (int32_t i = 1; i < 6; ++i) {
    const TFieldBone& bone = model->GetBone(i);
    EXPECT_EQ(bone.Name, expected[i - 1].Name);
    EXPECT_EQ(bone.Parent, expected[i - 1].Parent) << bone.Name;
    EXPECT_EQ(bone.Length, expected[i - 1].Length) << bone.Name;
    EXPECT_EQ(bone.Parts.size(), expected[i - 1].Parts) << bone.Name;
  }
  EXPECT_EQ(model->HRCName, "skel.hrc");
  EXPECT_EQ(model->AnimName, "anim.a");
  EXPECT_EQ(model->LGPFileName, Path);
  EXPECT_EQ(model->LGPClass, &TLGPFile::Class());
}

TEST_F(FieldModelTest, AResourceLineWithoutABlankIsOneNameUnlessItIsZero) {
  Lgp.Add("12.RSD", BuildRSD({"PART.PLY", {}, {}, {}}))
      .Add("$1A.RSD", BuildRSD({"PART.PLY", {}, {}, {}}));
  const struct {
    std::string Line;
    size_t Parts;
    std::string Message;
  } cases[] = {
      {"0", 0, ""},   // a bone without parts, as our own files write it
      {"12", 1, ""},  // reads as a number, names 12.rsd all the same
      {"$1A", 1, ""}, // so does a hexadecimal one
      {"00", 0, "List index out of bounds (-1): 00.rsd is not in the archive"},
      {"1 12", 1, ""},
  };
  AddAnimation(1, 1);
  for (const auto& c : cases) {
    Lgp.Members.erase(std::remove_if(Lgp.Members.begin(), Lgp.Members.end(),
                                     [](auto& m) { return m.Name == "SKEL.HRC"; }),
                      Lgp.Members.end());
    AddSkeleton(Skeleton("\r\nhip\r\nroot\r\n1\r\n" + c.Line + "\r\n"));
    if (!c.Message.empty()) {
      EXPECT_EQ(ErrorOf(), c.Message) << c.Line;
      continue;
    }
    EXPECT_EQ(Build()->GetBone(1).Parts.size(), c.Parts) << c.Line;
  }
}

TEST_F(FieldModelTest, AChainOfAHundredThousandBonesIsBuiltAndPosed) {
  // Each bone hangs from the one before: a parent search from the root for every bone
  // would take minutes.
  constexpr int32_t count = 100000;
  std::string records;
  for (int32_t i = 0; i < count; ++i)
    records += "\r\nb" + std::to_string(i) + "\r\n" + (i ? "b" + std::to_string(i - 1) : "root") +
               "\r\n1\r\n0\r\n";
  AddSkeleton(Skeleton(records));
  WriteFile(Path, BuildLGP(Lgp));
  auto archive = TLGPFile::Create(Path, false);
  TFieldModel model(*archive, "skel.hrc", "");
  ASSERT_EQ(model.BoneCount(), count + 1);
  EXPECT_EQ(model.GetBone(count).Parent, count - 1);
  std::vector<TPosedJoint> joints = model.PoseFrom(0, TMatrix4::Identity());
  EXPECT_EQ(joints.size(), size_t(count + 1));
  DebugLog().ClearLines();
}

TEST_F(FieldModelTest, SavingWhileAnotherProgramReplacesAMemberLosesNeither) {
  AddSkeleton(Skeleton("\r\nhip\r\nroot\r\n1\r\n1 PART\r\n"));
  AddAnimation(1, 2);
  auto model = Build();
  for (int round = 0; round < 50; ++round) {
    model->SetRotation(1, 1, {float(round), 2, 3});
    const std::string edited(model->AnimData.View());
    const std::string part = SmallP() + std::to_string(round);
    std::atomic<int> ready{0};
    std::thread other([&] {
      auto archive = TLGPFile::Create(Path, false);
      TMemoryStream data(part);
      ++ready;
      while (ready < 2) {
      }
      archive->WriteMember(archive->IndexOf("PART.P"), data);
    });
    ++ready;
    while (ready < 2) {
    }
    model->SaveAnimation();
    other.join();
    auto archive = TLGPFile::Create(Path, false);
    ASSERT_EQ(archive->ReadMemberToMemory(archive->IndexOf("ANIM.A"))->View(), edited) << round;
    ASSERT_EQ(archive->ReadMemberToMemory(archive->IndexOf("PART.P"))->View(), part) << round;
  }
}

TEST_F(FieldModelTest, ConstructionIsTracedInTheLog) {
  AddSkeleton(Skeleton("\r\nhip\r\nroot\r\n1\r\n1 PART\r\n"));
  AddAnimation(1, 1);
  size_t before = DebugLog().Lines().size();
  Build();
  std::vector<std::string> lines(DebugLog().Lines().begin() + long(before),
                                 DebugLog().Lines().end());
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "TFF7Model.Create", "TFF7Model.Create: Get Anims", "TFF7Model.Create: Get HRC",
                "TFF7Model.Create: Scan HRC", "TFF7Model.Create: Part hip",
                "TFF7Model.Create: HRC scan complete", "TFF7Model.Create: Finished"}));
}

TEST_F(FieldModelTest, MalformedModelsFailWithOneMessage) {
  struct Case {
    std::string Skeleton;
    size_t AnimBones, AnimFrames;
    std::string Message;
  };
  const Case cases[] = {
      {Skeleton(" \r\nhip\r\nroot\r\n1\r\n0\r\n"), 1, 1,
       "HRC fail: skel.hrc has a bone that does not begin with an empty line"},
      {Skeleton("\r\nhip\r\nroot\r\n1\r\n0\r\n\r\n"), 1, 1,
       "List index out of bounds (0): skel.hrc ends inside a bone"},
      {Skeleton("\r\nhip\r\nroot\r\n1\r\n"), 1, 1,
       "List index out of bounds (0): skel.hrc ends inside a bone"},
      {":HEADER_BLOCK 2\r\n", 1, 1, "List index out of bounds (0): skel.hrc ends inside a bone"},
      {Skeleton("\r\nhip\r\nroot\r\n1,5\r\n0\r\n"), 1, 1,
       "'1,5' is not a valid floating point value: the length of bone hip in skel.hrc"},
      {Skeleton("\r\nhip\r\nroot\r\n1\r\n1 MISSING\r\n"), 1, 1,
       "List index out of bounds (-1): MISSING.rsd is not in the archive"},
      {Skeleton("\r\nhip\r\nroot\r\n1\r\n0\r\n"), 1, 0,
       "Stream read error: anim.a holds no whole frame of 2 bones"},
  };
  for (const Case& c : cases) {
    Lgp.Members.resize(2);
    AddSkeleton(c.Skeleton);
    AddAnimation(c.AnimBones, c.AnimFrames);
    EXPECT_EQ(ErrorOf(), c.Message) << c.Skeleton;
  }
  // A missing animation fails before the skeleton is read.
  Lgp.Members.resize(2);
  AddSkeleton(Skeleton(""));
  size_t before = DebugLog().Lines().size();
  EXPECT_EQ(ErrorOf(), "List index out of bounds (-1): anim.a is not in the archive");
  EXPECT_EQ(DebugLog().Lines().back(), "TFF7Model.Create: Get Anims");
  EXPECT_EQ(DebugLog().Lines().size(), before + 2);
}

TEST_F(FieldModelTest, ResourcesNameTheirPartAndTexturesByKey) {
  Lgp.Add("A.P", SmallP())
      .Add("CUT.P", SmallP().substr(0, SmallP().size() - 7))
      .Add("RED.TEX", BuildOneColourTEX(200, 0, 0))
      .Add("BLUE.TEX", BuildOneColourTEX(10, 0, 0));
  const struct {
    std::string Rsd;
    size_t Textures;
    std::string Message;
  } cases[] = {
      {"ply=A.PLY\r\nNTEX=2\r\nTEX[0]=RED.TIM\r\ntex[1]=BLUE.TIM\r\nTEX[2]=NONE.TIM\r\n", 2, ""},
      {"PLY=A.PLY\r\nNTEX=0\r\nTEX[0]=RED.TIM\r\n", 0, ""},
      {"PLY=A.PLY\r\nTEX[0]=RED.TIM\r\n", 0, ""},
      {"PLY=A.PLY\r\nNTEX=x\r\nTEX[0]=RED.TIM\r\n", 0, ""},
      {"PLY =A.PLY\r\n", 0, "List index out of bounds (-1): R.rsd names no P part"},
      {"PLY=A.PLY\r\nNTEX=1\r\nTEX[0]=NONE.TIM\r\n", 0,
       "List index out of bounds (-1): NONE.TEX is not in the archive"},
      {"PLY=CUT.PLY\r\n", 0, "Stream read error: CUT.P ends before the data it describes"},
      {"PLY=A.PLY\r\nNTEX=2\r\nTEX[0]=RED.TIM\r\n", 0,
       "Invalid resource R.rsd: TEX[1] names no texture"},
  };
  AddSkeleton(Skeleton("\r\nhip\r\nroot\r\n1\r\n1 R\r\n"));
  AddAnimation(1, 1);
  for (const auto& c : cases) {
    Lgp.Members.erase(std::remove_if(Lgp.Members.begin(), Lgp.Members.end(),
                                     [](auto& m) { return m.Name == "R.RSD"; }),
                      Lgp.Members.end());
    Lgp.Add("R.RSD", c.Rsd);
    if (!c.Message.empty()) {
      EXPECT_EQ(ErrorOf(), c.Message) << c.Rsd;
      continue;
    }
    auto model = Build();
    const TFF7PPart& part = *model->GetBone(1).Parts.at(0);
    EXPECT_EQ(part.Textures.size(), c.Textures) << c.Rsd;
    EXPECT_EQ(part.Blended, c.Textures > 0);
    EXPECT_EQ(model->GetBone(1).Blended, c.Textures > 0);
    if (c.Textures == 2) {
      // In the entries' order: texture 0 is the red one.
      EXPECT_EQ(part.Textures[0]->Pixels.at(0), 200);
    }
  }
}

TEST_F(FieldModelTest, AnimationFramesAreAddressedBySkeletonNotHeader) {
  // 20 bones: a frame is 264 bytes; 10 frames and 100 bytes left over.
  std::string records;
  for (int b = 0; b < 20; ++b) records += "\r\nb" + std::to_string(b) + "\r\nroot\r\n1\r\n0\r\n";
  AddSkeleton(Skeleton(records));
  AddAnimation(20, 10, std::string(100, '\x5a'));
  auto model = Build();
  EXPECT_EQ(AnimFrameSize(model->BoneCount()), 264);
  EXPECT_EQ(model->FrameCount, 10);
  EXPECT_EQ(model->AnimData.Size(), 36 + 264 * 10 + 100);
  // Frame 0: bone 1 from byte 60.
  EXPECT_EQ(model->GetBone(1).RotX, 0);
  EXPECT_EQ(model->GetBone(1).RotY, 0.25f);
  model->SetFrame(2);
  EXPECT_EQ(model->CurrentFrame, 2);
  EXPECT_EQ(model->GetBone(3).RotX, 202);
  EXPECT_EQ(model->GetBone(3).RotZ, -2);
  EXPECT_EQ(model->GetBone(0).RotX, 0); // the root is never posed
  EXPECT_THROW(model->SetFrame(10), EReadError);
  EXPECT_THROW(model->SetFrame(-1), EReadError);
  // An entry outside the skeleton has no rotation, though its place would lie inside.
  EXPECT_THROW(model->GetRotation(model->BoneCount(), 0), EReadError);
  EXPECT_THROW(model->SetRotation(model->BoneCount(), 0, {}), EWriteError);

  // An HRC with no bone records: frames of 24 bytes.
  Lgp.Members.resize(2);
  AddSkeleton(Skeleton(""));
  AddAnimation(0, 3);
  auto bare = Build();
  EXPECT_EQ(bare->BoneCount(), 1);
  EXPECT_EQ(bare->FrameCount, 3);
}

TEST_F(FieldModelTest, EditingWritesOnlyTheSelectedTripleAndSavingKeepsTheRest) {
  AddSkeleton(
      Skeleton("\r\na\r\nroot\r\n1\r\n0\r\n\r\nb\r\na\r\n1\r\n0\r\n\r\nc\r\nb\r\n1\r\n0\r\n"));
  AddAnimation(3, 6, "tail");
  auto model = Build();
  std::string original(model->AnimData.View());
  const int64_t s = AnimFrameSize(4);

  EXPECT_EQ(model->GetBone(3).RotX, 2); // frame 0, the third triple

  model->SetFrame(5);
  for (float angle : {10.f, 20.f, 33.5f}) model->SetRotation(3, 5, {angle, -1, 2});
  EXPECT_EQ(model->GetBone(3).RotX, 33.5f); // posed again at once
  // The root's slot is the frame's second triple; nothing a bone reads.
  model->SetRotation(0, 5, {1, 1, 1});
  EXPECT_EQ(model->GetBone(1).RotX, 500);
  // Bones outside the list are not written.
  EXPECT_THROW(model->SetRotation(4, 5, {1, 1, 1}), EWriteError);
  EXPECT_THROW(model->SetRotation(-1, 5, {1, 1, 1}), EWriteError);

  std::string edited(model->AnimData.View());
  ASSERT_EQ(edited.size(), original.size());
  for (size_t i = 0; i < edited.size(); ++i) {
    bool bone3 = int64_t(i) >= 48 + 36 + 5 * s && int64_t(i) < 48 + 36 + 5 * s + 12;
    bool root = int64_t(i) >= 48 + 5 * s && int64_t(i) < 48 + 5 * s + 12;
    if (!bone3 && !root) {
      ASSERT_EQ(edited[i], original[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(edited.substr(edited.size() - 4), "tail");

  // Saving replaces the member with exactly those bytes; the other members are intact.
  model->SaveAnimation();
  auto archive = TLGPFile::Create(Path, false);
  EXPECT_EQ(archive->ReadMemberToMemory(archive->IndexOf("ANIM.A"))->View(), edited);
  EXPECT_EQ(archive->ReadMemberToMemory(archive->IndexOf("PART.P"))->View(), SmallP());
  // A member gone from the archive: the archive's error, and AnimData as it was.
  Lgp.Members.pop_back();
  Lgp.Add("OTHER.A", original);
  WriteFile(Path, BuildLGP(Lgp));
  EXPECT_THROW(model->SaveAnimation(), EListError);
  EXPECT_EQ(model->AnimData.View(), edited);
}

TEST_F(FieldModelTest, AFolderModelSavesIntoItsFile) {
  std::string folder = Dir.File("loose");
  std::filesystem::create_directory(folder);
  AddSkeleton(Skeleton("\r\na\r\nroot\r\n1\r\n1 PART\r\n"));
  AddAnimation(1, 2);
  for (const auto& m : Lgp.Members) WriteFile(folder + "/" + m.Name, m.Data);
  auto archive = TFolderArchive::CreateFromFolder(folder);
  TFieldModel model(*archive, "SKEL.HRC", "ANIM.A");
  EXPECT_EQ(model.LGPClass, &TFolderArchive::Class());
  model.SetRotation(1, 0, {45, 0, 0});
  model.SaveAnimation();
  EXPECT_EQ(ReadFileBytes(folder + "/ANIM.A"), std::string(model.AnimData.View()));
}

TEST_F(FieldModelTest, RotationsAreReadAndWrittenByBoneAndFrame) {
  AddSkeleton(Skeleton("\r\na\r\nroot\r\n1\r\n0\r\n\r\nb\r\na\r\n1\r\n0\r\n"));
  AddAnimation(2, 4);
  auto model = Build();
  const std::string original(model->AnimData.View());
  EXPECT_EQ(model->GetRotation(2, 3).X, 301);
  model->SetFrame(1);
  model->SetRotation(2, 1, {1, 2, 3}); // the frame on show: posed again
  EXPECT_EQ(model->GetBone(2).RotZ, 3);
  model->SetRotation(1, 3, {4, 5, 6}); // another frame: the pose stays
  EXPECT_EQ(model->GetBone(1).RotX, 100);
  EXPECT_EQ(model->GetRotation(1, 3).Z, 6);
  const std::string edited(model->AnimData.View());
  // Outside the animation nothing is written and the member never grows.
  EXPECT_THROW(model->SetRotation(2, 4, {}), EWriteError);
  EXPECT_THROW(model->SetRotation(3, 0, {}), EWriteError);
  EXPECT_THROW(model->SetRotation(-1, 0, {}), EWriteError);
  EXPECT_THROW(model->GetRotation(1, 4), EReadError);
  EXPECT_EQ(model->AnimData.View(), edited);
  // Exactly the two triples changed.
  size_t changed = 0;
  for (size_t i = 0; i < edited.size(); ++i) changed += edited[i] != original[i];
  EXPECT_LE(changed, 24u);
}

TEST_F(FieldModelTest, AModelWithoutAnAnimationStandsInTheRestPose) {
  Lgp.Add("RED.TEX", BuildOneColourTEX(200, 0, 0));
  Lgp.Add("T.RSD", "PLY=PART.PLY\r\nNTEX=1\r\nTEX[0]=red.TIM\r\n");
  // Two bones whose resources name the same texture member in other letter cases.
  Lgp.Add("U.RSD", "PLY=PART.PLY\r\nNTEX=1\r\nTEX[0]=RED.TIM\r\n");
  AddSkeleton(Skeleton("\r\na\r\nroot\r\n1\r\n1 T\r\n\r\nb\r\na\r\n1\r\n1 U\r\n"));
  WriteFile(Path, BuildLGP(Lgp));
  auto archive = TLGPFile::Create(Path, false);
  TFieldModel model(*archive, "SKEL.HRC", "");
  EXPECT_EQ(model.FrameCount, 0);
  EXPECT_EQ(model.AnimData.Size(), 0);
  EXPECT_EQ(model.GetBone(2).RotX, 0);
  EXPECT_THROW(model.GetRotation(1, 0), EReadError);
  // One decoded image for both parts.
  EXPECT_EQ(model.GetBone(1).Parts.at(0)->Textures.at(0),
            model.GetBone(2).Parts.at(0)->Textures.at(0));
}
