#include "app/catalogue.h"

#include "archive/FolderArchive.h"
#include "fixtures/CatalogueCache.h"
#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/FilePieces.h"
#include "platform/Files.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace palkor;
using namespace palkor::fixtures;
using palkor::testing::ErrorOf;

namespace {

std::string HRC(const std::string& line2, const std::string& line3) {
  return ":HEADER_BLOCK 2\r\n" + line2 + "\r\n" + line3 + "\r\n\r\nhip\r\nroot\r\n1\r\n0\r\n";
}

std::string Anim(int32_t bones) {
  TAFixture a;
  a.HeaderBoneCount = bones;
  return BuildA(a);
}

struct TRecorder : TCatalogueListener {
  std::vector<std::string> Texts;
  int Repaints = 0;
  int32_t Width = 100;
  std::vector<bool> Updating;
  void StatusText(const std::string& text) override { Texts.push_back(text); }
  int32_t ProgressPanelWidth() const override { return Width; }
  void RepaintProgress() override { ++Repaints; }
  void ModelListUpdating(bool updating) override { Updating.push_back(updating); }
};

class CatalogueTest : public ::testing::Test {
protected:
  TTempDir Dir;
  TCatalogue Catalogue;

  void Analyse(const TLGPFixture& lgp, const std::string& fileName = "char.lgp",
               TCatalogueListener* listener = nullptr) {
    std::string path = Dir.File(fileName);
    WriteFile(path, BuildLGP(lgp));
    auto archive = TLGPFile::Create(path, false);
    Catalogue.ArchivePath = path;
    Catalogue.AnalyseArchive(*archive, listener);
  }
  static TLGPFixture Field() {
    TLGPFixture lgp;
    lgp.Add("aaaa.hrc", HRC(":SKELETON aaaa", ":BONES 21"));
    lgp.Add("AAAB.P", "part, ignored");
    lgp.Add("ABCD.A", Anim(21));
    lgp.Add("BBBB.HRC", HRC(":SKEL", ":BONES x"));                // short name, bad count
    lgp.Add("CCCC.HRC", HRC(":SKELETON cccc", ":BONES"));         // no blank: left out
    lgp.Add("DDDD.HRC", ":HEADER_BLOCK 2\r\n:SKELETON dddd\r\n"); // two lines: left out
    lgp.Add("EFGH.a", Anim(21));
    lgp.Add("SHRT.A", std::string(11, '\0')); // no bone count: left out
    lgp.Add("XXXX.A", Anim(3));
    lgp.Add("EEEE.HRC", HRC(":SKELETON a-very-long-skeleton-name-beyond-thirty", ":BONES 3"));
    return lgp;
  }
  // The field archive with names that hold the cache's separators and " - ".
  static TLGPFixture Awkward() {
    TLGPFixture lgp = Field();
    lgp.Add("T\tB%.hrc", HRC(":SKELETON s\tk%", ":BONES 3"));
    lgp.Add("A - B.HRC", HRC(":SKELETON x - y.HRC - z", ":BONES 21"));
    return lgp;
  }
};

// The archive read member by member: its reader reads no heads, so the analysis reads
// each member on its own, as a folder's is read.
class TMemberByMember : public TLGPFile {
public:
  explicit TMemberByMember(const std::string& path) { Open(path, false); }
  std::unique_ptr<TLGPMemberReader> OpenMemberReader() override {
    struct TReader : TLGPMemberReader {
      std::unique_ptr<TLGPMemberReader> Inner;
      void Read(int32_t index, TStream& dest, int64_t maxBytes) override {
        Inner->Read(index, dest, maxBytes);
      }
    };
    auto reader = std::make_unique<TReader>();
    reader->Inner = TLGPFile::OpenMemberReader();
    return reader;
  }
};

// The catalogue, progress and outcome of one analysis, as text to compare.
std::string Outcome(TLGPFile& archive) {
  TRecorder recorder;
  recorder.Width = 1000;
  TCatalogue catalogue;
  std::string text;
  try {
    catalogue.AnalyseArchive(archive, &recorder);
  } catch (const Exception& e) {
    text = "error " + e.Message() + "\n";
  }
  for (const TModelRef& model : catalogue.Models)
    text +=
        Format("%.8X ", CatalogueTag(model)) + model.Member + " | " + model.DisplayText() + "\n";
  for (const TCatalogueEntry& anim : catalogue.AnimList)
    text += Format("%.8X ", anim.Tag) + anim.Name + "\n";
  return text + Format("repaints %d at %d\n", recorder.Repaints, catalogue.ProgressPosition);
}

// Members whose table entries point at bytes laid out in another order: slot j of the
// file holds the data of table entry order[j].
TLGPFixture LaidOut(const std::vector<std::pair<std::string, std::string>>& members,
                    const std::vector<size_t>& order) {
  TLGPFixture lgp;
  for (size_t j = 0; j < members.size(); ++j) lgp.Add(members[j].first, members[order[j]].second);
  const std::vector<int32_t> offsets = MemberOffsets(lgp);
  for (size_t j = 0; j < members.size(); ++j) lgp.Members[order[j]].TableOffset = offsets[j];
  return lgp;
}

} // namespace

