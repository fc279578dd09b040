// Writes small valid and faulty archives into a folder, as a starting corpus.
#include "fixtures/LGPWriter.h"

#include <string>

using namespace palkor::fixtures;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string folder = argv[1];
  TLGPFixture plain;
  plain.Add("AAAA.HRC", "skeleton").Add("AAAB.RSD", "resource").Add("AAAC.P", PatternBytes(64, 1));
  WriteFile(folder + "/plain.lgp", BuildLGP(plain));

  TLGPFixture odd = plain;
  odd.Members[1].TableOffset = MemberOffsets(odd)[0];
  odd.Members[2].HeaderSize = 1 << 20;
  odd.Gap = std::string(40, '\x01');
  WriteFile(folder + "/odd.lgp", BuildLGP(odd));

  TLGPFixture cut = plain;
  cut.TruncateAt = 100;
  WriteFile(folder + "/cut.lgp", BuildLGP(cut));

  WriteFile(folder + "/empty.lgp", BuildLGP(TLGPFixture()));
  return 0;
}
