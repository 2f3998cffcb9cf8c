// The image overlay's record; kept apart from the other plain types because
// it is the only one that reaches into materials and textures.
#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"

MDL_Image::MDL_Image() { type = OBJECT_IMAGE; }

MDL_Image::~MDL_Image() {
  if (ownMaterial && material) MDL_Material::destroy(material);
  material = nullptr;
}

double MDL_Image::getAspectRatio() const {
  if (!material) return 1.0;
  for (int i = 0; i < material->layers.count; ++i) {
    const VIEW_Texture* t = material->layers.data[i].texture;
    if (!t) continue;
    if (t->width == 0) return 1.0;
    return static_cast<double>(t->height) / static_cast<double>(t->width);
  }
  return 1.0;
}

bool MDL_Image::hitTest(double u, double v) { return u >= 0 && u <= 1 && v >= 0 && v <= getAspectRatio(); }

void MDL_Image::setOwnMaterial() {
  if (ownMaterial) return;
  material = material ? new MDL_Material(*material) : new MDL_Material();
  ownMaterial = 1;
}
