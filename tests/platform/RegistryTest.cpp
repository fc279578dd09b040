#include "platform/Registry.h"

#include <gtest/gtest.h>

using namespace palkor;

TEST(Registry, FindsTheGamesAppPathUnderEitherKey) {
  const std::string plain =
      "WINE REGISTRY Version 2\n\n"
      "[Software\\\\Other] 1\n\"AppPath\"=\"C:\\\\Wrong\\\\\"\n\n"
      "[Software\\\\Square Soft, Inc.\\\\Final Fantasy VII] 1700000000\n"
      "#time=1d9\n\"DataPath\"=\"x\"\n\"AppPath\"=\"C:\\\\Games\\\\FF7\\\\\"\n";
  EXPECT_EQ(FindGameAppPath(plain), "C:\\Games\\FF7\\");
  const std::string wow =
      "[Software\\\\Wow6432Node\\\\Square Soft, Inc.\\\\Final Fantasy VII] 1\r\n"
      "\"apppath\"=\"D:\\\\FF7\\\\\"\r\n";
  EXPECT_EQ(FindGameAppPath(wow), "D:\\FF7\\");
  EXPECT_EQ(FindGameAppPath("[Software\\\\Square Soft, Inc.\\\\Final Fantasy VII]\n"), "");
  EXPECT_EQ(FindGameAppPath(""), "");
}

TEST(Registry, WindowsPathsMapThroughThePrefixDrives) {
  EXPECT_EQ(WindowsPathToLocal("C:\\Games\\FF7\\data\\field", "/home/u/.wine"),
            "/home/u/.wine/dosdevices/c:/Games/FF7/data/field");
  EXPECT_EQ(WindowsPathToLocal("d:\\x", "/p"), "/p/dosdevices/d:/x");
  EXPECT_EQ(WindowsPathToLocal("relative\\path", "/p"), "");
}
