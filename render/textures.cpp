#include "render/textures.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "platform/Exceptions.h"

#include <GL/glu.h>

namespace palkor {

GLuint MakeTexture(const TTexImage& image) {
  bool empty = image.Width <= 0 || image.Height <= 0;
  if (!empty && image.Pixels.size() != size_t(image.Width) * size_t(image.Height) * 4)
    throw Exception(Format("Texture image of %dx%d pixels holds %d bytes", image.Width,
                           image.Height, int64_t(image.Pixels.size())));
  // An empty image still yields a texture, so that parts keep one name per texture
  // of their list; opaque white leaves the colours of surfaces drawn with it as they are.
  static const uint8_t white[4] = {255, 255, 255, 255};
  int width = empty ? 1 : image.Width;
  int height = empty ? 1 : image.Height;
  const uint8_t* pixels = empty ? white : image.Pixels.data();

  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  // Rows of 4-byte pixels meet any unpack alignment. gluBuild2DMipmaps rescales sides
  // that are not powers of two (and images beyond the largest texture size).
  GLint error =
      gluBuild2DMipmaps(GL_TEXTURE_2D, 4, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  if (error != 0) {
    glDeleteTextures(1, &name);
    throw Exception(Format("Cannot make a texture of %dx%d pixels: %s", width, height,
                           reinterpret_cast<const char*>(gluErrorString(GLenum(error)))));
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  return name;
}

TTextureSet::~TTextureSet() {
  Clear();
}

void TTextureSet::Add(const std::shared_ptr<const TTexImage>& image) {
  if (!image || FNames.count(image.get())) return;
  GLuint name = MakeTexture(*image);
  FNames.emplace(image.get(), name);
  FImages.push_back(image);
}

void TTextureSet::Add(const TFF7PPart& part) {
  for (const auto& image : part.Textures) Add(image);
}

void TTextureSet::Add(const TFieldModel& model) {
  for (const auto& bone : model.Bones)
    for (const auto& part : bone->Parts) Add(*part);
}

void TTextureSet::Add(const TBattleModel& model) {
  for (const auto& image : model.Textures) Add(image);
}

GLuint TTextureSet::Name(const TTexImage* image) const {
  auto found = FNames.find(image);
  return found == FNames.end() ? 0 : found->second;
}

void TTextureSet::Clear() {
  for (const auto& [image, name] : FNames) glDeleteTextures(1, &name);
  FNames.clear();
  FImages.clear();
}

} // namespace palkor
