// Opening a large archive, looking members up by name, and reading every member of a
// 30 MB archive (each opening the file, or all through one member reader) against one
// read of the whole file.
#include "archive/LGPFile.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "platform/StringList.h"

#include <benchmark/benchmark.h>

#include <map>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

// Four letters and an extension, as the game names its members.
std::string MemberName(int i) {
  static const char* extensions[] = {".HRC", ".RSD", ".P", ".TEX", ".A"};
  return Letters(i / 5, 4) + extensions[i % 5];
}

const TTempDir& Dir() {
  static TTempDir dir;
  return dir;
}

const std::string& ArchiveOf(int members, size_t memberSize) {
  static std::map<std::pair<int, size_t>, std::string> paths;
  std::string& path = paths[{members, memberSize}];
  if (path.empty()) {
    TLGPFixture fixture;
    for (int i = 0; i < members; ++i)
      fixture.Add(MemberName(i), PatternBytes(memberSize, uint32_t(i)));
    path = Dir().File(std::to_string(members) + "x" + std::to_string(memberSize) + ".lgp");
    WriteFile(path, BuildLGP(fixture));
  }
  return path;
}

void BM_Open10000Members(benchmark::State& state) {
  const std::string& path = ArchiveOf(10000, 16);
  // The name index is sorted on the first lookup: one lookup is part of the open.
  for (auto _ : state) {
    auto archive = TLGPFile::Create(path, false);
    benchmark::DoNotOptimize(archive->IndexOf("AAAA.HRC"));
  }
}
BENCHMARK(BM_Open10000Members)->Unit(benchmark::kMillisecond);

void BM_IndexOf10000Lookups(benchmark::State& state) {
  auto archive = TLGPFile::Create(ArchiveOf(10000, 16), false);
  std::vector<std::string> probes;
  for (int i = 0; i < 10000; ++i) {
    std::string name = MemberName((i * 7919) % 10000);
    probes.push_back(i % 2 ? name : std::string(1, char(name[0] | 0x20)) + name.substr(1));
  }
  for (auto _ : state) {
    int64_t sum = 0;
    for (const std::string& probe : probes) sum += archive->IndexOf(probe);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_IndexOf10000Lookups)->Unit(benchmark::kMillisecond);

// A 30 MB archive of state.range(0) members (3,000 of 10,000 bytes, or 300 of 100,000).
// Each ReadMember opens and closes the file, as every archive operation does.
void BM_ReadMemberEvery30MB(benchmark::State& state) {
  int members = int(state.range(0));
  auto archive = TLGPFile::Create(ArchiveOf(members, size_t(30000000 / members)), false);
  for (auto _ : state) {
    int64_t total = 0;
    for (int32_t i = 0; i < archive->Count(); ++i) total += archive->ReadMemberToMemory(i)->Size();
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 30000000);
}
BENCHMARK(BM_ReadMemberEvery30MB)->Arg(3000)->Arg(300)->Unit(benchmark::kMillisecond);

// The same through the member reader: one opening of the archive for the whole pass.
void BM_MemberReaderEvery30MB(benchmark::State& state) {
  int members = int(state.range(0));
  auto archive = TLGPFile::Create(ArchiveOf(members, size_t(30000000 / members)), false);
  for (auto _ : state) {
    int64_t total = 0;
    auto reader = archive->OpenMemberReader();
    for (int32_t i = 0; i < archive->Count(); ++i) {
      TMemoryStream member;
      reader->Read(i, member);
      total += member.Size();
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 30000000);
}
BENCHMARK(BM_MemberReaderEvery30MB)->Arg(3000)->Arg(300)->Unit(benchmark::kMillisecond);

void BM_ReadWholeFile30MB(benchmark::State& state) {
  int members = int(state.range(0));
  const std::string& path = ArchiveOf(members, size_t(30000000 / members));
  for (auto _ : state) {
    TMemoryStream whole;
    whole.LoadFromFile(path);
    benchmark::DoNotOptimize(whole.Size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 30000000);
}
BENCHMARK(BM_ReadWholeFile30MB)->Arg(3000)->Arg(300)->Unit(benchmark::kMillisecond);

// What one archive operation costs before it reads anything: opening and closing the file.
void BM_OpenCloseFile(benchmark::State& state) {
  const std::string& path = ArchiveOf(10000, 16);
  for (auto _ : state) {
    TFileStream file(path, TFileMode::OpenRead);
    benchmark::DoNotOptimize(file.Size());
  }
}
BENCHMARK(BM_OpenCloseFile)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