// The analysis reads the start of skeletons and animations a batch at a time in the order
// they lie; it must give what reading each member on its own gives, whatever the layout:
// members out of table order, apart or side by side, names and offsets used twice, header
// lines past the bytes first read, and archives that fail on a damaged member (the first
// in table order names the error).
TEST_F(CatalogueTest, ReadingHeadsInBatchesGivesWhatReadingEachMemberGives) {
  std::vector<std::pair<std::string, std::string>> members;
  const std::string longSkeleton = ":SKELETON " + std::string(400, 's');
  // Lines whose ":BONES 1" ends at byte 256 of the data.
  const std::string cutLine = ":H\r\n:SKELETON " + std::string(232, 'x') + "\r\n";
  for (int k = 0; k < 400; ++k) {
    const std::string name = Letters(k, 4);
    switch (k % 10) {
    case 0:
      members.push_back({name + ".HRC", HRC(":SKELETON " + name, ":BONES " + std::to_string(k))});
      break;
    case 1:
      members.push_back({name + ".A", Anim(k % 30)});
      break;
    case 2:
      members.push_back({name + ".P", PatternBytes(size_t(k) * 37 % 9000, uint32_t(k))});
      break;
    case 3:
      members.push_back({name + ".hrc", HRC(longSkeleton, ":BONES 7")});
      break;
    case 4:
      members.push_back({name + ".a", std::string(size_t(k % 13), '\x01')});
      break;
    case 5:
      // The third line unended, or ending only after the bytes first read.
      members.push_back({name + ".HRC", k % 20 == 5 ? ":H\n:SKELETON lf\n:BONES 5"
                                                    : cutLine + ":BONES 1" + "2\r\n:rest"});
      break;
    case 6:
      members.push_back({name + ".HRC", std::string(":H\r:SKEL\0:BONES 9\r\n", 20)});
      break;
    case 7:
      members.push_back({"SAME.A", Anim(k % 5)});
      break;
    case 8:
      members.push_back({name + ".HRC", ":H\r\n" + longSkeleton + "\r\n:BONES 2\r\n"});
      break;
    default:
      members.push_back({name + ".TEX", PatternBytes(12000, uint32_t(k))});
      break;
    }
  }
  std::vector<size_t> inOrder(members.size()), shuffled(members.size());
  for (size_t j = 0; j < members.size(); ++j) {
    inOrder[j] = j;
    shuffled[j] = (j * 157 + 11) % members.size(); // 157 and 400 have no common factor
  }
  struct TLayout {
    const char* What;
    TLGPFixture Lgp;
  };
  std::vector<TLayout> layouts = {{"table order", LaidOut(members, inOrder)},
                                  {"shuffled", LaidOut(members, shuffled)}};
  TLGPFixture twice = LaidOut(members, shuffled); // entries sharing another's member
  twice.Members[40].TableOffset = twice.Members[10].TableOffset;
  twice.Members[41].TableOffset = twice.Members[20].TableOffset;
  layouts.push_back({"shared members", twice});
  // Faults in the members of table entries 120 (a negative size), 300 (a size past the
  // end) and 301 (a header past the end); slot j holds entry shuffled[j].
  auto slotOf = [&](size_t entry) {
    return size_t(std::find(shuffled.begin(), shuffled.end(), entry) - shuffled.begin());
  };
  TLGPFixture damaged = LaidOut(members, shuffled);
  damaged.Members[slotOf(120)].HeaderSize = -4;
  damaged.Members[slotOf(300)].HeaderSize = 1 << 30;
  damaged.Members[301].TableOffset = 1 << 30;
  layouts.push_back({"damaged", damaged});
  TLGPFixture second = damaged;
  second.Members[slotOf(120)].HeaderSize.reset(); // now the size past the end comes first
  layouts.push_back({"damaged further on", second});
  TLGPFixture cut = LaidOut(members, inOrder);
  cut.TruncateAt = BuildLGP(cut).size() - 3000; // the last members cut short
  layouts.push_back({"truncated", cut});

  for (const TLayout& layout : layouts) {
    const std::string path = Dir.File("char.lgp");
    WriteFile(path, BuildLGP(layout.Lgp));
    const std::string expected = Outcome(*std::make_unique<TMemberByMember>(path));
    EXPECT_NE(expected.find("repaints"), std::string::npos);
    for (bool queue : {true, false}) {
      TFilePieceReader::AllowQueue(queue);
      EXPECT_EQ(Outcome(*TLGPFile::Create(path, false)), expected)
          << layout.What << (queue ? ", batched" : ", one read a piece");
    }
    TFilePieceReader::AllowQueue(true);
  }
  // The damaged layouts fail, each with its first damaged member's error.
  WriteFile(Dir.File("a.lgp"), BuildLGP(damaged));
  EXPECT_EQ(ErrorOf([&] { Catalogue.AnalyseArchive(*TLGPFile::Create(Dir.File("a.lgp"), false)); }),
            "Invalid archive: member \"" + members[120].first + "\" has a negative size (-4)");
  WriteFile(Dir.File("b.lgp"), BuildLGP(second));
  EXPECT_EQ(ErrorOf([&] { Catalogue.AnalyseArchive(*TLGPFile::Create(Dir.File("b.lgp"), false)); }),
            "Stream read error");
}

