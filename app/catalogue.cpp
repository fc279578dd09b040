// The catalogue cache file: text lines ending in CR LF, each eight hexadecimal digits
// (the 32-bit pattern of a number) and an optional text:
//
//   archive size (low 32 bits)   archive path
//   model count M
//   M x  tag                     display text ("NAME - skeleton")
//   animation count N
//   N x  tag                     animation member name
#include "app/catalogue.h"

#include "platform/Convert.h"
#include "platform/Files.h"

#include <algorithm>
#include <array>

namespace palkor {

uint32_t CatalogueTag(int32_t boneCount, int32_t memberIndex) {
  return (uint32_t(boneCount) << 16) | uint32_t(memberIndex);
}

int32_t TCatalogue::ProgressWidth(int32_t width, int32_t position, int32_t total) {
  if (total <= 0) return 0;
  int64_t numerator = int64_t(width) * position, quotient = numerator / total;
  int64_t twice = 2 * (numerator % total);
  if (twice > total || (twice == total && quotient % 2 != 0)) ++quotient;
  return int32_t(quotient);
}

namespace {

std::string FileNamePart(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

enum class TMemberKind { Other, Skeleton, Animation };

// A member's kind by the extension after its last dot, in any letter case. Looked at
// for every member of an archive, several times: the letters are compared in place.
TMemberKind KindOf(std::string_view name) {
  auto upper = [&](size_t fromEnd) { return UpperASCII(name[name.size() - fromEnd]); };
  if (name.size() >= 2 && name[name.size() - 2] == '.' && upper(1) == 'A')
    return TMemberKind::Animation;
  if (name.size() >= 4 && name[name.size() - 4] == '.' && upper(3) == 'H' && upper(2) == 'R' &&
      upper(1) == 'C')
    return TMemberKind::Skeleton;
  return TMemberKind::Other;
}

// The bytes of a skeleton's start read, enough for the header lines of every HRC file
// we know; a member whose third line ends further on is read whole.
constexpr int32_t SkeletonHeadBytes = 256;
// An animation's bone count is the third 32-bit value of its header.
constexpr int32_t AnimationHeadBytes = 12;

// The first three lines of a skeleton's text, as a string list takes them: the text ends
// at its first NUL, lines at CR, LF or CR LF. Decided is false when more of the text
// than this could change them (the third line is not yet ended).
struct THeaderLines {
  std::string_view Lines[3];
  int32_t Count = 0;
  bool Decided = false;
};

THeaderLines HeaderLines(std::string_view text) {
  THeaderLines result;
  const size_t nul = text.find('\0');
  result.Decided = nul != std::string_view::npos;
  text = text.substr(0, nul);
  size_t p = 0;
  while (p < text.size() && result.Count < 3) {
    const size_t start = p;
    while (p < text.size() && text[p] != '\r' && text[p] != '\n') ++p;
    result.Lines[result.Count++] = text.substr(start, p - start);
    if (result.Count == 3 && p < text.size()) result.Decided = true;
    if (p < text.size() && text[p] == '\r') ++p;
    if (p < text.size() && text[p] == '\n') ++p;
  }
  return result;
}

std::string LowerCaseASCII(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

} // namespace

void TCatalogue::AnalyseArchive(TLGPFile& archive, TCatalogueListener* listener) {
  TCatalogueListener silent;
  TCatalogueListener& out = listener ? *listener : silent;
  ModelList.clear();
  AnimList.clear();
  out.StatusText("Opening LGP...");
  ProgressTotal = archive.Count();
  std::unique_ptr<TLGPMemberReader> reader = archive.OpenMemberReader();
  out.ModelListUpdating(true);
  ModelItems.clear();
  BattleCodes.clear();
  out.StatusText("Analysing...");
  ProgressDrawn = -1;

  // Updating stops with the pass, whatever ends it.
  struct TUpdateGuard {
    TCatalogueListener& Out;
    ~TUpdateGuard() { Out.ModelListUpdating(false); }
  } guard{out};

  try {
    Scan(archive, *reader, out);
  } catch (...) {
    // An archive that cannot be read leaves no half-filled catalogue behind.
    ModelList.clear();
    AnimList.clear();
    ModelItems.clear();
    BattleCodes.clear();
    throw;
  }
  out.StatusText("Complete!");
}

// The members are looked at in table order, but read a batch at a time through the
// reader's heads: only the start of each skeleton and animation, in the order they lie
// in the file. A member the heads do not give (or give too little of) is read as it
// always was, one at a time, and fails there as it did.
void TCatalogue::Scan(TLGPFile& archive, TLGPMemberReader& reader, TCatalogueListener& out) {
  const bool battle = LowerCaseASCII(FileNamePart(archive.FileName())) == "battle.lgp";
  const int32_t count = archive.Count();
  if (!battle) {
    size_t models = 0, anims = 0;
    for (int32_t i = 0; i < count; ++i) {
      const TMemberKind kind = KindOf(archive.EntryAt(i).Name);
      models += kind == TMemberKind::Skeleton;
      anims += kind == TMemberKind::Animation;
    }
    ModelList.reserve(models);
    ModelItems.reserve(models);
    AnimList.reserve(anims);
  }

  TMemoryStream scratch;
  auto analyse = [&](int32_t i, const TMemberHead* head) {
    const std::string& name = archive.EntryAt(i).Name;
    if (battle) {
      std::string upper = UpperCaseASCII(name);
      if (upper.size() >= 4 && upper.compare(2, 2, "AA") == 0 &&
          (upper < "OGAA" || upper > "RRAA")) {
        ModelItems.push_back("[Battle] " + upper);
        BattleCodes.push_back(upper.substr(0, 2));
      }
      return;
    }
    const TMemberKind kind = KindOf(name);
    if (kind == TMemberKind::Skeleton) {
      THeaderLines header;
      if (head && head->Done) header = HeaderLines(head->Data);
      if (!head || !head->Done || (!header.Decided && head->Data.size() < size_t(head->Size))) {
        scratch.Clear();
        reader.Read(i, scratch);
        header = HeaderLines(scratch.View());
      }
      // Only the header lines matter: the skeleton name and the bone count.
      if (header.Count < 3) return; // no bone count line: not a skeleton to list
      const std::string_view countLine = header.Lines[2];
      size_t blank = countLine.find(' ');
      if (blank == std::string_view::npos) return;
      int32_t bones = StrToIntDef(countLine.substr(blank + 1, 255), -1);
      ModelList.push_back({name, CatalogueTag(bones, i)});
      const std::string_view skeletonLine = header.Lines[1];
      std::string item = name;
      item += " - ";
      if (skeletonLine.size() > 10) item += skeletonLine.substr(10, 20);
      ModelItems.push_back(std::move(item));
    } else if (kind == TMemberKind::Animation) {
      std::string_view bytes;
      if (head && head->Done) {
        bytes = head->Data;
      } else {
        scratch.Clear();
        reader.Read(i, scratch, AnimationHeadBytes);
        bytes = scratch.View();
      }
      if (bytes.size() < 12) return; // no bone count: not an animation to list
      AnimList.push_back(
          {name, CatalogueTag(GetI32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + 8), i)});
    }
  };

  // Heads wanted so far, and the members up to the last of them still to be looked at.
  constexpr size_t Batch = 128;
  std::array<TMemberHead, Batch> heads;
  size_t wanted = 0;
  int32_t next = 0;
  auto lookUpTo = [&](int32_t end) {
    if (wanted > 0) reader.ReadHeads({heads.data(), wanted});
    for (size_t h = 0; next < end; ++next) {
      ProgressPosition = next;
      int32_t drawn = ProgressWidth(out.ProgressPanelWidth(), next, ProgressTotal);
      if (drawn != ProgressDrawn) {
        out.RepaintProgress();
        ProgressDrawn = drawn;
      }
      const bool headed = h < wanted && heads[h].Index == next;
      analyse(next, headed ? &heads[h++] : nullptr);
    }
    wanted = 0;
  };
  for (int32_t i = 0; i < count && !battle; ++i) {
    const TMemberKind kind = KindOf(archive.EntryAt(i).Name);
    if (kind == TMemberKind::Other) continue;
    TMemberHead& head = heads[wanted++];
    head.Index = i;
    head.Want = kind == TMemberKind::Skeleton ? SkeletonHeadBytes : AnimationHeadBytes;
    if (wanted == Batch) lookUpTo(i + 1);
  }
  lookUpTo(count);
}

std::vector<std::string> TCatalogue::AnimationsFor(int32_t k, bool filterAnims) const {
  CheckListIndex(k, int64_t(ModelList.size()));
  const TCatalogueEntry& model = ModelList[size_t(k)];
  std::string prefixes;
  if (filterAnims) {
    std::string key = model.Name.substr(0, 4);
    prefixes = UpperCaseASCII(FilterList.Values(key + "Anims") + FilterList.Values(key + "Anims2") +
                              FilterList.Values(key + "Anims3"));
  }
  std::vector<std::string> names;
  for (const TCatalogueEntry& anim : AnimList) {
    if (anim.BoneCount() != model.BoneCount()) continue;
    if (filterAnims) {
      // The name's first four characters in upper case and a comma, made on the stack:
      // this runs for every animation of every model in an export of them all.
      char key[5];
      size_t length = std::min<size_t>(anim.Name.size(), 4);
      for (size_t i = 0; i < length; ++i) key[i] = UpperASCII(anim.Name[i]);
      key[length] = ',';
      if (prefixes.find(std::string_view(key, length + 1)) == std::string::npos) continue;
    }
    names.push_back(anim.Name);
  }
  return names;
}

std::vector<std::string> TCatalogue::NamesFor(int32_t k) const {
  CheckListIndex(k, int64_t(ModelList.size()));
  std::string value = FilterList.Values(ModelList[size_t(k)].Name.substr(0, 4) + "Names");
  std::vector<std::string> names;
  for (size_t comma; (comma = value.find(',')) != std::string::npos; value.erase(0, comma + 1))
    names.push_back(value.substr(0, comma));
  return names;
}

std::vector<std::string> TCatalogue::DetailsFor(int32_t k) const {
  CheckListIndex(k, int64_t(ModelList.size()));
  std::vector<std::string> lines{
      "Number of bones: " + std::to_string(ModelList[size_t(k)].BoneCount()), "", "Names:"};
  for (const std::string& name : NamesFor(k)) lines.push_back("  " + name);
  return lines;
}

int32_t TCatalogue::IndexOfModel(const std::string& name) const {
  for (size_t k = 0; k < ModelList.size(); ++k)
    if (SameTextASCII(ModelList[k].Name, name)) return int32_t(k);
  return -1;
}

void TCatalogue::LoadFilterFile(const std::string& fileName) {
  FilterList.Clear();
  if (FileExists(fileName)) FilterList.LoadFromFile(fileName);
}

void TCatalogue::SaveCatalogueCache(const std::string& cacheFileName) const {
  int64_t size = 0;
  if (ModelList.empty() || AnimList.empty() || !FindOrdinaryFile(ArchivePath, size)) return;
  std::string text;
  auto line = [&](uint32_t value, const std::string& after) {
    text += Format("%.8X", value) + after + "\r\n";
  };
  line(uint32_t(size), ArchivePath);
  line(uint32_t(ModelList.size()), "");
  for (size_t i = 0; i < ModelList.size(); ++i)
    line(ModelList[i].Tag, i < ModelItems.size() ? ModelItems[i] : ModelList[i].Name);
  line(uint32_t(AnimList.size()), "");
  for (const TCatalogueEntry& anim : AnimList) line(anim.Tag, anim.Name);
  ReplaceFileWithBytes(cacheFileName, text);
}

namespace {

// Takes the first line: its eight hexadecimal digits and at most 255 characters after
// them. Too few lines give the list's index error, bad digits the conversion error.
class TCacheReader {
public:
  explicit TCacheReader(const std::string& fileName) { FLines.LoadFromFile(fileName); }

