#include "archive/SubStream.h"

#include <gtest/gtest.h>

using namespace palkor;

TEST(SubStream, ShowsOneWindowOfItsBase) {
  TMemoryStream base(std::string_view("0123456789ABCDEF"));
  base.SetPosition(2);
  TSubStream sub(base, 4, 6);    // "456789"
  EXPECT_EQ(base.Position(), 2); // construction does not touch the base
  EXPECT_EQ(sub.Size(), 6);
  EXPECT_EQ(sub.Position(), 0);
  char buf[16] = {};
  EXPECT_EQ(sub.Read(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "45");
  EXPECT_EQ(base.Position(), 4 + 2); // the base ends just after the bytes read
  // 10 asked with 4 left: 4 read, then nothing.
  EXPECT_EQ(sub.Read(buf, 10), 4);
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_EQ(sub.Position(), 6);
  EXPECT_EQ(sub.Read(buf, 10), 0);
}

TEST(SubStream, SeeksWithoutChecksAndFromTheEndBackwards) {
  TMemoryStream base(std::string_view("0123456789"));
  TSubStream sub(base, 2, 5);
  EXPECT_EQ(sub.Seek(0, TSeekOrigin::End), 5);
  EXPECT_EQ(sub.Position(), 5);
  sub.SetPosition(1);
  EXPECT_EQ(sub.Size(), 5);
  EXPECT_EQ(sub.Position(), 1);                // asking the size does not move
  EXPECT_EQ(sub.Seek(2, TSeekOrigin::End), 3); // positive moves back from the end
  EXPECT_EQ(sub.ReadU8(), '5');
  EXPECT_EQ(sub.Seek(-2, TSeekOrigin::Current), 2);
  EXPECT_EQ(sub.ReadU8(), '4');
  char c;
  for (int64_t outside : {-1, 5, 99}) {
    sub.SetPosition(outside);
    EXPECT_EQ(sub.Read(&c, 1), 0) << outside;
  }
  EXPECT_THROW(sub.ReadU8(), EReadError);
}

TEST(SubStream, EmptyWindowsReadNothingAndWritesAreRefused) {
  TMemoryStream base(std::string_view("abc"));
  TSubStream empty(base, 1, 0);
  char c;
  EXPECT_EQ(empty.Read(&c, 1), 0);
  EXPECT_EQ(empty.Size(), 0);
  try {
    empty.WriteBytes("x");
    FAIL();
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
  EXPECT_EQ(base.View(), "abc");
  // A window claiming more than the base holds fails on the read.
  TSubStream tooLong(base, 1, 10);
  char buf[8];
  EXPECT_THROW(tooLong.Read(buf, 8), EReadError);
}
