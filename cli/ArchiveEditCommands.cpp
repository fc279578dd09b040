// add, remove, rename, compact, pack, unpack, check: archives changed as modders change
// them, each change one rebuild through the archive layer.
#include "cli/CliSupport.h"

#include "archive/ArchiveEdit.h"
#include "archive/FolderArchive.h"
#include "archive/LGPCheck.h"
#include "archive/LGPTables.h"
#include "platform/Files.h"
#include "platform/StringList.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace palkor::cli {

namespace {

struct TEditArgs {
  std::string Archive;
  std::string Folder;
  std::vector<std::string> Files;
  std::vector<std::string> Names;
  std::string As, Old, New;
  bool Replace = false;
};

std::string BaseName(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

void RunAdd(const TEditArgs& args) {
  if (!args.As.empty() && args.Files.size() != 1)
    throw CLI::ValidationError("--as", "names one member: give exactly one FILE with it");
  TArchiveEdit edit;
  for (const std::string& file : args.Files) {
    TArchiveEdit::TAdd add;
    add.Name = args.As.empty() ? BaseName(file) : args.As;
    add.Data.Path = file;
    add.Replace = args.Replace;
    edit.Adds.push_back(std::move(add));
  }
  EditArchive(ArchiveKindForPath(args.Archive), edit);
}

void RunRemove(const TEditArgs& args) {
  TArchiveEdit edit;
  edit.Removes = args.Names;
  EditArchive(ArchiveKindForPath(args.Archive), edit);
}

void RunRename(const TEditArgs& args) {
  TArchiveEdit edit;
  edit.Renames.push_back({args.Old, args.New});
  EditArchive(ArchiveKindForPath(args.Archive), edit);
}

void RunCompact(const TEditArgs& args) {
  TArchiveKind kind = ArchiveKindForPath(args.Archive);
  int64_t saved = 0;
  if (kind.Class != &TFolderArchive::Class()) {
    TEditResult result = EditArchive(kind, {});
    saved = result.OldSize - result.NewSize;
  }
  // An archive that lacked the lookup table or end mark the game reads gains them.
  if (saved < 0)
    PrintLine("saved 0 bytes (the archive grew by " + std::to_string(-saved) +
              " bytes: it lacked the lookup table or end mark the game reads)");
  else
    PrintLine("saved " + std::to_string(saved) + " bytes");
}

void RunPack(const TEditArgs& args) {
  if (!DirectoryExists(args.Folder)) throw Exception(Format("\"%s\" is not a folder", args.Folder));
  std::string folder = args.Folder;
  if (folder.back() != '/') folder += '/';
  std::vector<TFolderFile> files = ListFolderFiles(folder);
  std::sort(files.begin(), files.end(),
            [](const TFolderFile& a, const TFolderFile& b) { return a.Name < b.Name; });
  std::vector<TArchiveEdit::TAdd> adds;
  for (const TFolderFile& file : files) {
    CheckMemberName(file.Name);
    TArchiveEdit::TAdd add;
    add.Name = file.Name;
    add.Data.Path = folder + file.Name;
    adds.push_back(std::move(add));
  }
  CreateArchive(args.Archive, adds);
}

void RunUnpack(const TEditArgs& args) {
  auto archive = OpenArchive(args.Archive);
  // Every name is checked before the first file is written.
  std::map<std::string, int32_t> seen;
  std::vector<int32_t> written;
  std::vector<std::string> repeated;
  for (int32_t i = 0; i < archive->Count(); ++i) {
    const std::string& name = archive->EntryAt(i).Name;
    try {
      CheckMemberFileName(name);
    } catch (Exception& e) {
      throw Exception(Format("member %s cannot be unpacked: %s", name, e.Message()));
    }
    if (seen.emplace(name, i).second)
      written.push_back(i);
    else
      repeated.push_back(name);
  }
  std::string folder = args.Folder;
  if (!DirectoryExists(folder) && ::mkdir(folder.c_str(), 0777) != 0)
    throw EFCreateError(folder, SystemErrorText(errno));
  if (folder.back() != '/') folder += '/';
  std::unique_ptr<TLGPMemberReader> reader = archive->OpenMemberReader();
  // Every file written beside the old ones first, then all put in place at once: a
  // failure on the way leaves the old files as they were.
  TReplacedFiles files(folder);
  for (int32_t i : written) {
    const std::string& name = archive->EntryAt(i).Name;
    TMemoryStream data;
    reader->Read(i, data);
    try {
      files.Add(name, data.View());
    } catch (Exception& e) {
      throw Exception(Format("member %s cannot be unpacked: %s", name, e.Message()));
    }
  }
  try {
    files.Commit();
  } catch (Exception& e) {
    if (files.FailedName().empty()) throw;
    throw Exception(Format("member %s cannot be unpacked: %s", files.FailedName(), e.Message()));
  }
  // A name the archive holds more than once (the game's archives keep files of one name
  // from several folders) can be only one file: the first is written.
  for (const std::string& name : repeated)
    std::cerr << "palkor-cli: " << EscapeControls(name)
              << ": more than one member of this name; only the first was unpacked\n";
  if (!repeated.empty()) throw TQuietFailure();
}

void RunCheck(const TEditArgs& args) {
  std::vector<std::string> problems = CheckArchive(ArchiveKindForPath(args.Archive));
  for (const std::string& problem : problems)
    std::cerr << "palkor-cli: " << EscapeControls(args.Archive) << ": " << EscapeControls(problem)
              << "\n";
  if (!problems.empty()) throw TQuietFailure();
}

} // namespace

void AddArchiveEditCommands(CLI::App& app) {
  auto args = std::make_shared<TEditArgs>();

  CLI::App* add = app.add_subcommand("add", "Add files to an archive as members");
  add->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  add->add_option("FILE", args->Files, "Files to add, each named after its base name")->required();
  add->add_option("--as", args->As, "The member's name (with one FILE)");
  add->add_flag("--replace", args->Replace, "Replace a member of the same name");
  add->callback([args] { RunAdd(*args); });

  CLI::App* remove = app.add_subcommand("remove", "Remove members from an archive");
  remove->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  remove->add_option("NAME", args->Names, "Member names, any letter case")->required();
  remove->callback([args] { RunRemove(*args); });

  CLI::App* rename = app.add_subcommand("rename", "Give a member of an archive a new name");
  rename->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  rename->add_option("OLD", args->Old, "Member name, any letter case")->required();
  rename->add_option("NEW", args->New, "Its new name")->required();
  rename->callback([args] { RunRename(*args); });

  CLI::App* compact =
      app.add_subcommand("compact", "Drop the unreferenced data that replacing members leaves");
  compact->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  compact->callback([args] { RunCompact(*args); });

  CLI::App* pack = app.add_subcommand("pack", "Build an archive of every file of a folder");
  pack->add_option("FOLDER", args->Folder, "Folder whose regular files become members")->required();
  pack->add_option("ARCHIVE", args->Archive, "LGP file to write (replaced)")->required();
  pack->callback([args] { RunPack(*args); });

  CLI::App* unpack = app.add_subcommand("unpack", "Write every member of an archive as a file");
  unpack->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  unpack->add_option("FOLDER", args->Folder, "Folder to write into (made when missing)")
      ->required();
  unpack->callback([args] { RunUnpack(*args); });

  CLI::App* check = app.add_subcommand(
      "check", "Check an archive's table, members, lookup and conflict tables and terminator");
  check->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  check->callback([args] { RunCheck(*args); });
}

} // namespace palkor::cli
