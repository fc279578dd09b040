// The catalogue cache file: text lines ending in CR LF. Numbers are eight hexadecimal
// digits (the 32-bit pattern of the number, upper case when written, either case read);
// a line's text follows its digits directly.
//
//   00000000                     no archive: a program that knows only the layout below
//                                passes the cache over without a word
//   palkor catalogue 2           the layout
//   archive size (low 32 bits)   archive path
//   model count M
//   M x  kind TAB bone count TAB member index TAB member name TAB skeleton name
//   animation count N
//   N x  tag                     animation member name
//
// A model's kind is F (field) or B (battle, no skeleton name). In its names, bytes below
// 32 and "%" are written as "%" and two hexadecimal digits.
//
// The layout before it kept each model's display text and read the member name back from
// it; it is read once, and the next save writes the one above:
//
//   archive size (low 32 bits)   archive path (at most 255 characters read)
//   model count M
//   M x  tag                     display text ("NAME - skeleton")
//   animation count N
//   N x  tag                     animation member name
//
// A tag is the bone count in bits 31-16 and the member's index in bits 15-0.
#include "app/catalogue.h"

#include "platform/Convert.h"
#include "platform/DebugLog.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/Streams.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string_view>
#include <vector>

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

void TCatalogue::AddModel(TModelRef model) {
  model.Index = int32_t(Models.size());
  Models.push_back(std::move(model));
}

