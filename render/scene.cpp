#include "render/scene.h"

#include "battle/FF7Battle.h"
#include "field/ff73d.h"
#include "geometry/Conventions.h"
#include "render/modeldraw.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>

namespace palkor {

void SetupScene() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(90.0, 1.3333333333333333, 1.0, 10000.0);
  glMatrixMode(GL_MODELVIEW);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_DITHER);
  glShadeModel(GL_SMOOTH);
  glDisable(GL_LIGHTING);
}

void ResizeScene(int32_t width, int32_t height) {
  if (height == 0) return;
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(90.0, double(width) / double(height), 1.0, 10000.0);
  glMatrixMode(GL_MODELVIEW);
}

namespace {

void FloorQuad() {
  glBegin(GL_QUADS);
  glColor4f(0.5f, 0.5f, 0.5f, 0.5f);
  glVertex3f(-30, 0, -30);
  glVertex3f(30, 0, -30);
  glColor4f(0.25f, 0.25f, 0.25f, 0.5f);
  glVertex3f(30, 0, 30);
  glVertex3f(-30, 0, 30);
  glEnd();
}

const TTextureSet& TexturesOf(const TSceneState& state) {
  static const TTextureSet none;
  return state.Textures ? *state.Textures : none;
}

// The field model turns about the world origin at floor level, lifted inside the turn.
void DrawPlacedFieldModel(const TSceneState& state) {
  glRotatef(float(state.RotateY), 0, 1, 0);
  glRotatef(float(state.RotateX), 1, 0, 0);
  glRotatef(float(state.RotateZ), 0, 0, 1);
  glTranslatef(0, ViewerLift, 0);
  DrawFieldModel(*state.FieldModel, TexturesOf(state));
}

void DrawWithReflection(const TSceneState& state) {
  // Mark the floor in the stencil buffer, writing neither colour nor depth.
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
  glEnable(GL_STENCIL_TEST);
  glStencilFunc(GL_ALWAYS, 1, 1);
  glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
  glDisable(GL_DEPTH_TEST);
  FloorQuad();
  glEnable(GL_DEPTH_TEST);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

  // The mirror image, inside the floor and below it.
  glStencilFunc(GL_EQUAL, 1, 1);
  glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
  const GLdouble below[4] = {0, -1, 0, 0};
  glEnable(GL_CLIP_PLANE0);
  glClipPlane(GL_CLIP_PLANE0, below);
  glPushMatrix();
  glScalef(1, -1, 1);
  DrawPlacedFieldModel(state);
  glPopMatrix();
  glDisable(GL_CLIP_PLANE0);
  glDisable(GL_STENCIL_TEST);

  // The floor blended over the image.
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  FloorQuad();
  glDisable(GL_BLEND);

  // The model above the floor.
  const GLdouble above[4] = {0, 1, 0, 0};
  glEnable(GL_CLIP_PLANE0);
  glClipPlane(GL_CLIP_PLANE0, above);
  glPushMatrix();
  DrawPlacedFieldModel(state);
  glPopMatrix();
  glDisable(GL_CLIP_PLANE0);
}

} // namespace

void PaintScene(const TSceneState& state) {
  glClearColor(float(state.BackColour & 0xFF) / 255, float((state.BackColour >> 8) & 0xFF) / 255,
               float((state.BackColour >> 16) & 0xFF) / 255, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

  // The eye looks along -Z from a height of 20. At zoom 0 it would sit on the target and
  // look nowhere; a hair's breadth away it still looks along -Z.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0, 20, std::max(double(state.Zoom), 1e-3), 0, 20, 0, 0, 1, 0);

  if (state.BattleModel) {
    glPushMatrix();
    glTranslatef(0, ViewerLift, 0);
    glScalef(BattleViewerScale, BattleViewerScale, BattleViewerScale);
    glRotatef(float(state.RotateY), 0, 1, 0);
    glRotatef(float(state.RotateX), 1, 0, 0);
    glRotatef(float(state.RotateZ), 0, 0, 1);
    DrawBattleModel(*state.BattleModel, TexturesOf(state));
    glPopMatrix();
  }
  if (state.FieldModel) {
    if (state.Reflections) {
      DrawWithReflection(state);
    } else {
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      glPushMatrix();
      DrawPlacedFieldModel(state);
      glPopMatrix();
    }
  }
}

void SetWireframe(bool on) {
  glPolygonMode(GL_FRONT_AND_BACK, on ? GL_LINE : GL_FILL);
}

// Light 0 is placed while the model-view matrix holds the identity, so it sits in eye
// space whatever the camera and the model's turn.
void SetLighting(bool on) {
  if (!on) {
    glDisable(GL_LIGHTING);
    return;
  }
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_COLOR_MATERIAL);
  const GLfloat position[4] = {5.0f, 0.0f, 0.0f, 1.0f};
  const GLfloat direction[3] = {-1.0f, 0.0f, 0.0f};
  const GLfloat ambient[4] = {0.5f, 0.5f, 0.5f, 1.0f};
  glLightfv(GL_LIGHT0, GL_POSITION, position);
  glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 1.0f);
  glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 0.03125f);
  glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, direction);
  glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
}

int32_t ClockFrame(uint32_t tick, int32_t offset, int32_t frameCount) {
  if (frameCount <= 0) return 0;
  int64_t f = (int64_t(tick / 80) + offset) % frameCount;
  return int32_t(f < 0 ? f + frameCount : f);
}

int32_t QuickAnimationOffset(uint32_t tick, int32_t frameCount) {
  if (frameCount <= 0) return 0;
  return int32_t(frameCount - int64_t(tick / 80) % frameCount + 1);
}

} // namespace palkor
