// catalogue, anims, details: the archive analysis of File > Open and the lists the
// main window fills from it.
#include "cli/CliSupport.h"
#include "cli/OutputBuffer.h"

#include "app/catalogue.h"

#include <memory>

namespace palkor::cli {

namespace {

struct TCatalogueArgs {
  std::string Archive;
  std::string Model;
  std::string Filter;
};

TCatalogue Analyse(const std::string& path) {
  TCatalogue catalogue;
  catalogue.ArchivePath = path;
  auto archive = OpenArchive(path);
  catalogue.AnalyseArchive(*archive);
  return catalogue;
}

// Thousands of records, written through one buffer.
void RunCatalogue(const TCatalogueArgs& args) {
  TCatalogue catalogue = Analyse(args.Archive);
  TOutputBuffer out;
  auto record = [&out](std::string_view kind, uint32_t tag, std::string_view text) {
    out.Put(kind);
    out.Put('\t');
    out.PutHex8(tag);
    out.Put('\t');
    out.PutEscaped(text);
    out.Put('\n');
  };
  // Field models and animations with their tags; the battle archive's models after them.
  for (const TModelRef& model : catalogue.Models)
    if (!model.IsBattle()) record("model", CatalogueTag(model), model.DisplayText());
  for (const TCatalogueEntry& anim : catalogue.AnimList) record("anim", anim.Tag, anim.Name);
  for (const TModelRef& model : catalogue.Models)
    if (model.IsBattle()) {
      out.Put("battle\t");
      out.PutEscaped(model.DisplayText());
      out.Put('\n');
    }
  out.Flush();
}

// The catalogue with the filter file given (none: an empty filter list), and the model.
int32_t FindModel(TCatalogue& catalogue, const TCatalogueArgs& args) {
  // A filter file named on the command line must be there.
  if (!args.Filter.empty()) catalogue.FilterList.LoadFromFile(args.Filter);
  int32_t k = catalogue.IndexOfModel(args.Model);
  if (k < 0) throw Exception("no model named " + args.Model);
  return k;
}

void RunAnims(const TCatalogueArgs& args) {
  TCatalogue catalogue = Analyse(args.Archive);
  int32_t k = FindModel(catalogue, args);
  for (const std::string& name : catalogue.AnimationsFor(k, !args.Filter.empty())) PrintLine(name);
}

void RunDetails(const TCatalogueArgs& args) {
  TCatalogue catalogue = Analyse(args.Archive);
  int32_t k = FindModel(catalogue, args);
  for (const std::string& line : catalogue.DetailsFor(k)) PrintLine(line);
}

} // namespace

void AddCatalogueCommands(CLI::App& app) {
  auto args = std::make_shared<TCatalogueArgs>();

  CLI::App* catalogue =
      app.add_subcommand("catalogue", "Analyse an archive and print its models and animations");
  catalogue->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  catalogue->callback([args] { RunCatalogue(*args); });

  CLI::App* anims = app.add_subcommand("anims", "The animations offered for a field model");
  anims->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  anims->add_option("MODEL", args->Model, "HRC member name, any letter case")->required();
  anims->add_option("--filter", args->Filter,
                    "Filter file: narrow the list as \"Filter anims\" does");
  anims->callback([args] { RunAnims(*args); });

  CLI::App* details = app.add_subcommand("details", "The details list of a field model");
  details->add_option("ARCHIVE", args->Archive, "LGP file or folder")->required();
  details->add_option("MODEL", args->Model, "HRC member name, any letter case")->required();
  details->add_option("--filter", args->Filter, "Filter file giving the model's names");
  details->callback([args] { RunDetails(*args); });
}

} // namespace palkor::cli