TEST_F(CatalogueTest, FieldArchivesListSkeletonsAndAnimationsInArchiveOrder) {
  TRecorder recorder;
  Analyse(Field(), "char.lgp", &recorder);
  ASSERT_EQ(Catalogue.Models.size(), 3u);
  const TModelRef& first = Catalogue.Models[0];
  EXPECT_EQ(first.Kind, TModelKind::Field);
  EXPECT_EQ(first.Member, "aaaa.hrc");
  EXPECT_EQ(first.Skeleton, "aaaa");
  EXPECT_EQ(first.BoneCount, 21);
  EXPECT_EQ(first.MemberIndex, 0);
  EXPECT_EQ(CatalogueTag(first), 0x00150000u);
  EXPECT_EQ(Catalogue.Models[1].BoneCount, 65535); // unreadable count
  EXPECT_EQ(CatalogueTag(Catalogue.Models[1]), 0xFFFF0003u);
  EXPECT_EQ(Catalogue.Models[2].Member, "EEEE.HRC");
  std::vector<std::string> texts, stems;
  for (const TModelRef& model : Catalogue.Models) {
    EXPECT_EQ(&model, &Catalogue.Models[size_t(model.Index)]);
    texts.push_back(model.DisplayText());
    stems.push_back(model.FileStem());
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"aaaa.hrc - aaaa", "BBBB.HRC - ",
                                             "EEEE.HRC - a-very-long-skeleton"}));
  EXPECT_EQ(stems, (std::vector<std::string>{"aaaa", "BBBB", "EEEE"}));
  ASSERT_EQ(Catalogue.AnimList.size(), 3u);
  EXPECT_EQ(Catalogue.AnimList[0].Name, "ABCD.A");
  EXPECT_EQ(Catalogue.AnimList[0].Tag, 0x00150002u);
  EXPECT_EQ(Catalogue.AnimList[1].Name, "EFGH.a");
  EXPECT_EQ(Catalogue.AnimList[2].Tag, 0x00030008u);
  EXPECT_EQ(recorder.Texts,
            (std::vector<std::string>{"Opening LGP...", "Analysing...", "Complete!"}));
  EXPECT_EQ(recorder.Updating, (std::vector<bool>{true, false}));
  // 10 members on 100 pixels: a repaint for every member.
  EXPECT_EQ(recorder.Repaints, 10);
  EXPECT_EQ(Catalogue.ProgressTotal, 10);
  EXPECT_EQ(Catalogue.ProgressPosition, 9);
}

