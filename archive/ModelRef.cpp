#include "archive/ModelRef.h"

#include "platform/StringList.h"

namespace palkor {

std::string TModelRef::Code() const {
  return IsBattle() ? UpperCaseASCII(std::string_view(Member).substr(0, 2)) : std::string();
}

std::string TModelRef::DisplayText() const {
  if (IsBattle()) return "[Battle] " + UpperCaseASCII(Member);
  return Member + " - " + Skeleton;
}

std::string TModelRef::FileStem() const {
  if (IsBattle()) return Code();
  const size_t dot = Member.rfind('.');
  return dot == std::string::npos ? Member : Member.substr(0, dot);
}

TModelRef TModelRef::OfBattleCode(const std::string& code) {
  TModelRef ref;
  ref.Kind = TModelKind::Battle;
  ref.Member = UpperCaseASCII(code) + "AA";
  return ref;
}

TModelRef TModelRef::OfFieldMember(const std::string& member) {
  TModelRef ref;
  ref.Member = member;
  return ref;
}

} // namespace palkor
