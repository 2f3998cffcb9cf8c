#include "model/MDL_Objects.h"

#include <tinyxml.h>

#include <cmath>

#include "model/MDL_ObjectLoad.h"
#include "media/VIEW_Sample.h"
#include "base/MDL_XmlValues.h"

static constexpr double DEG_TO_RAD = 0.017453292519943295;

const double MDL_CAMERA_DEFAULT_ANGLE = static_cast<double>(49.14f) * DEG_TO_RAD;

// ---- lamp

static const char* const lampTypeNames[] = {"None", "Lamp", "Sun", "Spot", "Hemi", "Area", "Photon"};

MDL_Lamp::MDL_Lamp() { type = OBJECT_LAMP; }

static void readNumber(const TiXmlElement* e, const char* child, double& target) {
  double v;
  if (MDL_iGetChildNumbers(e, child, &v, 1)) target = v;
}

bool MDL_Lamp::load(const TiXmlElement* element) {
  MDL_Object::load(element);
  if (!element) return false;
  const TiXmlElement* t = element->FirstChildElement("type");
  if (!t) return false;
  lampType = LAMP_NONE;
  for (int i = 0; i < 7; ++i)
    if (MDL_iSameName(MDL_iElementText(t), lampTypeNames[i])) lampType = i;
  MDL_iGetChildNumbers(element, "color", color, 3);
  readNumber(element, "energy", energy);
  MDL_iGetChildBool(element, "no_diffuse", &noDiffuse);
  MDL_iGetChildBool(element, "no_specular", &noSpecular);
  switch (lampType) {
    case LAMP_POINT:
      readNumber(element, "distance", distance);
      readNumber(element, "quad1", quad1);
      readNumber(element, "quad2", quad2);
      MDL_iGetChildBool(element, "shadows", &shadows);
      break;
    case LAMP_SUN:
      MDL_iGetChildBool(element, "shadows", &shadows);
      break;
    case LAMP_SPOT:
      readNumber(element, "spot_size", spotSize);
      readNumber(element, "quad1", quad1);
      readNumber(element, "quad2", quad2);
      readNumber(element, "distance", distance);
      MDL_iGetChildBool(element, "shadows", &shadows);
      break;
    default:
      break;
  }
  return true;
}

// ---- camera

MDL_Camera::MDL_Camera() {
  type = OBJECT_CAMERA;
  setAngle(MDL_CAMERA_DEFAULT_ANGLE);
}

void MDL_Camera::setAngle(double radians) {
  angle = radians;
  projectionFactor = 1.0 / std::tan(radians * 0.5);
}

bool MDL_Camera::load(const TiXmlElement* element) {
  MDL_Object::load(element);
  if (!element) return true;
  double degrees;
  if (MDL_iGetChildNumbers(element, "angle", &degrees, 1)) setAngle(degrees * DEG_TO_RAD);
  readNumber(element, "clip_start", clipStart);
  readNumber(element, "clip_end", clipEnd);
  return true;
}

// ---- sound source

MDL_Sound::MDL_Sound() { type = OBJECT_SOUND; }

MDL_Sound::MDL_Sound(const MDL_Sound& source)
    : MDL_Object(source),
      sample(source.sample),
      volume(source.volume),
      position(source.position),
      looping(source.looping),
      autoDelete(source.autoDelete),
      channel(0) {}

// ---- listener, collision volume, locator

MDL_Mike::MDL_Mike() { type = OBJECT_MIKE; }

MDL_CollisionVolume::MDL_CollisionVolume(int32_t shapeKind) : shape(shapeKind) { type = OBJECT_COLLISION_VOLUME; }

MDL_Locator::MDL_Locator() { type = OBJECT_LOCATOR; }

// ---- sample fetch for the mixer

static float channelSample(const VIEW_SampleChannel& ch, int64_t f, bool wrap) {
  if (!ch.samples || ch.count <= 0) return 0.0f;
  if (wrap) {
    int64_t n = ch.count;
    f %= n;
    if (f < 0) f += n;
    return ch.samples[f];
  }
  return (f >= 0 && f < ch.count) ? ch.samples[f] : 0.0f;
}

float MDL_Sound::getSample(const MDL_Sound* sound, int32_t i) {
  if (!sound) return 0.0f;
  const VIEW_Sample* s = sound->sample;
  if (!s || s->paused || s->channels.count <= 0) return 0.0f;
  int64_t f = s->streamFed ? int64_t(i) : int64_t(sound->position) + i;
  bool wrap = sound->looping && !s->streamFed;
  if (sound->channel < 0) {
    float sum = 0.0f;
    for (int c = 0; c < s->channels.count; ++c) sum += channelSample(s->channels.data[c], f, wrap);
    return sum;
  }
  if (sound->channel >= s->channels.count) return 0.0f;  // no such channel: silence
  return channelSample(s->channels.data[sound->channel], f, wrap);
}
