#include "render/modeldraw.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"

#include <GL/gl.h>
#include <GL/glu.h>

namespace palkor {

namespace {

// With coverage (a transparent background), textured groups add their alpha to what
// lies below as one layer over another does, and plain groups, drawn without blending,
// cover their pixels whole whatever their colours' alpha.
void DrawPartPass(const TFF7PPart& part, int pass, const TTextureSet& textures,
                  int32_t displayGroup, bool coverage) {
  bool inBegin = false;
  bool textured = false;
  auto end = [&] {
    if (inBegin) glEnd();
    inBegin = false;
  };
  auto group = [&](size_t g) {
    end();
    const TPGroup& grp = part.Groups[g];
    textured = grp.Textured();
    if (textured) {
      glEnable(GL_BLEND);
      if (coverage)
        glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
      else
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      glEnable(GL_TEXTURE_2D);
      glDepthFunc(GL_LEQUAL);
      if (uint32_t(grp.TexIndex) < part.Textures.size())
        glBindTexture(GL_TEXTURE_2D, textures.Name(part.Textures[size_t(grp.TexIndex)].get()));
    } else {
      glDisable(GL_TEXTURE_2D);
      glDisable(GL_BLEND);
    }
  };
  const int64_t texCoordCount = int64_t(part.TexCoords.size());
  // The polygons of groups the pass does not draw set the colour and the texture
  // coordinate all the same, without their vertices: later drawing inherits them (the
  // next part's crosshairs, a vertex without a coordinate of its own). Only the last of
  // each counts, so each is sent once something depends on it.
  const TRGBA* passedColour = nullptr;
  const TTexCoord* passedUV = nullptr;
  auto sendPassedUV = [&] {
    if (passedUV) glTexCoord2f(passedUV->U, passedUV->V);
    passedUV = nullptr;
  };
  auto polygon = [&](size_t g, const TIndexTriple& vertices, const TIndexTriple& uvs) {
    if (part.Groups[g].TexFlag != pass) {
      for (size_t k = 0; k < 3; ++k) {
        passedColour = &part.Colours[size_t(vertices[k])];
        if (uvs[k] >= 0 && uvs[k] < texCoordCount) passedUV = &part.TexCoords[size_t(uvs[k])];
      }
      return;
    }
    // Each vertex sets its own colour; a coordinate only when it has one.
    passedColour = nullptr;
    sendPassedUV();
    if (!inBegin) glBegin(GL_TRIANGLES);
    inBegin = true;
    for (size_t k = 0; k < 3; ++k) {
      const TRGBA& colour = part.Colours[size_t(vertices[k])];
      glColor4ub(colour.R, colour.G, colour.B, coverage && !textured ? 255 : colour.A);
      if (uvs[k] >= 0 && uvs[k] < texCoordCount)
        glTexCoord2f(part.TexCoords[size_t(uvs[k])].U, part.TexCoords[size_t(uvs[k])].V);
      const TVec3& position = part.Vertices[size_t(vertices[k])];
      glVertex3f(position.X, position.Y, position.Z);
    }
  };
  WalkPartPass(part, pass, group, polygon, displayGroup, true);
  end();
  if (passedColour) glColor4ub(passedColour->R, passedColour->G, passedColour->B, passedColour->A);
  sendPassedUV();
}

GLUquadric* SphereQuadric() {
  static GLUquadric* quadric = gluNewQuadric();
  return quadric;
}

} // namespace

void DrawPart(const TFF7PPart& part, const TTextureSet& textures, const TViewOptions& options) {
  if (options.Crosshairs) {
    glBegin(GL_LINES);
    glVertex3f(-25, 0, 0);
    glVertex3f(25, 0, 0);
    glVertex3f(0, -25, 0);
    glVertex3f(0, 25, 0);
    glVertex3f(0, 0, -25);
    glVertex3f(0, 0, 25);
    glEnd();
  }
  DrawPartPass(part, 0, textures, options.DisplayGroup, options.TransparentBackground);
  DrawPartPass(part, 1, textures, options.DisplayGroup, options.TransparentBackground);
}

void DrawFieldModel(const TFieldModel& model, const TTextureSet& textures,
                    const TViewOptions& options) {
  DrawFieldBone(model, 0, 0, textures, options);
  DrawFieldBone(model, 0, 1, textures, options);
}

void DrawFieldBone(const TFieldModel& model, int32_t index, int pass, const TTextureSet& textures,
                   const TViewOptions& options) {
  TMatrix4 saved;
  glGetFloatv(GL_MODELVIEW_MATRIX, saved.M);
  for (const TPosedJoint& joint : model.PoseFrom(index, saved)) {
    const int32_t b = joint.Bone;
    const TFieldBone& bone = *model.Bones[size_t(b)];
    glLoadMatrixf(joint.Joint.M);
    if (options.FirstBone <= b && b <= options.LastBone && options.Bodies &&
        bone.Blended == (pass == 1))
      for (const auto& part : bone.Parts) DrawPart(*part, textures, options);
    if (!options.Bones) continue;
    bool selected = b == options.SelectedBone;
    glLineWidth(4);
    glBegin(GL_LINES);
    if (selected)
      glColor3f(0, 1, 0);
    else
      glColor3f(0, 0, 1);
    glVertex3f(0, 0, 0);
    glColor3f(1, 1, 1);
    glVertex3f(0, 0, bone.Length);
    glEnd();
    if (selected) glColor3f(1, 0, 0);
    gluSphere(SphereQuadric(), 1, 8, 8);
    glLineWidth(1);
  }
  glLoadMatrixf(saved.M);
}

// Without animations, or where a frame has fewer rotations than the skeleton, bones are
// drawn unturned: the rest pose.
void DrawBattleModel(const TBattleModel& model, const TBattleFrame* frame,
                     const TTextureSet& textures, const TViewOptions& options) {
  TMatrix4 saved;
  glGetFloatv(GL_MODELVIEW_MATRIX, saved.M);
  for (const TPosedJoint& joint : model.PoseJoints(frame, saved)) {
    glLoadMatrixf(joint.Joint.M);
    if (const auto& part = model.Parts[size_t(joint.Bone)]) DrawPart(*part, textures, options);
  }
  glLoadMatrixf(saved.M);
}

} // namespace palkor
