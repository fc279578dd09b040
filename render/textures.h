#pragma once

#include "field/tex.h"

#include <GL/gl.h>

#include <memory>
#include <unordered_map>
#include <vector>

namespace palkor {

class TFF7PPart;
class TFieldModel;
class TBattleModel;

// Uploads image as a new mipmapped 2D texture in the current GL context (the first row
// at v = 0), leaves it bound to GL_TEXTURE_2D and returns its name. The texture filters
// linearly between mipmap levels and repeats in S and T. An empty image gives a 1x1
// opaque white texture. Throws Exception when the pixels do not match the size or the
// mipmaps cannot be built; no texture is left behind then.
GLuint MakeTexture(const TTexImage& image);

// The GL textures of the models shown in one context: one texture per decoded image,
// made when a model is added and deleted with the set (or by Clear). The context that
// made them must be current when they are deleted.
class TTextureSet {
public:
  TTextureSet() = default;
  ~TTextureSet();
  TTextureSet(const TTextureSet&) = delete;
  TTextureSet& operator=(const TTextureSet&) = delete;

  // Makes the textures of a part or model that the set does not have yet; the images
  // are kept alive with the set.
  void Add(const std::shared_ptr<const TTexImage>& image);
  void Add(const TFF7PPart& part);
  void Add(const TFieldModel& model);
  void Add(const TBattleModel& model);
  // The texture of image; 0 for an image the set does not have.
  GLuint Name(const TTexImage* image) const;
  size_t Count() const { return FNames.size(); }
  void Clear();

private:
  std::unordered_map<const TTexImage*, GLuint> FNames;
  std::vector<std::shared_ptr<const TTexImage>> FImages;
};

} // namespace palkor
