// tex: decode a TEX file as the model loaders do and write it as an RGBA PNG.
#include "cli/CliSupport.h"

#include "platform/Memory.h"

#include "field/tex.h"
#include "platform/images.h"

#include <memory>

namespace palkor::cli {

namespace {

struct TTexArgs {
  std::string File;
  std::string Out;
};

void RunTex(const TTexArgs& args) {
  TMemoryStream data;
  TReadingScope reading("TEX file \"" + args.File + "\"");
  data.LoadFromFile(args.File);
  std::unique_ptr<TTexImage> image = LoadTEX(data, TEXDataOffset);
  // WritePNG refuses an empty image, so an empty texture fails without a file.
  WritePNG(args.Out, image->Width, image->Height, image->Pixels.data(), 4);
}

} // namespace

void AddTexCommands(CLI::App& app) {
  auto args = std::make_shared<TTexArgs>();
  CLI::App* tex = app.add_subcommand("tex", "Decode a TEX texture and write it as an RGBA PNG");
  tex->add_option("FILE", args->File, "TEX file")->required();
  tex->add_option("OUT.png", args->Out, "PNG file to write (replaced)")->required();
  tex->callback([args] { RunTex(*args); });
}

} // namespace palkor::cli
