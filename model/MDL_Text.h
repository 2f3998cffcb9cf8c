// The flat overlay objects drawn in 2-D over a viewport: texts set in a font
// and polylines drawn as an outline band and an optional fill. Overlay
// coordinates are in units of the viewport width, y downwards.
#pragma once

#include <cstdint>

#include "base/CTRL_Array.h"
#include "model/MDL_Object.h"

class VIEW_Font;
class MDL_Material;

class MDL_Text : public MDL_Object {
 public:
  MDL_Text();
  // Copy without links; the string is copied, the font shared.
  MDL_Text(const MDL_Text& source);
  ~MDL_Text() override;

  // Lays out first when needed; true inside the measured bounds.
  bool hitTest(double x, double y) override;

  // Stores a copy (null clears), zeroes the bounds and lays out at once.
  void setText(const char* utf8);
  // Marks the layout stale and zeroes the bounds (font, size or tab size changed).
  void invalidateLayout();
  // Measures the text when the layout is stale and there is a text.
  void layout();

  double color[4] = {0, 0, 0, 1};
  double backgroundColor[4] = {0, 0, 0, 0};
  VIEW_Font* font = nullptr;  // not owned
  char* text = nullptr;       // owned
  double size = 1.0;
  int32_t tabSize = 8;        // in space advances
  uint8_t layoutDirty = 1;
  double bounds[4] = {0, 0, 0, 0};  // min x, min y, max x, max y
  double laidOutWidth = 0;
};

class MDL_Polyline : public MDL_Object {
 public:
  MDL_Polyline();
  // Copy without links: points copied, geometry rebuilt on next use; the
  // material is shared unless the source owns its own, which is then copied.
  MDL_Polyline(const MDL_Polyline& source);
  ~MDL_Polyline() override;

  bool hitTest(double x, double y) override;

  // The fill triangles (three point indices each), rebuilt when stale;
  // empty when the points do not form a simple polygon.
  CTRL_Array<int32_t>& getTriangulation();
  // Rebuilds the outline band when stale.
  void rebuild();
  // The outline band is rebuilt before it is next drawn or hit-tested.
  void invalidateOutline() { outlineRebuild = 1; }

  // Appends a point unless it equals the last one; true when appended.
  bool addPoint(const v2& p);
  // Removes every point (the storage is freed).
  void clearPoints();
  // Copy on write of the material (a new default one when there is none).
  void setOwnMaterial();
  // Distance from p to the outline's centre line minus the thickness
  // (DBL_MAX without points).
  double distanceToPoint(const v2& p) const;

  MDL_Material* material = nullptr;
  uint8_t ownMaterial = 0;
  double fillColor[4] = {0, 0, 0, 0};
  CTRL_Array<v2> points;
  CTRL_Array<int32_t> fillTriangles;
  uint8_t fillRebuild = 0;
  uint8_t outlineRebuild = 0;
  CTRL_Array<v2> outlineVertices;
  CTRL_Array<v2> outlineUvs;
  double thickness = (double)0.01f;
  uint8_t closed = 1;
  uint8_t fillOn = 0;
  uint8_t outlineOn = 1;
};

// Distance from p to the segment a-b (to a when the segment has no length).
double MDL_iPointSegmentDistance(const v2& p, const v2& a, const v2& b);

// Copies of texts and polylines for cloning into a scene; null for any
// other type.
MDL_Object* MDL_iCloneOverlay(MDL_Object* source);
