#include "render/scene.h"

#include "battle/BattleModel.h"
#include "field/FieldModel.h"
#include "geometry/Conventions.h"
#include "geometry/Placement.h"
#include "render/modeldraw.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace palkor {

namespace {

// The eye looks along -Z at this height; the perspective's near plane.
constexpr double EyeHeight = 20;
constexpr double NearPlane = 1;

} // namespace

void SetupScene() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(90.0, 1.3333333333333333, NearPlane, 10000.0);
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
  gluPerspective(90.0, double(width) / double(height), NearPlane, 10000.0);
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

// Where the viewer places the model of state, turned as its trackbars say.
TPlacement PlacementOf(const TSceneState& state, TPlacedModel model) {
  const TVec3 turn{float(state.RotateX), float(state.RotateY), float(state.RotateZ)};
  return ModelPlacement(model, &turn);
}

// Multiplies the steps onto the current matrix, one GL call each.
void ApplyPlacement(const TPlacement& placement) {
  for (const TPlacementStep& step : placement) {
    const TVec3& v = step.Vector;
    switch (step.Kind) {
    case TPlacementStep::Translate:
      glTranslatef(v.X, v.Y, v.Z);
      break;
    case TPlacementStep::Scale:
      glScalef(v.X, v.Y, v.Z);
      break;
    case TPlacementStep::Rotate:
      glRotatef(step.Degrees, v.X, v.Y, v.Z);
      break;
    }
  }
}

void DrawPlacedFieldModel(const TSceneState& state) {
  ApplyPlacement(PlacementOf(state, TPlacedModel::Field));
  DrawFieldModel(*state.FieldModel, TexturesOf(state), state.Options);
}

void DrawPlacedBattleModel(const TSceneState& state) {
  ApplyPlacement(PlacementOf(state, TPlacedModel::Battle));
  DrawBattleModel(*state.BattleModel,
                  state.BattleModel->FrameAt(state.BattleAnimation, state.BattleFrame),
                  TexturesOf(state), state.Options);
}

// The floor, with the model placed and drawn by drawPlaced mirrored in it and standing
// above it.
void DrawWithReflection(const std::function<void()>& drawPlaced) {
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
  drawPlaced();
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
  drawPlaced();
  glPopMatrix();
  glDisable(GL_CLIP_PLANE0);
}

} // namespace

