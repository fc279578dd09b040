#include "platform/Streams.h"

#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace palkor;

TEST(MemoryStream, ReadWriteSeekAndSize) {
  TMemoryStream s;
  s.WriteBytes("abcdef");
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Position(), 6);
  EXPECT_EQ(s.Seek(-2, TSeekOrigin::End), 4);
  EXPECT_EQ(s.ReadBytes(2), "ef");
  EXPECT_EQ(s.Seek(-5, TSeekOrigin::Current), 1);
  char buf[10];
  EXPECT_EQ(s.Read(buf, 10), 5); // a short read returns what is there
  EXPECT_EQ(s.Read(buf, 10), 0);
  // Writing past the end grows the stream with zeros.
  s.SetPosition(8);
  s.WriteBytes("Z");
  EXPECT_EQ(s.View(), std::string("abcdef\0\0Z", 9));
  // A negative position reads nothing.
  s.SetPosition(-3);
  EXPECT_EQ(s.Read(buf, 1), 0);
}

TEST(MemoryStream, ExactReadsAndWritesFailWithTheRuntimeMessages) {
  TMemoryStream s(std::string_view("abc"));
  char buf[4];
  try {
    s.ReadBuffer(buf, 4);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  // A stream that refuses writes: the write-everything operation fails.
  struct TReadOnly : TMemoryStream {
    int64_t Write(const void*, int64_t) override { return 0; }
  } readOnly;
  try {
    readOnly.WriteBytes("x");
    FAIL();
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
  EXPECT_THROW(s.ReadBytes(-1), EReadError);
  // ReadBytes refuses absurd counts before allocating anything.
  s.SetPosition(0);
  EXPECT_THROW(s.ReadBytes(int64_t(1) << 40), EReadError);
}

TEST(MemoryStream, LittleEndianTypedValues) {
  TMemoryStream s;
  s.WriteU8(0x80);
  s.WriteI16LE(-2);
  s.WriteU32LE(0x12345678);
  s.WriteI32LE(-100000);
  s.WriteF32LE(1.5f);
  EXPECT_EQ(s.View().substr(0, 7), std::string("\x80\xFE\xFF\x78\x56\x34\x12", 7));
  s.SetPosition(0);
  EXPECT_EQ(s.ReadU8(), 0x80);
  EXPECT_EQ(s.ReadI16LE(), -2);
  EXPECT_EQ(s.ReadU32LE(), 0x12345678u);
  EXPECT_EQ(s.ReadI32LE(), -100000);
  EXPECT_EQ(s.ReadF32LE(), 1.5f);
  EXPECT_THROW(s.ReadU8(), EReadError);
}

TEST(MemoryStream, CopyFromCopiesCountOrTheWholeSource) {
  TMemoryStream source(std::string_view("0123456789"));
  TMemoryStream dest;
  source.SetPosition(3);
  EXPECT_EQ(dest.CopyFrom(source, 4), 4);
  EXPECT_EQ(dest.View(), "3456");
  EXPECT_EQ(source.Position(), 7);
  // Count 0: all of source from its start, appended at dest's position.
  EXPECT_EQ(dest.CopyFrom(source, 0), 10);
  EXPECT_EQ(dest.View(), "34560123456789");
  // A source that cannot supply the count changes nothing.
  source.SetPosition(8);
  EXPECT_THROW(dest.CopyFrom(source, 5), EReadError);
  EXPECT_EQ(dest.Size(), 14);
}

TEST(FileStream, ModesAndTheirErrors) {
  fixtures::TTempDir dir;
  std::string path = dir.File("a.bin");
  try {
    TFileStream missing(path, TFileMode::OpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + path + "\". No such file or directory");
  }
  try {
    TFileStream bad(dir.File("no/such/folder"), TFileMode::Create);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + dir.File("no/such/folder") +
                               "\". No such file or directory");
  }
  // A folder is not a file.
  EXPECT_THROW(TFileStream(dir.Path(), TFileMode::OpenRead), EFOpenError);
  {
    TFileStream create(path, TFileMode::Create);
    create.WriteBytes("hello world");
  }
  {
    TFileStream rw(path, TFileMode::OpenReadWrite);
    EXPECT_EQ(rw.Size(), 11);
    rw.Seek(-5, TSeekOrigin::End);
    rw.WriteBytes("WORLD!");
    rw.Flush();
  }
  TFileStream read(path, TFileMode::OpenRead);
  EXPECT_EQ(read.ReadBytes(12), "hello WORLD!");
  EXPECT_THROW(read.ReadU8(), EReadError);
  // Writing through a read-only handle fails.
  read.SetPosition(0);
  EXPECT_THROW(read.WriteBytes("x"), EWriteError);
  // Create empties an existing file.
  TFileStream again(path, TFileMode::Create);
  EXPECT_EQ(again.Size(), 0);
}
