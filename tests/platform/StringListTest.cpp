#include "platform/StringList.h"

#include <gtest/gtest.h>

using namespace palkor;

TEST(StringList, SplitsLinesAtCrLfAndCrLf) {
  struct Case {
    std::string Text;
    std::vector<std::string> Lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},                 // a final terminator makes no empty line
      {"a\nb\rc", {"a", "b", "c"}},               // LF and CR alone end lines too
      {"a\r\n\r\nb", {"a", "", "b"}},             // an empty line in the middle stays
      {"a\n\rb", {"a", "", "b"}},                 // LF CR is two line ends
      {std::string("a\nb\0c\nd", 7), {"a", "b"}}, // a NUL ends the text
      {"\n", {""}},
  };
  for (const Case& c : cases) {
    TStringList list;
    list.SetText(c.Text);
    EXPECT_EQ(list.Lines(), c.Lines) << "text: " << c.Text;
  }
}

TEST(StringList, NameValueLookupIgnoresCaseAndTakesTheFirstMatch) {
  TStringList list;
  list.SetText("Bones=12\nbones=99\nNAME=x=y\nplain\n=empty");
  EXPECT_EQ(list.Values("BONES"), "12");
  EXPECT_EQ(list.Values("name"), "x=y");
  EXPECT_EQ(list.Values("plain"), "");
  EXPECT_EQ(list.Values(""), "empty");
  EXPECT_EQ(list.IndexOfName("Name"), 2);
  EXPECT_EQ(list.IndexOfName("missing"), -1);
  EXPECT_EQ(list.IndexOf("PLAIN"), 3);
  EXPECT_EQ(list.Names(0), "Bones");
}

TEST(StringList, OutOfBoundsIndexesFailWithTheListMessage) {
  TStringList list;
  list.Add("one");
  try {
    list.Strings(1);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  EXPECT_THROW(list.Strings(-1), EListError);
  EXPECT_THROW(list.Delete(3), EListError);
  EXPECT_EQ(list.Text(), "one\r\n");
}

TEST(StringList, UpperCasesAsciiLettersOnly) {
  EXPECT_EQ(UpperCaseASCII("aazz.hrc\xe9"), "AAZZ.HRC\xe9");
  EXPECT_TRUE(SameTextASCII("aBc", "AbC"));
  EXPECT_FALSE(SameTextASCII("\xe9", "\xc9"));
}

TEST(StringList, EscapingIntoABufferWritesWhatEscapeControlsWrites) {
  const std::string text = std::string("a\nb\x1b[31m\x7f", 9) + std::string(1, '\0') + "z";
  char buffer[64];
  EXPECT_EQ(EscapeControlsInto(text, buffer, sizeof buffer), EscapeControls(text).size());
  EXPECT_EQ(std::string(buffer), "a\\x0Ab\\x1B[31m\\x7F\\x00z");
  // Cut short at a whole escape, never inside one.
  EXPECT_EQ(EscapeControlsInto(text, buffer, 5), 1u);
  EXPECT_EQ(std::string(buffer), "a");
  EXPECT_EQ(EscapeControlsInto(text, buffer, 6), 5u);
  EXPECT_EQ(std::string(buffer), "a\\x0A");
}