void PaintScene(const TSceneState& state) {
  ApplyViewSwitches(state.Options);
  const uint32_t back = state.Options.BackColour;
  if (state.Options.TransparentBackground)
    glClearColor(0, 0, 0, 0);
  else
    glClearColor(float(back & 0xFF) / 255, float((back >> 8) & 0xFF) / 255,
                 float((back >> 16) & 0xFF) / 255, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

  // The eye looks along -Z from a height of 20. At zoom 0 it would sit on the target and
  // look nowhere; a hair's breadth away it still looks along -Z.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0, EyeHeight, std::max(double(state.Zoom), 1e-3), 0, EyeHeight, 0, 0, 1, 0);
  glTranslatef(state.PanX, state.PanY, 0);

  // Either model stands on the floor and is mirrored in it when Reflections is on.
  if (state.BattleModel) {
    if (state.Options.Reflections) {
      DrawWithReflection([&] { DrawPlacedBattleModel(state); });
    } else {
      glPushMatrix();
      DrawPlacedBattleModel(state);
      glPopMatrix();
    }
  }
  if (state.FieldModel) {
    if (state.Options.Reflections) {
      DrawWithReflection([&] { DrawPlacedFieldModel(state); });
    } else {
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      glPushMatrix();
      DrawPlacedFieldModel(state);
      glPopMatrix();
    }
  }
}

namespace {

// Every point of the model of state that PaintScene draws (the mirror image aside), in
// world coordinates: placed as PaintScene places it, with the options' bone range and
// flags as DrawFieldBone reads them.
void ForEachDrawnPoint(const TSceneState& state, const std::function<void(const TVec3&)>& point) {
  auto part = [&](const TFF7PPart& p, const TMatrix4& joint) {
    for (const TVec3& v : p.Vertices) point(joint.TransformPoint(v));
  };
  if (state.BattleModel) {
    const TBattleModel& model = *state.BattleModel;
    const TViewOptions& options = state.Options;
    const TMatrix4 place = PlacementMatrix(PlacementOf(state, TPlacedModel::Battle));
    const TBattleFrame* frame = model.FrameAt(state.BattleAnimation, state.BattleFrame);
    for (const TPosedJoint& joint : model.PoseJoints(frame, place)) {
      const size_t b = size_t(joint.Bone);
      if (options.Bodies && b < model.Parts.size() && model.Parts[b])
        part(*model.Parts[b], joint.Joint);
      if (options.Bones && b < model.Bones.size()) {
        point(joint.Joint.TransformPoint({0, 0, 0}));
        point(joint.Joint.TransformPoint({0, 0, BattleBoneReach(model.Bones[b].Length)}));
      }
    }
  }
  if (state.FieldModel) {
    const TFieldModel& model = *state.FieldModel;
    const TMatrix4 place = PlacementMatrix(PlacementOf(state, TPlacedModel::Field));
    for (const TPosedJoint& joint : model.PoseFrom(0, place)) {
      const TFieldBone& bone = *model.Bones[size_t(joint.Bone)];
      const TViewOptions& options = state.Options;
      if (options.Bodies && options.FirstBone <= joint.Bone && joint.Bone <= options.LastBone)
        for (const auto& p : bone.Parts) part(*p, joint.Joint);
      if (options.Bones) {
        point(joint.Joint.TransformPoint({0, 0, 0}));
        point(joint.Joint.TransformPoint({0, 0, bone.Length}));
      }
    }
  }
}

// What ForEachDrawnPoint gives at each frame of the animation shown (at the frame shown
// without one): the reach of the whole animation. A field model is posed at each frame
// and back at its own.
void ForEachFramePoint(const TSceneState& state, const std::function<void(const TVec3&)>& point) {
  auto points = [&](const TSceneState& posed) { ForEachDrawnPoint(posed, point); };
  TSceneState posed = state;
  if (state.BattleModel) {
    posed.FieldModel = nullptr;
    const int32_t frames = state.BattleModel->FrameCount(state.BattleAnimation);
    for (int32_t f = 0; f < std::max(frames, 1); ++f) {
      posed.BattleFrame = frames > 0 ? f : state.BattleFrame;
      points(posed);
    }
  }
  if (TFieldModel* model = state.FieldModel) {
    posed.BattleModel = nullptr;
    posed.FieldModel = model;
    const int32_t shown = model->CurrentFrame;
    if (model->FrameCount <= 0) {
      points(posed);
      return;
    }
    struct TPoseBack {
      TFieldModel& Model;
      int32_t Frame;
      ~TPoseBack() {
        if (Frame >= 0 && Frame < Model.FrameCount) Model.SetFrame(Frame);
      }
    } back{*model, shown};
    for (int32_t f = 0; f < model->FrameCount; ++f) {
      model->SetFrame(f);
      points(posed);
    }
  }
}

// Of the values v_i(pan) = (offsets[i] + pan) / depths[i] (depths all positive), the
// indexes of those that can be the largest (Most) and the smallest (Least) at some pan
// from low to high, as they are computed in floating point. Each v_i is linear in pan, so
// a value below the one largest at low, or the one largest at high, by more than the
// tolerance at both ends is below it all the way: it is left out of Most (and the same
// the other way for Least). The tolerance is far above what rounding can move a value by,
// so the largest (smallest) value of the points kept is that of them all at every pan.
struct TContenders {
  std::vector<size_t> Most, Least;
};

TContenders Contenders(const std::vector<double>& offsets, const std::vector<double>& depths,
                       double low, double high) {
  const size_t n = offsets.size();
  std::vector<double> atLow(n), atHigh(n);
  double scale = std::max(std::abs(low), std::abs(high)), nearest = depths[0], reach = 0;
  size_t mostLow = 0, mostHigh = 0, leastLow = 0, leastHigh = 0;
  for (size_t i = 0; i < n; ++i) {
    atLow[i] = (offsets[i] + low) / depths[i];
    atHigh[i] = (offsets[i] + high) / depths[i];
    scale = std::max(scale, std::abs(offsets[i]));
    nearest = std::min(nearest, depths[i]);
    reach = std::max({reach, std::abs(atLow[i]), std::abs(atHigh[i])});
    if (atLow[i] > atLow[mostLow]) mostLow = i;
    if (atHigh[i] > atHigh[mostHigh]) mostHigh = i;
    if (atLow[i] < atLow[leastLow]) leastLow = i;
    if (atHigh[i] < atHigh[leastHigh]) leastHigh = i;
  }
  const double tolerance = 1e-9 * (scale / nearest + reach);
  auto below = [&](size_t i, size_t by) {
    return atLow[i] + tolerance < atLow[by] && atHigh[i] + tolerance < atHigh[by];
  };
  TContenders contenders;
  for (size_t i = 0; i < n; ++i) {
    if (!below(i, mostLow) && !below(i, mostHigh)) contenders.Most.push_back(i);
    if (!below(leastLow, i) && !below(leastHigh, i)) contenders.Least.push_back(i);
  }
  return contenders;
}

} // namespace

double WorldPerPixel(int32_t zoom, int32_t height) {
  // The view is 90 degrees high: at distance d it spans 2 d. Nothing drawn is nearer
  // than the near plane, so a pan never slows below what it moves there.
  return 2 * std::max(double(zoom), NearPlane) / std::max(height, 1);
}

// Seen from distance d, point i (at c_i across the picture after a pan p, at depth z_i)
// lies inside the area when lo (d - z_i) <= c_i + p <= hi (d - z_i), lo and hi being the
// area's edges at unit distance. Some p serves every point when
//   d >= (max(hi z_i + c_i) + max(-lo z_i - c_i)) / (hi - lo),
// so the least distance is the largest of that across, of that up, and of the near
// plane's bound. At that distance the pans that serve lie between L and U (below); of
// these, the one where the points reach equally far to either side of the area's middle
// is found by halving, the reach growing with p.
TFraming FrameModel(const TSceneState& state, double aspect, double fill, const TPictureArea& area,
                    bool wholeAnimation) {
  TFraming framing;
  if (!(aspect > 0) || !(fill > 0) || !(area.Right > area.Left) || !(area.Top > area.Bottom))
    return framing;
  std::vector<TVec3> points;
  auto keep = [&](const TVec3& p) {
    // Broken files can pose to infinities or NaN; such points frame nothing.
    if (std::isfinite(p.X) && std::isfinite(p.Y) && std::isfinite(p.Z)) points.push_back(p);
  };
  if (wholeAnimation)
    ForEachFramePoint(state, keep);
  else
    ForEachDrawnPoint(state, keep);
  if (points.empty()) return framing;
  constexpr double infinity = std::numeric_limits<double>::infinity();
  struct TAxis {
    bool Vertical;
    double Low, High; // the area's edges at unit distance, narrowed by fill
  };
  auto axis = [&](bool vertical) {
    const double low = vertical ? area.Bottom : area.Left, high = vertical ? area.Top : area.Right;
    const double middle = (low + high) / 2, half = (high - low) / 2 * std::min(fill, 1.0);
    const double scale = vertical ? 1 : aspect; // the view is 90 degrees high
    return TAxis{vertical, (middle - half) * scale, (middle + half) * scale};
  };
  const TAxis across = axis(false), up = axis(true);
  // Across the picture: x, and y measured from the eye's height.
  auto offset = [](const TVec3& p, const TAxis& a) {
    return a.Vertical ? double(p.Y) - EyeHeight : double(p.X);
  };
  auto leastDistance = [&](const TAxis& a) {
    double high = -infinity, low = -infinity;
    for (const TVec3& p : points) {
      high = std::max(high, a.High * p.Z + offset(p, a));
      low = std::max(low, -a.Low * p.Z - offset(p, a));
    }
    return (high + low) / (a.High - a.Low);
  };
  double zoom = std::max(leastDistance(across), leastDistance(up));
  for (const TVec3& p : points) zoom = std::max(zoom, p.Z + NearPlane);
  if (!std::isfinite(zoom)) return framing;
  // Each point's depth before the eye and offset across.
  std::vector<double> offsets(points.size()), depths(points.size());
  for (size_t i = 0; i < points.size(); ++i) depths[i] = zoom - points[i].Z;
  auto centredPan = [&](const TAxis& a) {
    double low = -infinity, high = infinity; // L and U
    for (size_t i = 0; i < points.size(); ++i) {
      offsets[i] = offset(points[i], a);
      low = std::max(low, a.Low * depths[i] - offsets[i]);
      high = std::min(high, a.High * depths[i] - offsets[i]);
    }
    if (!(low < high)) return (low + high) / 2;
    // Only the points that can reach farthest to either side at some pan between L and
    // U take part in the halving; it finds the same pan as with every point.
    const TContenders contenders = Contenders(offsets, depths, low, high);
    for (int i = 0; i < 60 && low < high; ++i) {
      const double pan = (low + high) / 2;
      double farthest = -infinity, nearest = infinity;
      for (size_t k : contenders.Most) farthest = std::max(farthest, (offsets[k] + pan) / depths[k]);
      for (size_t k : contenders.Least) nearest = std::min(nearest, (offsets[k] + pan) / depths[k]);
      (farthest + nearest > a.Low + a.High ? high : low) = pan;
    }
    return (low + high) / 2;
  };
  framing.Found = true;
  framing.PanX = float(centredPan(across));
  framing.PanY = float(centredPan(up));
  framing.Zoom = zoom;
  return framing;
}

TPickedPart PickPart(const TSceneState& state, double aspect, double x, double y) {
  TPickedPart picked;
  if (!state.FieldModel || !(aspect > 0)) return picked;
  const TFieldModel& model = *state.FieldModel;
  const TViewOptions& options = state.Options;
  if (!options.Bodies) return picked;
  // The camera of PaintScene: the eye at (0, EyeHeight, zoom) looking along -Z, the world
  // moved by the pan, a 90 degree perspective.
  const double zoom = std::max(double(state.Zoom), 1e-3);
  struct TSeen {
    double X, Y, Depth;
  };
  auto see = [&](const TVec3& p) {
    const double depth = zoom - double(p.Z);
    return TSeen{(double(p.X) + state.PanX) / depth / aspect,
                 (double(p.Y) + state.PanY - EyeHeight) / depth, depth};
  };
  double nearest = std::numeric_limits<double>::infinity();
  const TMatrix4 place = PlacementMatrix(PlacementOf(state, TPlacedModel::Field));
  for (const TPosedJoint& joint : model.PoseFrom(0, place)) {
    if (joint.Bone < options.FirstBone || joint.Bone > options.LastBone) continue;
    const TFieldBone& bone = *model.Bones[size_t(joint.Bone)];
    for (size_t k = 0; k < bone.Parts.size(); ++k) {
      const TFF7PPart& part = *bone.Parts[k];
      auto polygon = [&](size_t, const TIndexTriple& corners, const TIndexTriple&) {
        TSeen seen[3];
        for (int c = 0; c < 3; ++c) {
          seen[c] = see(joint.Joint.TransformPoint(part.Vertices[size_t(corners[size_t(c)])]));
          if (!(seen[c].Depth > NearPlane) || !std::isfinite(seen[c].X) ||
              !std::isfinite(seen[c].Y))
            return;
        }
        // Barycentric weights of the point; inside when none is negative.
        const double area = (seen[1].X - seen[0].X) * (seen[2].Y - seen[0].Y) -
                            (seen[2].X - seen[0].X) * (seen[1].Y - seen[0].Y);
        if (area == 0) return;
        const double w1 = ((x - seen[0].X) * (seen[2].Y - seen[0].Y) -
                           (seen[2].X - seen[0].X) * (y - seen[0].Y)) /
                          area;
        const double w2 = ((seen[1].X - seen[0].X) * (y - seen[0].Y) -
                           (x - seen[0].X) * (seen[1].Y - seen[0].Y)) /
                          area;
        const double w0 = 1 - w1 - w2;
        if (w0 < 0 || w1 < 0 || w2 < 0) return;
        // The depth across the triangle as the picture interpolates it: 1 / depth is
        // linear on the screen.
        const double depth = 1 / (w0 / seen[0].Depth + w1 / seen[1].Depth + w2 / seen[2].Depth);
        if (depth < nearest) {
          nearest = depth;
          picked = {true, joint.Bone, int32_t(k)};
        }
      };
      for (int pass = 0; pass < 2; ++pass)
        WalkPartPass(
            part, pass, [](size_t) {}, polygon, options.DisplayGroup);
    }
  }
  return picked;
}

// Light 0 is placed while the model-view matrix holds the identity, so it sits in eye
// space whatever the camera and the model's turn.
void ApplyViewSwitches(const TViewOptions& options) {
  glPolygonMode(GL_FRONT_AND_BACK, options.Wireframe ? GL_LINE : GL_FILL);
  if (!options.Lighting) {
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

int32_t ClockOffsetAt(uint32_t tick, int32_t frame, int32_t frameCount) {
  if (frameCount <= 0) return 0;
  return int32_t(int64_t(frame) % frameCount - int64_t(tick / 80) % frameCount);
}

} // namespace palkor