void TCatalogue::AnalyseArchive(TLGPFile& archive, TCatalogueListener* listener) {
  TCatalogueListener silent;
  TCatalogueListener& out = listener ? *listener : silent;
  Models.clear();
  AnimList.clear();
  out.StatusText("Opening LGP...");
  ProgressTotal = archive.Count();
  std::unique_ptr<TLGPMemberReader> reader = archive.OpenMemberReader();
  out.ModelListUpdating(true);
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
    Models.clear();
    AnimList.clear();
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
    Models.reserve(models);
    AnimList.reserve(anims);
    // Both are filled to these counts, less what is not a model or an animation.
    PrefaultForWrite(Models.data(), models * sizeof(TModelRef));
    PrefaultForWrite(AnimList.data(), anims * sizeof(TCatalogueEntry));
  }

  TMemoryStream scratch;
  auto analyse = [&](int32_t i, const TMemberHead* head) {
    const std::string& name = archive.EntryAt(i).Name;
    if (battle) {
      std::string upper = UpperCaseASCII(name);
      if (upper.size() >= 4 && upper.compare(2, 2, "AA") == 0 &&
          (upper < "OGAA" || upper > "RRAA")) {
        TModelRef model;
        model.Kind = TModelKind::Battle;
        model.Member = name;
        model.MemberIndex = i;
        AddModel(std::move(model));
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
      const int32_t bones = StrToIntDef(countLine.substr(blank + 1, 255), -1);
      const std::string_view skeletonLine = header.Lines[1];
      TModelRef model;
      model.Member = name;
      if (skeletonLine.size() > 10) model.Skeleton = skeletonLine.substr(10, 20);
      model.BoneCount = int32_t(uint16_t(bones)); // as the tag keeps it: -1 is 65535
      model.MemberIndex = i;
      AddModel(std::move(model));
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

std::vector<std::string> TCatalogue::AnimationsFor(int32_t k, bool filterAnims, size_t most) const {
  CheckListIndex(k, int64_t(Models.size()));
  const TModelRef& model = Models[size_t(k)];
  if (model.IsBattle()) return {};
  std::string prefixes;
  if (filterAnims) {
    std::string key = model.Member.substr(0, 4);
    prefixes = UpperCaseASCII(FilterList.Values(key + "Anims") + FilterList.Values(key + "Anims2") +
                              FilterList.Values(key + "Anims3"));
  }
  std::vector<std::string> names;
  for (const TCatalogueEntry& anim : AnimList) {
    if (names.size() == most) break;
    if (anim.BoneCount() != uint32_t(model.BoneCount)) continue;
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
  CheckListIndex(k, int64_t(Models.size()));
  const TModelRef& model = Models[size_t(k)];
  if (model.IsBattle()) return {};
  std::string value = FilterList.Values(model.Member.substr(0, 4) + "Names");
  std::vector<std::string> names;
  for (size_t comma; (comma = value.find(',')) != std::string::npos; value.erase(0, comma + 1))
    names.push_back(value.substr(0, comma));
  return names;
}

std::vector<std::string> TCatalogue::DetailsFor(int32_t k) const {
  CheckListIndex(k, int64_t(Models.size()));
  const TModelRef& model = Models[size_t(k)];
  if (model.IsBattle()) return {};
  std::vector<std::string> lines{"Number of bones: " + std::to_string(model.BoneCount), "",
                                 "Names:"};
  for (const std::string& name : NamesFor(k)) lines.push_back("  " + name);
  return lines;
}

int32_t TCatalogue::IndexOfModel(const std::string& name) const {
  for (const TModelRef& model : Models)
    if (!model.IsBattle() && SameTextASCII(model.Member, name)) return model.Index;
  return -1;
}

int32_t TCatalogue::IndexOfBattleModel(const std::string& code) const {
  for (const TModelRef& model : Models)
    if (model.IsBattle() && SameTextASCII(model.Code(), code)) return model.Index;
  return -1;
}

void TCatalogue::LoadFilterFile(const std::string& fileName) {
  FilterList.Clear();
  if (FileExists(fileName)) FilterList.LoadFromFile(fileName);
}

namespace {

// The two lines that open the cache's layout: an empty archive path, which a program
// that knows only the older layout takes for an archive no longer there, and its name.
constexpr std::string_view LayoutLines[2] = {"00000000", "palkor catalogue 2"};

// A name in a model line: bytes below 32 and "%" as "%XX", so that a name holds no
// line break and no tab.
std::string EscapeCacheText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  constexpr char Digits[] = "0123456789ABCDEF";
  for (char c : text) {
    if (uint8_t(c) < 32 || c == '%') {
      out += '%';
      out += Digits[uint8_t(c) >> 4];
      out += Digits[uint8_t(c) & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// EscapeCacheText undone; a "%" without two hexadecimal digits after it stands for
// itself.
std::string UnescapeCacheText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(uint8_t(text[i + 1])) &&
        std::isxdigit(uint8_t(text[i + 2]))) {
      out += char(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Eight hexadecimal digits: their 32-bit pattern, or the runtime's conversion error.
uint32_t CacheNumber(std::string_view digits) {
  const bool hex = digits.size() == 8 && std::all_of(digits.begin(), digits.end(), [](char c) {
                     return std::isxdigit(uint8_t(c));
                   });
  if (!hex) throw EConvertError(Format("'$%s' is not a valid integer value", digits));
  return uint32_t(std::stoul(std::string(digits), nullptr, 16));
}

} // namespace

void TCatalogue::SaveCatalogueCache(const std::string& cacheFileName) const {
  int64_t size = 0;
  if (Models.empty() || AnimList.empty() || !FindOrdinaryFile(ArchivePath, size)) return;
  std::string text;
  auto line = [&](uint32_t value, const std::string& after) {
    text += Format("%.8X", value) + after + "\r\n";
  };
  for (std::string_view layout : LayoutLines) (text += layout) += "\r\n";
  line(uint32_t(size), ArchivePath);
  line(uint32_t(Models.size()), "");
  for (const TModelRef& model : Models)
    text += Format("%s\t%.8X\t%.8X\t", model.IsBattle() ? "B" : "F", uint32_t(model.BoneCount),
                   uint32_t(model.MemberIndex)) +
            EscapeCacheText(model.Member) + "\t" + EscapeCacheText(model.Skeleton) + "\r\n";
  line(uint32_t(AnimList.size()), "");
  for (const TCatalogueEntry& anim : AnimList) line(anim.Tag, anim.Name);
  ReplaceFileWithBytes(cacheFileName, text);
}

namespace {

// The cache's lines, taken one at a time. Too few lines give the list's index error for
// the first line of what is left, index 0, with the line that was missing as its cause.
class TCacheReader {
public:
  explicit TCacheReader(const std::string& fileName) : FFileName(fileName) {
    FLines.LoadFromFile(fileName);
  }

  // The cache is in today's layout: its two first lines say so. They are taken.
  bool TakeLayoutLines() {
    if (FLines.Count() < 2 || FLines[0] != LayoutLines[0] || FLines[1] != LayoutLines[1])
      return false;
    FNext = 2;
    return true;
  }
  // The next line.
  const std::string& TakeLine() {
    if (FNext >= size_t(FLines.Count())) {
      EListError end(0);
      end.AddCause(Format("%s ends before its line %d", QuotedPath(FFileName), FNext + 1));
      throw end;
    }
    return FLines.Strings(int32_t(FNext++));
  }
  // The next line's eight hexadecimal digits and the text after them: all of it, or
  // with shortText (the older layout's reading) at most 255 characters.
  uint32_t ReadCacheLine(std::string& text, bool shortText = false) {
    const std::string& line = TakeLine();
    const uint32_t value = CacheNumber(std::string_view(line).substr(0, 8));
    text = line.size() > 8 ? line.substr(8, shortText ? 255 : std::string::npos) : std::string();
    return value;
  }
  // The number of the line taken last, from 1.
  int32_t LineNumber() const { return int32_t(FNext); }

private:
  std::string FFileName;
  TStringList FLines;
  size_t FNext = 0;
};

// A model line of today's layout; "Invalid catalogue cache: line N is not a model" when
// it has another shape.
TModelRef ReadModelLine(TCacheReader& cache) {
  const std::string& line = cache.TakeLine();
  std::vector<std::string_view> fields;
  for (size_t from = 0;;) {
    const size_t tab = line.find('\t', from);
    fields.push_back(std::string_view(line).substr(from, tab - from));
    if (tab == std::string::npos) break;
    from = tab + 1;
  }
  const int32_t number = cache.LineNumber();
  auto damaged = [number] {
    return Exception(Format("Invalid catalogue cache: line %d is not a model", number));
  };
  if (fields.size() != 5 || (fields[0] != "F" && fields[0] != "B") || fields[3].empty())
    throw damaged();
  TModelRef model;
  model.Kind = fields[0] == "B" ? TModelKind::Battle : TModelKind::Field;
  // A bone count as the catalogue keeps it, and an index in an archive.
  const uint32_t bones = CacheNumber(fields[1]), index = CacheNumber(fields[2]);
  if (bones > 0xFFFF || index > uint32_t(INT32_MAX)) throw damaged();
  model.BoneCount = int32_t(bones);
  model.MemberIndex = int32_t(index);
  model.Member = UnescapeCacheText(fields[3]);
  model.Skeleton = UnescapeCacheText(fields[4]);
  return model;
}

// A model line of the older layout: its tag and display text. The member name is the
// text up to the " - " after its ".HRC", or up to the first " - " (none: the whole text),
// the skeleton name what follows.
TModelRef ReadOlderModelLine(TCacheReader& cache) {
  std::string text;
  const uint32_t tag = cache.ReadCacheLine(text, true);
  TModelRef model;
  model.BoneCount = int32_t(tag >> 16);
  model.MemberIndex = int32_t(tag & 0xFFFF);
  size_t dash = std::string::npos;
  for (size_t hrc = 0; dash == std::string::npos && hrc + 7 <= text.size(); ++hrc)
    if (SameTextASCII(std::string_view(text).substr(hrc, 7), ".HRC - ")) dash = hrc + 4;
  if (dash == std::string::npos) dash = text.find(" - ");
  model.Member = text.substr(0, dash);
  if (dash != std::string::npos) model.Skeleton = text.substr(dash + 3);
  return model;
}

} // namespace

void TCatalogue::LoadCatalogueCache(const std::string& cacheFileName) {
  TCacheReader cache(cacheFileName);
  const bool older = !cache.TakeLayoutLines();
  std::string text;
  uint32_t recordedSize = cache.ReadCacheLine(text, older);
  ArchivePath = text;
  int64_t size = 0;
  if (!FindOrdinaryFile(ArchivePath, size)) return;
  if (uint32_t(size) != recordedSize)
    throw Exception("Cache record/filesize mismatch - ignoring cache");
  // Counts are 32-bit patterns: one of 8 to F digits is negative and counts nothing.
  for (int32_t m = int32_t(cache.ReadCacheLine(text)), i = 0; i < m; ++i)
    AddModel(older ? ReadOlderModelLine(cache) : ReadModelLine(cache));
  for (int32_t n = int32_t(cache.ReadCacheLine(text)), i = 0; i < n; ++i) {
    uint32_t tag = cache.ReadCacheLine(text, true);
    AnimList.push_back({text, tag});
  }
}

void TCatalogue::ArchiveWritten(const std::string& cacheFileName, const std::string& archivePath) {
  int64_t size = 0;
  if (!FileExists(cacheFileName) || !FindOrdinaryFile(archivePath, size)) return;
  std::string text = ReadFileBytes(cacheFileName);
  // The record line: the first, or the third after today's two layout lines.
  size_t at = 0;
  for (std::string_view layout : LayoutLines) {
    const std::string expected = std::string(layout) + "\r\n";
    if (text.compare(at, expected.size(), expected) != 0) {
      at = 0;
      break;
    }
    at += expected.size();
  }
  const size_t end = text.find_first_of("\r\n", at);
  if (end == std::string::npos || end < at + 8) return;
  if (text.compare(at + 8, end - at - 8, archivePath) != 0) return;
  text.replace(at, 8, Format("%.8X", uint32_t(size)));
  ReplaceFileWithBytes(cacheFileName, text);
  LogFmt("Catalogue cache: %s saved into, its size recorded again", archivePath);
}

} // namespace palkor
