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

std::string ExtensionOf(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : UpperCaseASCII(name.substr(dot));
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

void TCatalogue::Scan(TLGPFile& archive, TLGPMemberReader& reader, TCatalogueListener& out) {
  TMemoryStream scratch;
  TStringList lines;
  const bool battle = LowerCaseASCII(FileNamePart(archive.FileName())) == "battle.lgp";
  for (int32_t i = 0; i < archive.Count(); ++i) {
    ProgressPosition = i;
    int32_t drawn = ProgressWidth(out.ProgressPanelWidth(), i, ProgressTotal);
    if (drawn != ProgressDrawn) {
      out.RepaintProgress();
      ProgressDrawn = drawn;
    }
    const std::string& name = archive.EntryAt(i).Name;
    if (battle) {
      std::string upper = UpperCaseASCII(name);
      if (upper.size() >= 4 && upper.compare(2, 2, "AA") == 0 &&
          (upper < "OGAA" || upper > "RRAA")) {
        ModelItems.push_back("[Battle] " + upper);
        BattleCodes.push_back(upper.substr(0, 2));
      }
      continue;
    }
    const std::string extension = ExtensionOf(name);
    if (extension == ".HRC") {
      scratch.Clear();
      reader.Read(i, scratch);
      // Only the header lines matter: the skeleton name and the bone count.
      lines.SetText(scratch.View(), 3);
      if (lines.Count() < 3) continue; // no bone count line: not a skeleton to list
      const std::string& countLine = lines[2];
      size_t blank = countLine.find(' ');
      if (blank == std::string::npos) continue;
      int32_t bones = StrToIntDef(std::string_view(countLine).substr(blank + 1, 255), -1);
      ModelList.push_back({name, CatalogueTag(bones, i)});
      const std::string& skeletonLine = lines[1];
      ModelItems.push_back(
          name + " - " + (skeletonLine.size() > 10 ? skeletonLine.substr(10, 20) : std::string()));
    } else if (extension == ".A") {
      scratch.Clear();
      reader.Read(i, scratch, 12);
      if (scratch.Size() < 12) continue; // no bone count: not an animation to list
      AnimList.push_back({name, CatalogueTag(GetI32LE(scratch.Memory() + 8), i)});
    }
  }
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