  uint32_t ReadCacheLine(std::string& text) {
    const std::string& line = FLines.Strings(int32_t(FNext));
    ++FNext;
    std::string digits = line.substr(0, 8);
    bool hex = digits.size() == 8 && std::all_of(digits.begin(), digits.end(),
                                                 [](char c) { return std::isxdigit(uint8_t(c)); });
    if (!hex) throw EConvertError(Format("'$%s' is not a valid integer value", digits));
    text = line.size() > 8 ? line.substr(8, 255) : std::string();
    return uint32_t(std::stoul(digits, nullptr, 16));
  }

private:
  TStringList FLines;
  size_t FNext = 0;
};

} // namespace

void TCatalogue::LoadCatalogueCache(const std::string& cacheFileName) {
  TCacheReader cache(cacheFileName);
  std::string text;
  uint32_t recordedSize = cache.ReadCacheLine(text);
  ArchivePath = text;
  int64_t size = 0;
  if (!FindOrdinaryFile(ArchivePath, size)) return;
  if (uint32_t(size) != recordedSize)
    throw Exception("Cache record/filesize mismatch - ignoring cache");
  // Counts are 32-bit patterns: one of 8 to F digits is negative and counts nothing.
  for (int32_t m = int32_t(cache.ReadCacheLine(text)), i = 0; i < m; ++i) {
    uint32_t tag = cache.ReadCacheLine(text);
    size_t dash = text.find(" - ");
    ModelList.push_back({dash == std::string::npos ? std::string() : text.substr(0, dash), tag});
    ModelItems.push_back(text);
  }
  for (int32_t n = int32_t(cache.ReadCacheLine(text)), i = 0; i < n; ++i) {
    uint32_t tag = cache.ReadCacheLine(text);
    AnimList.push_back({text, tag});
  }
}

} // namespace palkor
