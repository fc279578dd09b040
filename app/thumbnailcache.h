#pragma once

#include "archive/LGPFile.h"
#include "archive/MemberLog.h"

#include <cstdint>
#include <string>
#include <vector>

namespace palkor {

// Which thumbnail: the archive's path, the model's member, the animation that posed it
// and the picture's side.
struct TThumbnailKey {
  std::string Archive, Member, Anim;
  int32_t Size = 0;
};

// Thumbnails kept between runs in a folder of files, one a picture, each with the
// members the model was drawn from and where they lay (see TMemberStamp): a picture is
// found again only while every one of them lies where and as it did, so a replaced
// member makes its models drawn again. Damaged or foreign files are passed over.
class TThumbnailCache {
public:
  explicit TThumbnailCache(std::string folder) : FFolder(std::move(folder)) {}

  // The file that keeps key's picture.
  std::string FileOf(const TThumbnailKey& key) const;
  // The picture kept for key, RGBA as the renderer gave it, when its members in archive
  // are as they were; empty when there is none, it is damaged, or a member changed.
  std::vector<uint8_t> Find(TLGPFile& archive, const TThumbnailKey& key) const;
  // Keeps the picture of key drawn from members, replacing any kept before; the folder is
  // made when missing. Fails with the file layer's errors.
  void Store(const TThumbnailKey& key, const std::vector<TMemberStamp>& members,
             const std::vector<uint8_t>& rgba) const;

private:
  std::string FFolder;
};

} // namespace palkor
