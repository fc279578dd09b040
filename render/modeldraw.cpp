#include "render/modeldraw.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "geometry/Conventions.h"

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

// A bone at its joint: a line along Z to reach (blue at the joint, green when selected,
// white at the end) and a sphere of radius at the joint (red when selected).
void DrawBone(float reach, double radius, bool selected) {
  glLineWidth(4);
  glBegin(GL_LINES);
  if (selected)
    glColor3f(0, 1, 0);
  else
    glColor3f(0, 0, 1);
  glVertex3f(0, 0, 0);
  glColor3f(1, 1, 1);
  glVertex3f(0, 0, reach);
  glEnd();
  if (selected) glColor3f(1, 0, 0);
  gluSphere(SphereQuadric(), radius, 8, 8);
  glLineWidth(1);
}

} // namespace

void DrawPart(const TFF7PPart& part, const TTextureSet& textures, const TViewOptions& options,
              float crosshairReach) {
  if (options.Crosshairs) {
    const float r = crosshairReach;
    glBegin(GL_LINES);
    glVertex3f(-r, 0, 0);
    glVertex3f(r, 0, 0);
    glVertex3f(0, -r, 0);
    glVertex3f(0, r, 0);
    glVertex3f(0, 0, -r);
    glVertex3f(0, 0, r);
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
    if (options.Bones) DrawBone(bone.Length, 1, b == options.SelectedBone);
  }
  glLoadMatrixf(saved.M);
}

// Without animations, or where a frame has fewer rotations than the skeleton, bones are
// drawn unturned: the rest pose.
void DrawBattleModel(const TBattleModel& model, const TBattleFrame* frame,
                     const TTextureSet& textures, const TViewOptions& options) {
  TMatrix4 saved;
  glGetFloatv(GL_MODELVIEW_MATRIX, saved.M);
  // The model is drawn scaled down: what a field model has at a size of its own (the
  // crosshairs, the joints) is scaled up as much, and lighting's normals are made whole
  // again, or they would come out scaled up and light every face white.
  const float unit = 1 / BattleViewerScale;
  const bool normalize = options.Lighting && !glIsEnabled(GL_NORMALIZE);
  if (normalize) glEnable(GL_NORMALIZE);
  for (const TPosedJoint& joint : model.PoseJoints(frame, saved)) {
    glLoadMatrixf(joint.Joint.M);
    const int32_t b = joint.Bone;
    if (options.Bodies)
      if (const auto& part = model.Parts[size_t(b)]) DrawPart(*part, textures, options, 25 * unit);
    if (options.Bones)
      DrawBone(BattleBoneReach(model.Bones[size_t(b)].Length), unit, b == options.SelectedBone);
  }
  if (normalize) glDisable(GL_NORMALIZE);
  glLoadMatrixf(saved.M);
}

} // namespace palkor
