#include "field/RSD.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace palkor;

namespace {

constexpr TRSDRules Archive{TRSDCount::ZeroUnlessInteger, TRSDTextureNames::ArchiveMember};
constexpr TRSDRules File{TRSDCount::Strict, TRSDTextureNames::FileWithTEXExtension};

// What a caller gets from the text: the P member, then each texture name in order until
// the first failure, whose message ends the list.
std::vector<std::string> Read(const std::string& text, const TRSDRules& rules) {
  std::vector<std::string> got;
  try {
    TMemoryStream stream(text);
    TRSDResource rsd(stream, "R.rsd", rules);
    got.push_back(rsd.PName());
    for (int32_t n = 0; n < rsd.TextureCount(); ++n) got.push_back(rsd.TextureName(n));
  } catch (const Exception& e) {
    got.push_back("error: " + e.Message());
  }
  return got;
}

} // namespace

TEST(RSD, TheModelLoaderAndTheTexturiserReadTheSameEntriesByTheirOwnRules) {
  using TList = std::vector<std::string>;
  const struct {
    std::string Text;
    TList Archive, File;
  } cases[] = {
      // Names in any case, the first match winning; entries at or beyond the count unread.
      {"ply=A.PLY\r\nNTEX=2\r\nTEX[0]=RED.TIM\r\ntex[1]=BLUE.TIM\r\nTEX[1]=NO.TIM\r\n"
       "TEX[2]=NONE.TIM\r\n",
       {"A.P", "RED.TEX", "BLUE.TEX"},
       {"A.P", "RED.TEX", "BLUE.TEX"}},
      // Values as they stand: blanks belong to the name or the value; lines without "="
      // and a number with a leading zero name nothing.
      {"PLY =A.PLY\nNTEX=1\nTEX[00]=X.TIM\nTEX[0]\nTEX[0]=sub.d/red.t \n",
       {"", "sub.d/red.EX"},
       {"", "sub.d/red.TEX"}},
      // A value without an extension, or whose last period is in a folder's name.
      {"PLY=AB\nNTEX=2\nTEX[0]=RED\nTEX[1]=a.b\\RED\n",
       {"", "REX", "a.b\\REX"},
       {"", "RED.TEX", "a.b\\RED.TEX"}},
      // A missing or short entry below the count: an error for an archive member, the
      // name of the empty value beside the RSD.
      {"PLY=A.PLY\nNTEX=3\nTEX[0]=RED.TIM\nTEX[1]=R\n",
       {"A.P", "RED.TEX", "error: Invalid resource R.rsd: TEX[1] names no texture"},
       {"A.P", "RED.TEX", "R.TEX", ".TEX"}},
      // The count: 0 or less names nothing; one that is no integer is 0 for the loader
      // and the conversion error for the Texturiser.
      {"PLY=A.PLY\nNTEX=0\nTEX[0]=RED.TIM\n", {"A.P"}, {"A.P"}},
      {"PLY=A.PLY\nNTEX=-2\nTEX[0]=RED.TIM\n", {"A.P"}, {"A.P"}},
      {"PLY=A.PLY\nNTEX=1x\nTEX[0]=RED.TIM\n",
       {"A.P"},
       {"error: '1x' is not a valid integer value"}},
      {"PLY=A.PLY\nTEX[0]=RED.TIM\n", {"A.P"}, {"error: '' is not a valid integer value"}},
      // A count far beyond the entries fails at the first missing one, not after making
      // the whole list.
      {"NTEX=2147483647\nTEX[0]=RED.TIM\n",
       {"", "RED.TEX", "error: Invalid resource R.rsd: TEX[1] names no texture"},
       {}},
      {"", {""}, {"error: '' is not a valid integer value"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.Text, Archive), c.Archive) << c.Text;
    if (!c.File.empty()) {
      EXPECT_EQ(Read(c.Text, File), c.File) << c.Text;
    }
  }
}
