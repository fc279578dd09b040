// texturise: the Texturiser's edits on a P file, all in memory, saved only if all succeed.
#include "cli/CliSupport.h"

#include "platform/Convert.h"
#include "platform/Files.h"
#include "texturiser/pedit.h"

#include <memory>

namespace palkor::cli {

namespace {

struct TTexturiseArgs {
  std::string PFile;
};

int32_t RowNumber(const std::string& text, const std::vector<std::string>& list, const char* what) {
  int32_t number = StrToInt(text);
  if (number < 1 || number > int32_t(list.size()))
    throw Exception(Format("no %s %d: the list has %d", what, number, int32_t(list.size())));
  return number - 1;
}

// The edits in order, on the image in memory.
void ApplyOps(TPFileImage& image, const std::vector<std::string>& ops) {
  for (size_t i = 0; i < ops.size(); ++i) {
    const std::string& op = ops[i];
    if (op == "add-tex-data") {
      image.AddTexData();
    } else if (op == "set-uv") {
      if (!image.HasTexCoords())
        throw Exception("The part has no texture coordinates (Unsuitable)");
      int32_t row = RowNumber(ops[i + 1], image.VertRows(), "row");
      float u = float(StrToFloat(ops[i + 2])), v = float(StrToFloat(ops[i + 3]));
      image.SetTexCoord(row, u, v);
      i += 3;
    } else if (op == "texture-on") {
      image.TextureOn(RowNumber(ops[i + 1], image.GroupRows(), "group"), ops[i + 2] == "normals");
      i += 2;
    } else if (op == "texture-off") {
      image.TextureOff(RowNumber(ops[i + 1], image.GroupRows(), "group"));
      i += 1;
    } else if (op == "list") {
      for (const std::string& row : image.GroupRows()) PrintLine(row);
      for (const std::string& row : image.VertRows()) PrintLine(row);
    }
  }
}

void RunTexturise(const TTexturiseArgs& args, const std::vector<std::string>& ops) {
  // The whole sequence is checked for shape before anything is read or changed.
  for (size_t i = 0; i < ops.size(); ++i) {
    const std::string& op = ops[i];
    size_t need = op == "add-tex-data" || op == "list" ? 0
                  : op == "set-uv"                     ? 3
                  : op == "texture-on"                 ? 2
                  : op == "texture-off"                ? 1
                                                       : SIZE_MAX;
    if (need == SIZE_MAX) throw CLI::ValidationError("OP", "unknown operation " + op);
    if (need > 0 && i + need >= ops.size())
      throw CLI::ValidationError("OP", op + " needs " + std::to_string(need) + " values");
    if (op == "texture-on" && ops[i + 2] != "normals" && ops[i + 2] != "no-normals")
      throw CLI::ValidationError("OP", "texture-on takes normals or no-normals");
    i += need;
  }

  TPFileImage image;
  image.Load(ReadFileBytes(args.PFile));
  const std::string original = image.Bytes();
  ReadingMember("\"" + args.PFile + "\"", [&] { ApplyOps(image, ops); });
  if (image.Bytes() != original) ReplaceFileWithBytes(args.PFile, image.Bytes());
}

} // namespace

void AddTexturiseCommands(CLI::App& app) {
  auto args = std::make_shared<TTexturiseArgs>();
  CLI::App* texturise = app.add_subcommand(
      "texturise", "Apply the Texturiser's edits to a P file: add-tex-data, set-uv ROW U V, "
                   "texture-on GROUP normals|no-normals, texture-off GROUP, list");
  texturise->add_option("PFILE", args->PFile, "P file, saved over only when every edit succeeds")
      ->required();
  // The operations take numbers such as -0.5: they are read as they stand, not as options.
  texturise->allow_extras();
  texturise->callback([args, texturise] { RunTexturise(*args, texturise->remaining()); });
}

} // namespace palkor::cli
