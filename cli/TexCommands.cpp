// tex: decode a TEX file as the model loaders do and write it as an RGBA PNG, or every
// texture of an archive; tex-import: a PNG picture into a TEX member.
#include "cli/CliSupport.h"

#include "platform/Memory.h"

#include "app/TextureFiles.h"
#include "field/tex.h"
#include "platform/images.h"

#include <cstdio>
#include <memory>

namespace palkor::cli {

namespace {

struct TTexArgs {
  std::string File;
  std::string Out;
  bool All = false;
};

void RunTexAll(const TTexArgs& args) {
  auto archive = OpenArchive(args.File);
  TTexExportProgress result;
  {
    // The bar ends its line before the summary.
    TProgressBar bar(int32_t(TexMembers(*archive).size()));
    size_t shown = 0;
    result = ExportTextures(*archive, args.Out, [&](const TTexExportProgress& progress) {
      for (; shown < progress.Failures.size(); ++shown)
        bar.Message("palkor-cli: " + progress.Failures[shown].first + ": " +
                    progress.Failures[shown].second);
      bar.Show(progress.Done);
    });
  }
  PrintLine(Format("wrote %d of %d textures", result.Done - int32_t(result.Failures.size()),
                   result.Total));
  if (!result.Failures.empty()) {
    std::fflush(stdout);
    throw TQuietFailure();
  }
}

void RunTex(const TTexArgs& args) {
  if (args.All) return RunTexAll(args);
  TMemoryStream data;
  TReadingScope reading("TEX file \"" + args.File + "\"");
  data.LoadFromFile(args.File);
  std::unique_ptr<TTexImage> image = LoadTEX(data, TEXDataOffset);
  // WritePNG refuses an empty image, so an empty texture fails without a file.
  WritePNG(args.Out, image->Width, image->Height, image->Pixels.data(), 4);
}

struct TTexImportArgs {
  std::string Archive, Member, Image;
  bool Direct = false, Dither = false;
  int32_t Colours = 256;
};

void RunTexImport(const TTexImportArgs& args) {
  TTexImage picture;
  {
    TReadingScope reading("image \"" + args.Image + "\"");
    TMemoryStream file;
    file.LoadFromFile(args.Image);
    picture = DecodePNGImage(file.View(), args.Image, [&](int32_t width, int32_t height) {
      CheckTEXSize(args.Image, width, height);
    });
  }
  auto archive = OpenArchive(args.Archive);
  TTexImportOptions options;
  options.Direct = args.Direct;
  options.Quantise.Colours = args.Colours;
  options.Quantise.Dither = args.Dither;
  const TTexImportResult result = ImportTexture(*archive, args.Member, picture, options);
  if (result.PartlyTransparent > 0)
    PrintLine(Format("%d partly transparent pixels made opaque", result.PartlyTransparent));
  if (result.TransparentMadeOpaque > 0)
    PrintLine(Format("%d transparent pixels made opaque (direct colour has no colour key)",
                     result.TransparentMadeOpaque));
}

} // namespace

void AddTexCommands(CLI::App& app) {
  auto args = std::make_shared<TTexArgs>();
  CLI::App* tex = app.add_subcommand(
      "tex", "Decode a TEX texture and write it as an RGBA PNG; with --all, every texture of "
             "an archive as OUTDIR/NAME.png");
  tex->add_option("FILE", args->File, "TEX file (with --all: the archive, LGP file or folder)")
      ->required();
  tex->add_option("OUT.png", args->Out,
                  "PNG file to write (replaced); with --all, the folder (made when missing)")
      ->required();
  tex->add_flag("--all", args->All,
                "Write every texture member (.TEX, and battle models' textures) as "
                "OUTDIR/NAME.png");
  tex->callback([args] { RunTex(*args); });

  auto importArgs = std::make_shared<TTexImportArgs>();
  CLI::App* texImport = app.add_subcommand(
      "tex-import", "Write a PNG picture into a TEX member, palettised or direct colour");
  texImport->add_option("ARCHIVE", importArgs->Archive, "LGP file or folder")->required();
  texImport->add_option("MEMBER", importArgs->Member, "TEX member name, any letter case")
      ->required();
  texImport->add_option("IMAGE", importArgs->Image, "PNG picture")->required();
  texImport->add_flag("--direct", importArgs->Direct,
                      "Direct colour (16-bit), as a direct-colour member replaced is anyway");
  texImport
      ->add_option("--colours", importArgs->Colours,
                   "Most palette colours, the colour key's included: 2 to 256 (default 256)")
      ->check(CLI::Range(2, 256));
  texImport->add_flag("--dither", importArgs->Dither,
                      "Dither a picture of more colours than the palette holds");
  texImport->callback([importArgs] { RunTexImport(*importArgs); });
}

} // namespace palkor::cli
