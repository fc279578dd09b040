// Field model assembly from an archive.
//
// HRC skeleton (text; lines split at CR, LF or CR LF; "#" lines are comments):
//   three header lines, then per bone: an empty line, the bone's name, its parent's
//   name ("root" for the implicit root), its length, and a resource line
//   "COUNT NAME NAME ...". Bone-list entry 0 is the root; the file's bones follow.
// RSD resource (text, name=value lines, names in any case, first match):
//   PLY=<p file>.PLY names member <p file>.P (the value without its last two characters)
//   NTEX=<count>, TEX[n]=<texture>.TIM names member <texture>.TEX
// A animation: field/AnimLayout.cpp.
#include "field/FieldModel.h"

#include "platform/Memory.h"

#include "field/RSD.h"
#include "field/tex.h"
#include "geometry/Conventions.h"
#include "platform/Convert.h"
#include "platform/DebugLog.h"
#include "platform/StringList.h"

#include <map>
#include <unordered_map>

namespace palkor {

void TFieldBone::AddPart(std::unique_ptr<TFF7PPart> part) {
  Blended = Blended || part->Blended;
  Parts.push_back(std::move(part));
}

void TFieldBone::SetRotation(float x, float y, float z) {
  RotX = x;
  RotY = y;
  RotZ = z;
}

namespace {

// The members of one model, read through a single opening of the archive.
struct TModelMembers {
  TLGPFile& Archive;
  std::unique_ptr<TLGPMemberReader> Reader = Archive.OpenMemberReader();
};

// Appends the member's data at dest's position. A missing name fails with the archive's
// "List index out of bounds (-1)", followed by the name and why.
void ReadNamedMemberTo(TModelMembers& members, const std::string& name, TStream& dest) {
  const int32_t index = members.Archive.IndexOf(name);
  if (index < 0) {
    EListError missing(index);
    missing.AddCause(name + " is not in the archive");
    throw missing;
  }
  try {
    members.Reader->Read(index, dest);
  } catch (EReadError& e) {
    e.AddCause(Format("%s runs past the end of \"%s\"", name, members.Archive.FileName()));
    throw;
  }
}

// The member's data in a fresh stream at position 0.
std::unique_ptr<TMemoryStream> ReadNamedMember(TModelMembers& members, const std::string& name) {
  auto stream = std::make_unique<TMemoryStream>();
  ReadNamedMemberTo(members, name, *stream);
  stream->SetPosition(0);
  return stream;
}

bool IsCommentLine(const std::string& line) {
  size_t p = 0;
  while (p < line.size() && uint8_t(line[p]) <= ' ') ++p;
  return p < line.size() && line[p] == '#';
}

// The lines of a skeleton, taken from the front; comment lines are passed over. Running
// out is the string list's "List index out of bounds (0)".
class THRCReader {
public:
  THRCReader(TStringList& lines, const std::string& name) : FLines(lines), FName(name) {}
  bool AtEnd() const { return FNext >= size_t(FLines.Count()); }
  std::string NextLine() {
    for (;;) {
      if (AtEnd()) {
        EListError end(0);
        end.AddCause(FName + " ends inside a bone");
        throw end;
      }
      const std::string& line = FLines.Strings(int32_t(FNext++));
      if (!IsCommentLine(line)) return line;
    }
  }

private:
  TStringList& FLines;
  std::string FName;
  size_t FNext = 0;
};

// Decoded textures by member name in upper case, so that parts naming one member share
// its image.
using TTextureCache = std::map<std::string, std::shared_ptr<const TTexImage>>;

// The model loader's rules: NTEX 0 unless an integer, textures named as archive members.
constexpr TRSDRules ArchiveResource{TRSDCount::ZeroUnlessInteger, TRSDTextureNames::ArchiveMember};

// One resource: its RSD, the P part it names and the part's textures.
std::unique_ptr<TFF7PPart> LoadResource(TModelMembers& members, const std::string& resource,
                                        TTextureCache& textures) {
  const std::string rsdName = resource + ".rsd";
  const TRSDResource rsd(*ReadNamedMember(members, rsdName), rsdName, ArchiveResource);

  const std::string& pName = rsd.PName();
  if (pName.empty()) {
    EListError missing(-1);
    missing.AddCause(rsdName + " names no P part");
    throw missing;
  }
  auto data = ReadNamedMember(members, pName);
  auto part = ReadingMember(pName, [&] { return TFF7PPart::CreateFromStream(*data); });

  for (int32_t n = 0; n < rsd.TextureCount(); ++n) {
    const std::string member = rsd.TextureName(n);
    std::shared_ptr<const TTexImage>& image = textures[UpperCaseASCII(member)];
    if (!image) {
      auto data = ReadNamedMember(members, member);
      image = ReadingMember(member, [&] { return LoadTEX(*data, TEXDataOffset); });
    }
    part->Textures.push_back(image);
    part->TextureNames.push_back(member);
    part->Blended = true;
  }
  return part;
}

} // namespace

std::vector<std::string> ResourceNames(std::string line) {
  std::vector<std::string> names;
  size_t blank = line.find(' ');
  if (blank != std::string::npos)
    line.erase(0, blank + 1);
  else if (line == "0")
    return names;
  while (!line.empty()) {
    blank = line.find(' ');
    if (blank == std::string::npos) {
      names.push_back(line);
      break;
    }
    names.push_back(line.substr(0, blank));
    line = line.substr(blank + 1, 255);
  }
  return names;
}

TFieldModel::TFieldModel(TLGPFile& lgp, const std::string& hrcName, const std::string& animName) {
  TReadingScope reading("model " + hrcName + " of \"" + lgp.FileName() + "\"");
  Log("TFF7Model.Create");
  LGPClass = &lgp.ClassType();
  LGPFileName = lgp.FileName();
  HRCName = hrcName;
  AnimName = animName;

  Log("TFF7Model.Create: Get Anims");
  TModelMembers members{lgp};
  if (!animName.empty()) ReadNamedMemberTo(members, animName, AnimData);

  Log("TFF7Model.Create: Get HRC");
  TStringList hrcLines;
  hrcLines.LoadFromStream(*ReadNamedMember(members, hrcName));

  auto root = std::make_unique<TFieldBone>();
  root->Name = "root";
  Bones.push_back(std::move(root));

  TTextureCache textures;
  std::unordered_map<std::string, int32_t> firstOfName{{"root", 0}};
  THRCReader hrc(hrcLines, hrcName);
  for (int i = 0; i < 3; ++i) hrc.NextLine();
  Log("TFF7Model.Create: Scan HRC");
  while (!hrc.AtEnd()) {
    if (!hrc.NextLine().empty()) {
      Exception fail("HRC fail");
      fail.AddCause(hrcName + " has a bone that does not begin with an empty line");
      throw fail;
    }
    Bones.push_back(std::make_unique<TFieldBone>());
    TFieldBone& bone = *Bones.back();
    bone.Name = hrc.NextLine();
    Log("TFF7Model.Create: Part " + bone.Name);
    // The first entry of that name, searching from the root, found through an index of
    // the names before it. A bone that would be its own parent stays unparented: it
    // would otherwise hang from itself without end.
    std::string parentName = hrc.NextLine();
    if (auto parent = firstOfName.find(parentName); parent != firstOfName.end())
      bone.Parent = parent->second;
    firstOfName.emplace(bone.Name, int32_t(Bones.size() - 1));
    try {
      bone.Length = float(StrToFloat(hrc.NextLine()));
    } catch (EConvertError& e) {
      e.AddCause("the length of bone " + bone.Name + " in " + hrcName);
      throw;
    }
    for (const std::string& resource : ResourceNames(hrc.NextLine()))
      bone.AddPart(LoadResource(members, resource, textures));
  }
  Log("TFF7Model.Create: HRC scan complete");

  std::vector<int32_t> parents;
  for (const auto& bone : Bones) parents.push_back(bone->Parent);
  FChildren = ChildrenOf(parents);

  FrameCount = AnimFrameCount(AnimData.Size(), BoneCount());
  if (!animName.empty() && FrameCount < 1) {
    EReadError empty;
    empty.AddCause(Format("%s holds no whole frame of %d bones", animName, BoneCount()));
    throw empty;
  }
  if (!animName.empty()) SetFrame(0);
  Log("TFF7Model.Create: Finished");
}

void TFieldModel::SetFrame(int32_t frame) {
  CurrentFrame = frame;
  for (int32_t j = 1; j < BoneCount(); ++j) {
    TVec3 rot = GetRotation(j, frame);
    Bones[size_t(j)]->SetRotation(rot.X, rot.Y, rot.Z);
  }
}

TVec3 TFieldModel::GetRotation(int32_t bone, int32_t frame) const {
  return AnimRotation(AnimData.View(), BoneCount(), bone, frame);
}

void TFieldModel::SetRotation(int32_t bone, int32_t frame, const TVec3& rotation) {
  // The write stays inside the animation: growing it would change the member's length
  // when it is saved.
  SetAnimRotation({AnimData.Memory(), size_t(AnimData.Size())}, BoneCount(), bone, frame, rotation);
  SetFrame(CurrentFrame);
}

TFieldBone& TFieldModel::GetBone(int32_t index) {
  CheckListIndex(index, BoneCount());
  return *Bones[size_t(index)];
}

const TFieldBone& TFieldModel::GetBone(int32_t index) const {
  CheckListIndex(index, BoneCount());
  return *Bones[size_t(index)];
}

TMatrix4 TFieldModel::BoneTurn(int32_t bone) const {
  const TFieldBone& b = *Bones[size_t(bone)];
  return FieldBoneTurn({b.RotX, b.RotY, b.RotZ});
}

std::vector<TPosedJoint> TFieldModel::PoseFrom(int32_t bone, const TMatrix4& base) const {
  return ComposeSkeleton(
      bone, FChildren, base, [&](int32_t b) { return BoneTurn(b); },
      [&](int32_t b) { return FieldBoneReach(Bones[size_t(b)]->Length); });
}

void TFieldModel::ReplaceAnimation(std::string_view bytes) {
  if (AnimFrameCount(int64_t(bytes.size()), BoneCount()) < 1) throw EReadError();
  AnimData.Clear();
  AnimData.WriteBytes(bytes);
  FrameCount = AnimFrameCount(AnimData.Size(), BoneCount());
  SetFrame(0);
}

void TFieldModel::SaveAnimation() {
  std::unique_ptr<TLGPFile> lgp = LGPClass->Create(LGPFileName, false);
  lgp->WriteMember(lgp->IndexOf(AnimName), AnimData);
}

} // namespace palkor
