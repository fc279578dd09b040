#pragma once

#include <cstdint>
#include <string>

namespace palkor {

// The two kinds of model an archive holds: a field model (an HRC skeleton with its
// parts) and a battle model (the members of a two-letter code, its skeleton in CODEAA).
enum class TModelKind : uint8_t { Field, Battle };

// Which model of an archive: the catalogue lists one of these for each model, the viewer
// keeps the one it shows, and exports, frame files and the command line name models
// through them. Plain data, compared field by field.
struct TModelRef {
  TModelKind Kind = TModelKind::Field;
  // The skeleton's member as the archive spells it: "KNIG.HRC", or a battle model's
  // "rtaa", whose first two characters are its code.
  std::string Member;
  // A field model's skeleton name as the model list shows it (at most 20 characters of
  // the HRC's second line); none for a battle model.
  std::string Skeleton;
  // A field model's bone count as the catalogue keeps it: 0 to 65535, an unreadable
  // count being 65535. 0 for a battle model, whose bones the catalogue does not read.
  int32_t BoneCount = 0;
  // The skeleton member's index in the archive; -1 when not known.
  int32_t MemberIndex = -1;
  // The model's place in the catalogue's list; -1 for a model named without one.
  int32_t Index = -1;

  bool IsBattle() const { return Kind == TModelKind::Battle; }
  // A battle model's two-letter code in upper case ("RT"); "" for a field model.
  std::string Code() const;
  // The model list's text: "KNIG.HRC - KNIG", or "[Battle] RTAA" (the member in upper
  // case).
  std::string DisplayText() const;
  // The name of the model's files, without extension, as Export All Models names them:
  // the member name without its extension ("KNIG"), or the code ("RT").
  std::string FileStem() const;

  // The battle model of a two-letter code in any letter case, named without a catalogue:
  // its member is the code and "AA" in upper case.
  static TModelRef OfBattleCode(const std::string& code);
  // The field model of an HRC member, named without a catalogue.
  static TModelRef OfFieldMember(const std::string& member);

  bool operator==(const TModelRef&) const = default;
};

} // namespace palkor
