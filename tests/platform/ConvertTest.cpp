#include "platform/Convert.h"

#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

using namespace palkor;

TEST(Convert, IntegersAcceptDecimalAndHexAndRejectTheRest) {
  const std::pair<const char*, int32_t> good[] = {
      {"0", 0},
      {"42", 42},
      {"-17", -17},
      {"+5", 5},
      {"  12", 12},
      {"$FF", 255},
      {"0x10", 16},
      {"$FFFFFFFF", -1},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
  };
  for (auto [text, value] : good) EXPECT_EQ(StrToInt(text), value) << text;
  for (const char* bad : {"", " ", "12 ", "1.5", "abc", "--1", "2147483648", "$", "0x"}) {
    int32_t v;
    EXPECT_FALSE(TryStrToInt(bad, v)) << bad;
  }
  try {
    StrToInt("1x");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'1x' is not a valid integer value");
  }
  EXPECT_EQ(StrToIntDef("nope", 7), 7);
}

namespace {

// The float texts every locale must read alike.
void ExpectFloatsReadWithADot() {
  const std::pair<const char*, double> good[] = {
      {"1.5", 1.5}, {"-0.25", -0.25}, {" 3 ", 3},         {".5", 0.5},
      {"5.", 5},    {"1e3", 1000},    {"-2.5E-1", -0.25}, {"+7", 7},
  };
  for (auto [text, value] : good) EXPECT_DOUBLE_EQ(StrToFloat(text), value) << text;
  for (const char* bad : {"", ".", "1,5", "e5", "1e", "nan", "inf", "1.5x", "--1", "1e999"}) {
    double v;
    EXPECT_FALSE(TryStrToFloat(bad, v)) << bad;
  }
  try {
    StrToFloat("1,5");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'1,5' is not a valid floating point value");
  }
}

// Sets a numeric locale whose decimal separator is a comma for its lifetime, where the
// system has one.
class TCommaLocale {
public:
  TCommaLocale() {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    FSaved = old ? old : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE",
                             "fr_FR", "nl_NL.UTF-8", "ru_RU.UTF-8"})
      if (std::setlocale(LC_NUMERIC, name) && std::string(std::localeconv()->decimal_point) == ",")
        return;
    std::setlocale(LC_NUMERIC, FSaved.c_str());
    FSaved.clear();
  }
  ~TCommaLocale() {
    if (!FSaved.empty()) std::setlocale(LC_NUMERIC, FSaved.c_str());
  }
  bool Set() const { return !FSaved.empty(); }

private:
  std::string FSaved; // empty when no comma locale was set
};

} // namespace

TEST(Convert, FloatsUseADot) {
  ExpectFloatsReadWithADot();
}

TEST(Convert, FloatsUseADotUnderACommaLocale) {
  TCommaLocale comma;
  if (!comma.Set())
    GTEST_SKIP() << "no locale with a decimal comma is installed (tried de_DE, fr_FR, nl_NL, "
                    "ru_RU): `locale -a` lists the ones there are";
  ExpectFloatsReadWithADot();
}
