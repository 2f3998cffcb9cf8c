// The object types that add only a few fields to MDL_Object: lamps, cameras,
// sound sources, listeners, collision volumes, locators and images.
#pragma once

#include <cstdint>

#include "model/MDL_Object.h"

class VIEW_Sample;
class MDL_Material;

enum MDL_LampType : int32_t {
  LAMP_NONE = 0,
  LAMP_POINT = 1,  // "Lamp"
  LAMP_SUN = 2,
  LAMP_SPOT = 3,
  LAMP_HEMI = 4,
  LAMP_AREA = 5,
  LAMP_PHOTON = 6,
};
constexpr int32_t SHADOW_ZPASS = 0;
constexpr int32_t SHADOW_ZFAIL = 1;

class MDL_Lamp : public MDL_Object {
 public:
  MDL_Lamp();
  MDL_Lamp(const MDL_Lamp& source) = default;
  // Base load, then the lamp elements; false when there is no "type" element.
  bool load(const TiXmlElement* element) override;

  int32_t lampType = LAMP_POINT;
  double color[4] = {0, 0, 0, 1};
  double ambientColor[4] = {0, 0, 0, 1};
  double shadowCoeff = 0.5;
  double energy = 1.0;
  double distance = 20.0;
  double quad1 = 0.0, quad2 = 0.0;
  uint8_t shadows = 0;
  uint8_t noSpecular = 0;
  uint8_t noDiffuse = 0;
  uint8_t on = 1;
  double shadowDepth = 30.0;
  double spotSize = 45.0;  // degrees
  double spotExponent = 42.0;
  int32_t shadowType = SHADOW_ZPASS;
};

// Default field of view: 49.14 degrees as a single-precision value, in radians.
extern const double MDL_CAMERA_DEFAULT_ANGLE;

class MDL_Camera : public MDL_Object {
 public:
  MDL_Camera();
  MDL_Camera(const MDL_Camera& source) = default;
  // Base load, then "angle" (degrees), "clip_start", "clip_end".
  bool load(const TiXmlElement* element) override;
  // angle := radians; projection factor := 1 / tan(angle / 2).
  void setAngle(double radians);

  double angle;             // full field of view, radians
  double projectionFactor;  // 1 / tan(angle / 2)
  double clipStart = 1.0;
  double clipEnd = 100.0;
};

class MDL_Sound : public MDL_Object {
 public:
  MDL_Sound();
  // Copies every field except the channel, which starts at 0.
  MDL_Sound(const MDL_Sound& source);
  // One mixer frame at offset i from the play position.
  static float getSample(const MDL_Sound* sound, int32_t i);

  VIEW_Sample* sample = nullptr;  // not owned
  double volume = 1.0;
  int32_t position = 0;
  uint8_t looping = 0;
  uint8_t autoDelete = 1;
  int32_t channel = 0;  // negative: the sum of all channels
};

// Sound listener.
class MDL_Mike : public MDL_Object {
 public:
  MDL_Mike();
  MDL_Mike(const MDL_Mike& source) = default;
  double gain = 1.0;
  uint8_t on = 1;
};

enum MDL_VolumeShape : int32_t { VOLUME_SPHERE = 1, VOLUME_BOX = 2, VOLUME_CYLINDER = 3 };

class MDL_CollisionVolume : public MDL_Object {
 public:
  explicit MDL_CollisionVolume(int32_t shape);
  MDL_CollisionVolume(const MDL_CollisionVolume& source) = default;
  // Lets a running contact pass know that the layer or mask changed.
  void layersChanged() { MDL_iTouch(this); }
  double boundingRadius = 0.0;
  int32_t shape;
  int32_t layer = 1;
  int32_t mask = -1;
  // The contact pass's ends of the extent along x, and the pass that
  // reckoned them (both of a volume's sweep entries read them).
  double sweepLow = 0.0, sweepHigh = 0.0;
  uint64_t sweepPass = 0;
};

// A named marker.
class MDL_Locator : public MDL_Object {
 public:
  MDL_Locator();
  MDL_Locator(const MDL_Locator& source) = default;
};

// A 2-D picture overlay; its picture is the texture of the material's first
// textured layer.
class MDL_Image : public MDL_Object {
 public:
  MDL_Image();
  MDL_Image(const MDL_Image&) = delete;
  ~MDL_Image() override;
  // True when 0 <= u <= 1 and 0 <= v <= aspect ratio.
  bool hitTest(double u, double v) override;
  // Height over width of the picture; 1 without a usable texture.
  double getAspectRatio() const;
  // Gives the image its own copy of a shared material before it changes it.
  void setOwnMaterial();

  MDL_Material* material = nullptr;
  uint8_t ownMaterial = 0;
};
