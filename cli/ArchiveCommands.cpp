// members, extract, replace: the archive layer as the viewer uses it.
#include "cli/CliSupport.h"

#include "platform/Files.h"

#include <memory>

namespace palkor::cli {

namespace {

struct TArchiveArgs {
  std::string Archive;
  std::string Member;
  std::string File;
  bool Verify = false;
};

void RunMembers(const TArchiveArgs& args) {
  auto archive = OpenArchive(args.Archive, args.Verify);
  for (int32_t i = 0; i < archive->Count(); ++i) {
    TLGPEntry entry = archive->GetEntry(i);
    if (args.Verify)
      PrintFields({std::to_string(i), std::to_string(entry.Offset), std::to_string(entry.Size),
                   entry.NameMismatch ? "1" : "0", entry.Name});
    else
      PrintFields({std::to_string(i), std::to_string(entry.Offset), entry.Name});
  }
}

void RunExtract(const TArchiveArgs& args) {
  auto archive = OpenArchive(args.Archive);
  int32_t index = FindMember(*archive, args.Member);
  if (args.File.empty()) {
    // The whole member is read before anything is written.
    TMemoryStream data;
    archive->ReadMember(index, data);
    WriteStdout(data.View());
    return;
  }
  // The member's header is checked before any file is touched; its data then goes from
  // the archive file to the new file, copied by the kernel where it can, and the old file
  // stays as it was should that fail.
  std::unique_ptr<TStream> member = archive->OpenMemberStream(index);
  ReplaceFileFromStream(args.File, *member);
}

void RunReplace(const TArchiveArgs& args) {
  TMemoryStream data;
  data.LoadFromFile(args.File);
  auto archive = OpenArchive(args.Archive);
  int32_t index = FindMember(*archive, args.Member);
  archive->WriteMember(index, data);
}

} // namespace

void AddArchiveCommands(CLI::App& app) {
  auto args = std::make_shared<TArchiveArgs>();

  CLI::App* members =
      app.add_subcommand("members", "List the members of an archive in table order");
  members->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  members->add_flag("--verify", args->Verify,
                    "Open with verification: also print each member's size and name mismatch");
  members->callback([args] { RunMembers(*args); });

  CLI::App* extract =
      app.add_subcommand("extract", "Write a member's data to a file or to standard output");
  extract->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  extract->add_option("MEMBER", args->Member, "Member name, any letter case")->required();
  extract->add_option("OUTFILE", args->File,
                      "File to write (replaced); standard output when left out");
  extract->callback([args] { RunExtract(*args); });

  CLI::App* replace =
      app.add_subcommand("replace", "Replace a member's data with the whole of a file");
  replace->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  replace->add_option("MEMBER", args->Member, "Member name, any letter case")->required();
  replace->add_option("FILE", args->File, "The new data")->required();
  replace->callback([args] { RunReplace(*args); });
}

} // namespace palkor::cli