TEST_F(CatalogueTest, TheProgressBarRoundsHalvesToEvenAndRepaintsOnlyWhenItGrows) {
  const struct {
    int32_t Width, Position, Total, Expected;
  } cases[] = {{100, 1, 8, 12}, {100, 3, 8, 38}, {10, 1, 4, 2},  {10, 3, 4, 8}, {10, 1, 20, 0},
               {10, 3, 20, 2},  {0, 5, 9, 0},    {300, 0, 1, 0}, {7, 1, 0, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(TCatalogue::ProgressWidth(c.Width, c.Position, c.Total), c.Expected)
        << c.Width << " " << c.Position << "/" << c.Total;
  TRecorder narrow;
  narrow.Width = 2;
  Analyse(Field(), "char.lgp", &narrow);
  EXPECT_EQ(narrow.Repaints, 3); // widths 0, 1 and 2 out of ten members
}

TEST_F(CatalogueTest, TheBattleArchiveListsModelsByTheirSkeletons) {
  TLGPFixture lgp;
  for (const char* name : {"ogaa", "ofaa", "rraa", "rsaa", "rtab", "pqaa", "x.hrc", "a"})
    lgp.Add(name, "");
  Analyse(lgp, "BATTLE.LGP");
  ASSERT_EQ(Catalogue.Models.size(), 2u);
  const TModelRef& second = Catalogue.Models[1];
  EXPECT_EQ(second.Kind, TModelKind::Battle);
  EXPECT_EQ(second.Member, "rsaa");
  EXPECT_EQ(second.MemberIndex, 3);
  EXPECT_EQ(second.Index, 1);
  EXPECT_EQ(second.Code(), "RS");
  EXPECT_EQ(second.DisplayText(), "[Battle] RSAA");
  EXPECT_EQ(second.FileStem(), "RS");
  EXPECT_EQ(Catalogue.Models[0].DisplayText(), "[Battle] OFAA");
  EXPECT_TRUE(Catalogue.AnimList.empty());
  // Found by code; no field model, animation or detail of theirs.
  EXPECT_EQ(Catalogue.IndexOfBattleModel("rs"), 1);
  EXPECT_EQ(Catalogue.IndexOfBattleModel("RT"), -1);
  EXPECT_EQ(Catalogue.IndexOfModel("rsaa"), -1);
  EXPECT_TRUE(Catalogue.AnimationsFor(1, false).empty());
  EXPECT_TRUE(Catalogue.DetailsFor(1).empty());
  // The same archive under another name is a field archive.
  Analyse(lgp, "copy.lgp");
  EXPECT_TRUE(Catalogue.Models.empty());
}

TEST_F(CatalogueTest, AFolderIsAFieldArchive) {
  std::string folder = Dir.File("battle.lgp"); // even when named like the battle archive
  std::filesystem::create_directory(folder);
  WriteFile(folder + "/KNIG.HRC", HRC(":SKELETON knig", ":BONES 2"));
  WriteFile(folder + "/ogaa", "");
  auto archive = TFolderArchive::CreateFromFolder(folder);
  Catalogue.AnalyseArchive(*archive);
  ASSERT_EQ(Catalogue.Models.size(), 1u);
  EXPECT_EQ(Catalogue.Models[0].DisplayText(), "KNIG.HRC - knig");
}

TEST_F(CatalogueTest, AnUnreadableArchiveLeavesNoHalfCatalogue) {
  TLGPFixture lgp = Field();
  lgp.Members[6].HeaderSize = 1 << 30; // EFGH.a runs past the end
  Catalogue.Models.emplace_back().Member = "OLD.HRC";
  EXPECT_EQ(ErrorOf([&] { Analyse(lgp); }), "Stream read error");
  EXPECT_TRUE(Catalogue.Models.empty());
  EXPECT_TRUE(Catalogue.AnimList.empty());
}

TEST_F(CatalogueTest, AnimationsMatchByBoneCountNarrowedByTheFilter) {
  TLGPFixture lgp = Field();
  lgp.Add("IJKL.A", Anim(21)).Add("MNOP.A", Anim(21)).Add("QRST.A", Anim(21));
  Analyse(lgp);
  EXPECT_EQ(Catalogue.AnimationsFor(0, false),
            (std::vector<std::string>{"ABCD.A", "EFGH.a", "IJKL.A", "MNOP.A", "QRST.A"}));
  EXPECT_TRUE(Catalogue.AnimationsFor(0, true).empty()); // filter on, no entry: nothing
  Catalogue.FilterList.SetText("AAAAAnims=abcd,efgh,\r\naaaaAnims2=QRST,\r\nAAAAAnims3=mnop\r\n"
                               "AAAANames=First,Second,Lost\r\nEEEENames=One,\r\n");
  // "mnop" has no comma after it, so it matches nothing; prefixes match in any case.
  EXPECT_EQ(Catalogue.AnimationsFor(0, true),
            (std::vector<std::string>{"ABCD.A", "EFGH.a", "QRST.A"}));
  // The first few only, as a thumbnail asks.
  EXPECT_EQ(Catalogue.AnimationsFor(0, true, 2), (std::vector<std::string>{"ABCD.A", "EFGH.a"}));
  EXPECT_EQ(Catalogue.AnimationsFor(0, false, 1), (std::vector<std::string>{"ABCD.A"}));
  EXPECT_EQ(Catalogue.AnimationsFor(2, false), (std::vector<std::string>{"XXXX.A"}));
  EXPECT_EQ(Catalogue.NamesFor(0), (std::vector<std::string>{"First", "Second"}));
  EXPECT_TRUE(Catalogue.NamesFor(1).empty());
  EXPECT_EQ(Catalogue.DetailsFor(2),
            (std::vector<std::string>{"Number of bones: 3", "", "Names:", "  One"}));
  EXPECT_EQ(Catalogue.DetailsFor(1)[0], "Number of bones: 65535");
  EXPECT_EQ(Catalogue.IndexOfModel("AAAA.HRC"), 0);
  EXPECT_EQ(Catalogue.IndexOfModel("none.hrc"), -1);
  EXPECT_EQ(ErrorOf([&] { Catalogue.AnimationsFor(3, false); }), "List index out of bounds (3)");
}

static void ExpectSameCatalogue(const TCatalogue& restored, const TCatalogue& analysed) {
  EXPECT_EQ(restored.ArchivePath, analysed.ArchivePath);
  EXPECT_EQ(restored.Models, analysed.Models);
  ASSERT_EQ(restored.AnimList.size(), analysed.AnimList.size());
  for (size_t i = 0; i < analysed.AnimList.size(); ++i) {
    EXPECT_EQ(restored.AnimList[i].Name, analysed.AnimList[i].Name);
    EXPECT_EQ(restored.AnimList[i].Tag, analysed.AnimList[i].Tag);
  }
  for (const TModelRef& model : analysed.Models)
    EXPECT_EQ(restored.AnimationsFor(model.Index, false),
              analysed.AnimationsFor(model.Index, false))
        << model.Member;
}

TEST_F(CatalogueTest, TheCacheKeepsEachModelsFieldsAndRestoresTheSameCatalogue) {
  Analyse(Awkward());
  TModelRef& battle = Catalogue.Models.emplace_back();
  battle.Kind = TModelKind::Battle;
  battle.Member = "rtaa";
  battle.MemberIndex = 12;
  battle.Index = int32_t(Catalogue.Models.size() - 1);
  std::string cache = Dir.File("palkor.cache");
  Catalogue.SaveCatalogueCache(cache);
  const std::string text = ReadFileBytes(cache);
  const int64_t size = int64_t(ReadFileBytes(Catalogue.ArchivePath).size());
  EXPECT_EQ(text.substr(0, text.find("\r\n00000006\r\n")),
            "00000000\r\npalkor catalogue 2\r\n" + Format("%.8X", size) + Catalogue.ArchivePath);
  for (const char* line : {"\r\nF\t00000015\t00000000\taaaa.hrc\taaaa\r\n",
                           "\r\nF\t0000FFFF\t00000003\tBBBB.HRC\t\r\n",
                           "\r\nF\t00000003\t0000000A\tT%09B%25.hrc\ts%09k%25\r\n",
                           "\r\nB\t00000000\t0000000C\trtaa\t\r\n00000003\r\n00150002ABCD.A\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;

  TCatalogue restored;
  restored.LoadCatalogueCache(cache);
  ExpectSameCatalogue(restored, Catalogue);
}

// A cache the program wrote before it kept the models' fields is read once: into the
// catalogue the analysis made, member names with " - " in them too; the next save writes
// today's layout.
TEST_F(CatalogueTest, AnOlderCacheReadsBackAsTheAnalysisAndIsSavedInTodaysLayout) {
  Analyse(Awkward());
  const std::string cache = Dir.File("palkor.cache");
  WriteFile(cache,
            OlderCatalogueCache(Catalogue, int64_t(ReadFileBytes(Catalogue.ArchivePath).size())));
  EXPECT_NE(ReadFileBytes(cache).find("00150000aaaa.hrc - aaaa\r\nFFFF0003BBBB.HRC - \r\n"),
            std::string::npos);
  TCatalogue restored;
  restored.LoadCatalogueCache(cache);
  ExpectSameCatalogue(restored, Catalogue);

  restored.SaveCatalogueCache(cache);
  const std::string today = Dir.File("today.cache");
  Catalogue.SaveCatalogueCache(today);
  EXPECT_EQ(ReadFileBytes(cache), ReadFileBytes(today));
}

TEST_F(CatalogueTest, TheCacheIsWrittenOnlyForAnArchiveFileWithModelsAndAnimations) {
  std::string cache = Dir.File("palkor.cache");
  WriteFile(cache, "older cache");
  TLGPFixture noAnims;
  noAnims.Add("AAAA.HRC", HRC(":SKELETON a", ":BONES 1"));
  Analyse(noAnims);
  Catalogue.SaveCatalogueCache(cache);
  Analyse(Field());
  Catalogue.ArchivePath = Dir.Path() + "/"; // a folder
  Catalogue.SaveCatalogueCache(cache);
  Catalogue.ArchivePath = Dir.File(".hidden.lgp");
  WriteFile(Catalogue.ArchivePath, "x");
  Catalogue.SaveCatalogueCache(cache);
  EXPECT_EQ(ReadFileBytes(cache), "older cache");
}

TEST_F(CatalogueTest, ACacheOfAnotherArchiveOrADamagedOneLoadsNothing) {
  Analyse(Field());
  const std::string cache = Dir.File("palkor.cache");
  const std::string archive = ReadFileBytes(Catalogue.ArchivePath);
  const std::string older = OlderCatalogueCache(Catalogue, int64_t(archive.size()));
  Catalogue.SaveCatalogueCache(cache);
  const std::string today = ReadFileBytes(cache);
  for (const std::string& layout : {older, today}) {
    WriteFile(cache, layout);
    // The archive grew: the mismatch message, no entries, the recorded path kept.
    WriteFile(Catalogue.ArchivePath, archive + "more");
    TCatalogue grown;
    EXPECT_EQ(ErrorOf([&] { grown.LoadCatalogueCache(cache); }),
              "Cache record/filesize mismatch - ignoring cache");
    EXPECT_EQ(grown.ArchivePath, Catalogue.ArchivePath);
    EXPECT_TRUE(grown.Models.empty());
    // The archive gone: nothing loaded, no message.
    std::filesystem::remove(Catalogue.ArchivePath);
    TCatalogue gone;
    gone.LoadCatalogueCache(cache);
    EXPECT_EQ(gone.ArchivePath, Catalogue.ArchivePath);
    EXPECT_TRUE(gone.Models.empty());
    WriteFile(Catalogue.ArchivePath, archive);
  }

  // Damage stops the load with the entries before it kept: one model each time.
  const std::string head =
      Format("%.8X", int64_t(archive.size())) + Catalogue.ArchivePath + "\r\n00000002\r\n";
  const std::string todayHead =
      "00000000\r\npalkor catalogue 2\r\n" + head + "F\t00000015\t00000000\tAAAA.HRC\ta\r\n";
  const struct {
    std::string Text, Message;
    size_t Models;
  } damaged[] = {
      {"0000000G/x\r\n", "'$0000000G' is not a valid integer value", 0},
      // Too few lines: the list's error for its first line, then the line that is missing.
      {"", "List index out of bounds (0): " + QuotedPath(cache) + " ends before its line 1", 0},
      {head + "00150000AAAA.HRC - a\r\n",
       "List index out of bounds (0): " + QuotedPath(cache) + " ends before its line 4", 1},
      {todayHead, "List index out of bounds (0): " + QuotedPath(cache) + " ends before its line 6",
       1},
      {todayHead + "X\t00000001\t00000000\tB.HRC\tb\r\n",
       "Invalid catalogue cache: line 6 is not a model", 1},
      {todayHead + "F\t0000001G\t00000000\tB.HRC\tb\r\n",
       "'$0000001G' is not a valid integer value", 1},
      {todayHead + "F\t00010000\t00000000\tB.HRC\tb\r\n",
       "Invalid catalogue cache: line 6 is not a model", 1},
      {todayHead + "F\t00000001\tFFFFFFFF\tB.HRC\tb\r\n",
       "Invalid catalogue cache: line 6 is not a model", 1},
      {todayHead + "F\t00000001\t00000000\t\tb\r\n",
       "Invalid catalogue cache: line 6 is not a model", 1},
      {todayHead + "F\t00000001\t00000000\tB.HRC\r\n",
       "Invalid catalogue cache: line 6 is not a model", 1},
  };
  for (const auto& c : damaged) {
    WriteFile(cache, c.Text);
    TCatalogue loaded;
    EXPECT_EQ(ErrorOf([&] { loaded.LoadCatalogueCache(cache); }), c.Message) << c.Text;
    EXPECT_EQ(loaded.Models.size(), c.Models) << c.Text;
  }

  // The older layout read a path up to 255 characters; today's keeps it whole.
  const std::string longPath = "/" + std::string(300, 'p');
  WriteFile(cache, "00000000" + longPath + "\r\n");
  TCatalogue longOne;
  longOne.LoadCatalogueCache(cache);
  EXPECT_EQ(longOne.ArchivePath, longPath.substr(0, 255));
  WriteFile(cache, "00000000\r\npalkor catalogue 2\r\n00000000" + longPath + "\r\n");
  TCatalogue whole;
  whole.LoadCatalogueCache(cache);
  EXPECT_EQ(whole.ArchivePath, longPath);
}
