#include "model/MDL_ModelsSet.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <tinyxml.h>

#include "controller/CTRL_Generic.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "base/MDL_XmlValues.h"
#include "package/CTRL_PackageLoad.h"

static char* MDL_iDup(const char* s)
{
    if (!s) return nullptr;
    size_t n = std::strlen(s) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

template <typename T>
static T* MDL_iAllocZero(size_t n)
{
    if (n == 0) return nullptr;
    return static_cast<T*>(std::calloc(n, sizeof(T)));
}

MDL_VertexGroup::~MDL_VertexGroup()
{
    std::free(name);
    std::free(vertices);
    std::free(weights);
    std::free(restPositions);
    std::free(restNormals);
}

void MDL_AnimationData::freeKeys()
{
    std::free(times);
    std::free(locations);
    std::free(rotations);
    std::free(scales);
    times = nullptr;
    locations = rotations = scales = nullptr;
    keyCount = 0;
}

MDL_AnimationData::~MDL_AnimationData()
{
    freeKeys();
    std::free(name);
    LMP_iReleaseProxy(&proxy);
}

MDL_ModelsSet::MDL_ModelsSet(const char* fileName) : name(MDL_iDup(fileName)) {}

MDL_ModelsSet::~MDL_ModelsSet()
{
    destroy(this);
    std::free(name);
    name = nullptr;
    LMP_iReleaseProxy(&proxy);
}

void MDL_ModelsSet::destroy(MDL_ModelsSet* set)
{
    if (!set) return;
    // Objects first: a mesh's own material releases its textures.
    set->objects.deleteAll();
    for (MDL_Material* m : set->materials) MDL_Material::destroy(m);
    set->materials.resize(0);
    // A texture that a material outside the set still uses (a script gave
    // it to another mesh) goes to the controller's list, flagged: the
    // render pass frees it once no layer uses it.
    for (VIEW_Texture* t : set->textures) {
        if (t->users > 0 && set->controller && set->controller->textures.append(t)) {
            t->releaseRequested = 1;
            LMP_iReleaseProxy(&t->proxy);
        } else {
            delete t;
        }
    }
    set->textures.resize(0);
    set->meshData.deleteAll();
    set->vertexGroups.deleteAll();
    set->animationData.deleteAll();
}

MDL_Object* MDL_ModelsSet::getObject(MDL_ModelsSet* set, const char* name)
{
    if (!set || !name) return nullptr;
    for (MDL_Object* o : set->objects)
        if (MDL_iSameName(o->name, name)) return o;
    return nullptr;
}

namespace {
thread_local int MDL_gHolds = 0;
thread_local std::vector<MDL_ModelsSet*> MDL_gWaiting;  // given up while a hold was open
}  // namespace

// Nothing outside the set may go on naming its objects: scripts lose their
// proxies, viewports their camera or listener.
static void MDL_iForgetObjects(MDL_ModelsSet* set)
{
    for (MDL_Object* o : set->objects) LMP_iReleaseProxy(&o->proxy);
    if (!set->controller) return;
    for (MDL_Viewport* vp : set->controller->viewports) {
        if (vp->camera && set->objects.indexOf(vp->camera) >= 0) vp->camera = nullptr;
        if (vp->listener && set->objects.indexOf(vp->listener) >= 0) vp->listener = nullptr;
    }
}

// Frees the objects, first cutting the tree links that a script made to
// objects of other sets (objects outside every world may be re-parented
// among themselves), then the set when nothing uses its data.
static void MDL_iFreeObjects(MDL_ModelsSet* set)
{
    std::unordered_set<const MDL_Object*> own(set->objects.begin(), set->objects.end());
    for (MDL_Object* o : set->objects) {
        if (o->parent && !own.count(o->parent)) o->unlinkFromParent();
        for (MDL_Object* c = o->firstChild; c;) {
            MDL_Object* next = c->nextSibling;
            if (!own.count(c)) c->unlinkFromParent();
            c = next;
        }
    }
    set->objects.deleteAll();
    if (set->users == 0) {
        delete set;
        return;
    }
    set->released = 1;
}

void MDL_ModelsSet::release(MDL_ModelsSet* set)
{
    if (!set) return;
    LMP_iReleaseProxy(&set->proxy);
    MDL_iForgetObjects(set);
    // Waiting sets are not flagged released yet, so that no user's release
    // frees them before the hold closes.
    if (MDL_gHolds > 0) {
        MDL_gWaiting.push_back(set);
        return;
    }
    MDL_iFreeObjects(set);
}

MDL_SetHold::MDL_SetHold() { MDL_gHolds++; }

MDL_SetHold::~MDL_SetHold()
{
    if (--MDL_gHolds > 0) return;
    std::vector<MDL_ModelsSet*> waiting;
    waiting.swap(MDL_gWaiting);
    for (MDL_ModelsSet* set : waiting) MDL_iFreeObjects(set);
}

void MDL_ModelsSet::retainUse(MDL_ModelsSet* set)
{
    if (set) set->users++;
}

void MDL_ModelsSet::releaseUse(MDL_ModelsSet* set)
{
    if (!set || set->users == 0) return;
    if (--set->users == 0 && set->released) delete set;
}

// ---------------------------------------------------------------- helpers

static const TiXmlElement* MDL_iSection(const TiXmlDocument& doc, const char* name)
{
    return doc.FirstChildElement(name);
}

// A non-negative integer attribute; absent, malformed or negative gives 0.
static int64_t MDL_iCountAttribute(const TiXmlElement* e, const char* name)
{
    const char* v = e ? e->Attribute(name) : nullptr;
    int32_t n = 0;
    if (!v || MDL_iParseInteger(v, &n) != 1 || n < 0) return 0;
    return n;
}

// Attribute "size" of an array element, or the fallback when it is absent.
static int MDL_iSizeAttribute(const TiXmlElement* e, int fallback)
{
    const char* v = e->Attribute("size");
    int32_t n = 0;
    if (!v || MDL_iParseInteger(v, &n) != 1) return fallback;
    return n;
}

// How many items of `per` values of `size` bytes the element's text can
// hold at most: a count larger than that is cut down, so no file can make us
// allocate more than its own text justifies. The bound needs no pass over
// the text: every byte takes two characters of it, and the document keeps
// its length. The readers below decode once into storage of this size and
// then keep what the decoding filled.
static int32_t MDL_iRoomFor(int64_t count, const TiXmlElement* e, int size, int per)
{
    const char* text = MDL_iElementText(e);
    if (count <= 0 || size <= 0 || per <= 0 || !text) return 0;
    uint64_t fit = (MDL_iElementTextLength(e) / 2) / (uint64_t(size) * uint64_t(per));
    if (uint64_t(count) > fit) count = int64_t(fit);
    if (count > INT32_MAX / 4) count = INT32_MAX / 4;
    return int32_t(count);
}

// Gives back the unfilled end of a block that was sized by MDL_iRoomFor.
template <typename T>
static T* MDL_iTrim(T* block, size_t used, size_t room)
{
    if (used == 0) {
        std::free(block);
        return nullptr;
    }
    if (used < room) {
        T* p = static_cast<T*>(std::realloc(block, used * sizeof(T)));
        if (p) return p;
    }
    return block;
}

static VIEW_Texture* MDL_iFindTexture(MDL_ModelsSet* set, const char* name)
{
    if (!name) return nullptr;
    for (VIEW_Texture* t : set->textures)
        if (MDL_iSameName(t->name, name)) return t;
    return nullptr;
}

// ---------------------------------------------------------------- sections

void MDL_ModelsSet::readTextures(const TiXmlDocument& doc)
{
    const TiXmlElement* section = MDL_iSection(doc, "textures");
    if (!section) return;
    for (const TiXmlElement* e = section->FirstChildElement("texture"); e; e = e->NextSiblingElement("texture")) {
        VIEW_Texture* t = new VIEW_Texture();
        t->read(e);
        if (!textures.append(t)) delete t;
    }
}

void MDL_ModelsSet::readMaterials(const TiXmlDocument& doc)
{
    const TiXmlElement* section = MDL_iSection(doc, "materials");
    if (!section) return;
    for (const TiXmlElement* e = section->FirstChildElement("material"); e;
         e = e->NextSiblingElement("material")) {
        MDL_Material* m = new MDL_Material();
        m->name = MDL_iDup(e->Attribute("name"));
        MDL_iGetChildNumbers(e, "ambient", m->ambient, 3);
        MDL_iGetChildNumbers(e, "diffuse", m->diffuse, 3);
        MDL_iGetChildNumbers(e, "specular", m->specular, 3);
        MDL_iGetChildNumbers(e, "shininess", &m->shininess, 1);
        MDL_iGetChildNumbers(e, "alpha", &m->diffuse[3], 1);
        MDL_iGetChildBool(e, "shadeless", &m->shadeless);
        MDL_iGetChildBool(e, "mirror", &m->mirror);
        MDL_iGetChildBool(e, "cast_shadows", &m->castShadows);
        for (const TiXmlElement* t = e->FirstChildElement("texture"); t; t = t->NextSiblingElement("texture"))
            m->appendLayer(MDL_TextureLayer::makeDefault(MDL_iFindTexture(this, MDL_iElementText(t))));
        for (const TiXmlElement* c = e->FirstChildElement("color"); c; c = c->NextSiblingElement("color"))
            if (m->layers.count > 0) MDL_iParseNumbers(MDL_iElementText(c), m->layers[0].color, 4);
        if (!materials.append(m)) MDL_Material::destroy(m);
    }
}

// Reals of `per` components per item into an array of count x per: as many
// whole items as both the "count" attribute and the text allow.
static double* MDL_iReadReals(const TiXmlElement* e, int size, int per, int32_t* count)
{
    const char* text = MDL_iElementText(e);
    *count = 0;
    const int32_t room = MDL_iRoomFor(MDL_iCountAttribute(e, "count"), e, size == 4 || size == 8 ? size : 0, per);
    if (room == 0) return nullptr;
    double* out = static_cast<double*>(std::malloc(sizeof(double) * size_t(room) * per));
    if (!out) return nullptr;
    size_t got = 0;
    MDL_iDecodeDoubles(text, size, size_t(room) * per, out, &got, MDL_iElementTextEnd(e, text));
    const int32_t n = int32_t(got / size_t(per));
    out = MDL_iTrim(out, size_t(n) * per, size_t(room) * per);
    if (out) *count = n;
    return out;
}

static void MDL_iReadMesh(MDL_MeshData* d, const TiXmlElement* e)
{
    d->name = MDL_iDup(e->Attribute("name"));
    MDL_iGetChildNumbers(e, "min", d->boxMin, 3);
    MDL_iGetChildNumbers(e, "max", d->boxMax, 3);
    MDL_iGetChildBool(e, "double_sided", &d->doubleSided);

    // Sizes follow document order: an array element without "size" takes
    // the size of the array element before it (none before: nothing read).
    const TiXmlElement *vertices = nullptr, *normals = nullptr, *uvs = nullptr, *colors = nullptr;
    const TiXmlElement *triangles = nullptr, *neighbours = nullptr;
    int vSize = 0, nSize = 0, uSize = 0, tSize = 0, gSize = 0, last = 0;
    bool gSized = false;
    for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
        const char* v = c->Value();
        if (!std::strcmp(v, "vertices") && !vertices) vertices = c, vSize = last = MDL_iSizeAttribute(c, last);
        else if (!std::strcmp(v, "normals") && !normals) normals = c, nSize = last = MDL_iSizeAttribute(c, last);
        else if (!std::strcmp(v, "uvs") && !uvs) uvs = c, uSize = last = MDL_iSizeAttribute(c, last);
        else if (!std::strcmp(v, "colors") && !colors) colors = c;
        else if (!std::strcmp(v, "triangles") && !triangles) triangles = c, tSize = last = MDL_iSizeAttribute(c, last);
        else if (!std::strcmp(v, "neighbours") && !neighbours) {
            neighbours = c;
            gSized = c->Attribute("size") != nullptr;
            gSize = last = MDL_iSizeAttribute(c, last);
        }
    }
    if (neighbours && !gSized) gSize = tSize;

    if (vertices) d->positions = MDL_iReadReals(vertices, vSize, 3, &d->vertexCount);
    if (normals) d->normals = MDL_iReadReals(normals, nSize, 3, &d->normalCount);
    if (uvs) d->uvs = MDL_iReadReals(uvs, uSize, 2, &d->uvCount);
    if (colors) {
        const char* text = MDL_iElementText(colors);
        int32_t n = MDL_iRoomFor(MDL_iCountAttribute(colors, "count"), colors, 1, 4);
        uint8_t* bytes = n > 0 ? static_cast<uint8_t*>(std::malloc(size_t(n) * 4)) : nullptr;
        if (bytes) {
            size_t got = 0;
            MDL_iDecodeHex(text, size_t(n) * 4, bytes, &got, MDL_iElementTextEnd(colors, text));
            n = int32_t(got / 4);
        }
        d->colors = bytes && n > 0 ? static_cast<double*>(std::malloc(sizeof(double) * size_t(n) * 4)) : nullptr;
        if (d->colors && bytes) {
            d->colorCount = n;
            for (size_t i = 0; i < size_t(n) * 4; i++) d->colors[i] = bytes[i] / 255.0;
            for (int32_t i = 0; i < n; i++)
                if (bytes[4 * size_t(i) + 3] < 255) d->translucentColorCount++;
        } else {
            std::free(d->colors);
            d->colors = nullptr;
        }
        std::free(bytes);
    }

    if (triangles) {
        const char* text = MDL_iElementText(triangles);
        int size = tSize == 2 || tSize == 4 ? tSize : 0;
        const int32_t room = MDL_iRoomFor(MDL_iCountAttribute(triangles, "count"), triangles, size, 3);
        int32_t n = 0;
        d->indices = room > 0 ? static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * size_t(room) * 3)) : nullptr;
        if (d->indices) {
            size_t got = 0;
            MDL_iDecodeIndices(text, size, size_t(room) * 3, d->indices, &got, MDL_iElementTextEnd(triangles, text));
            n = int32_t(got / 3);
            d->indices = MDL_iTrim(d->indices, size_t(n) * 3, size_t(room) * 3);
        }
        // Every face is written whole below: from the file's links or by
        // building them.
        d->faces = d->indices && n > 0 ? static_cast<MDL_Face*>(std::malloc(sizeof(MDL_Face) * size_t(n))) : nullptr;
        if (!d->indices || !d->faces) {
            std::free(d->indices);
            std::free(d->faces);
            d->indices = nullptr;
            d->faces = nullptr;
            n = 0;
        }
        d->triangleCount = uint32_t(n);
    }

    // Triangles that name a vertex that is not there are dropped, so that
    // every later reader can trust the indices. Files as they are written
    // name none: the triangles before the first that does stay where they
    // are, found by a pass that moves nothing.
    const uint32_t vertexCount = uint32_t(d->vertexCount);
    uint32_t kept = 0;
    while (kept < d->triangleCount) {
        const uint32_t* tri = d->indices + 3 * size_t(kept);
        if (std::max(std::max(tri[0], tri[1]), tri[2]) >= vertexCount) break;
        kept++;
    }
    for (uint32_t t = kept; t < d->triangleCount; t++) {
        const uint32_t* tri = d->indices + 3 * size_t(t);
        if (tri[0] < vertexCount && tri[1] < vertexCount && tri[2] < vertexCount) {
            if (kept != t) std::memmove(d->indices + 3 * size_t(kept), tri, 3 * sizeof(uint32_t));
            kept++;
        }
    }
    const bool dropped = kept != d->triangleCount;
    d->triangleCount = kept;

    bool haveNeighbours = false;
    if (neighbours && !dropped && d->triangleCount > 0) {
        const char* text = MDL_iElementText(neighbours);
        std::vector<uint32_t> links(size_t(d->triangleCount) * 3, MDL_NO_FACE);
        size_t got = 0;
        MDL_iDecodeIndices(text, gSize, links.size(), links.data(), &got, MDL_iElementTextEnd(neighbours, text));
        if (got > 0) {
            haveNeighbours = true;
            for (uint32_t t = 0; t < d->triangleCount; t++) {
                d->faces[t].facing = 0;
                for (int k = 0; k < 3; k++) {
                    uint32_t v = links[3 * size_t(t) + k];
                    d->faces[t].neighbours[k] = v < d->triangleCount ? v : MDL_NO_FACE;
                }
            }
        }
    }
    if (haveNeighbours) d->computeFaceNormals();
    else d->buildFaces();
}

void MDL_ModelsSet::readMeshes(const TiXmlDocument& doc)
{
    const TiXmlElement* section = MDL_iSection(doc, "meshes");
    if (!section) return;
    for (const TiXmlElement* e = section->FirstChildElement("mesh"); e; e = e->NextSiblingElement("mesh")) {
        MDL_MeshData* d = new MDL_MeshData();
        MDL_iReadMesh(d, e);
        if (!meshData.append(d)) delete d;
    }
}

void MDL_ModelsSet::readAnimatedMeshes(const TiXmlDocument& doc)
{
    const TiXmlElement* section = MDL_iSection(doc, "animated_meshes");
    if (!section) return;
    for (const TiXmlElement* e = section->FirstChildElement("animated_mesh"); e;
         e = e->NextSiblingElement("animated_mesh")) {
        MDL_VertexGroup* g = new MDL_VertexGroup();
        g->name = MDL_iDup(e->Attribute("name"));
        int last = 0;
        if (const TiXmlElement* v = e->FirstChildElement("vertices")) {
            const char* text = MDL_iElementText(v);
            int size = last = MDL_iSizeAttribute(v, last);
            const int32_t room = MDL_iRoomFor(MDL_iCountAttribute(v, "count"), v, size == 2 || size == 4 ? size : 0, 1);
            int32_t n = 0;
            uint32_t* vertices = room > 0 ? static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * size_t(room))) : nullptr;
            if (vertices) {
                size_t got = 0;
                MDL_iDecodeIndices(text, size, size_t(room), vertices, &got, MDL_iElementTextEnd(v, text));
                n = int32_t(got);
                vertices = MDL_iTrim(vertices, got, size_t(room));
            }
            g->vertices = reinterpret_cast<int32_t*>(vertices);
            g->weights = MDL_iAllocZero<double>(size_t(n));
            if (g->vertices && g->weights) g->count = n;
        }
        if (const TiXmlElement* w = e->FirstChildElement("weights"); w && g->count > 0) {
            const char* text = MDL_iElementText(w);
            int size = MDL_iSizeAttribute(w, last);
            int32_t n = MDL_iRoomFor(MDL_iCountAttribute(w, "count"), w, size == 4 || size == 8 ? size : 0, 1);
            if (n > g->count) n = g->count;
            MDL_iDecodeDoubles(text, size, size_t(n), g->weights, nullptr, MDL_iElementTextEnd(w, text));
        }
        if (!vertexGroups.append(g)) delete g;
    }
}

void MDL_ModelsSet::readAnimations(const TiXmlDocument& doc)
{
    const TiXmlElement* section = MDL_iSection(doc, "animations");
    if (!section) return;
    for (const TiXmlElement* e = section->FirstChildElement("animation"); e;
         e = e->NextSiblingElement("animation")) {
        MDL_AnimationData* a = new MDL_AnimationData();
        a->owner = this;
        a->name = MDL_iDup(e->Attribute("name"));
        if (const TiXmlElement* keys = e->FirstChildElement("keys")) {
            // Arrays for the announced count, but never more than the keys
            // that are there.
            int64_t n = MDL_iCountAttribute(keys, "count");
            int64_t present = 0;
            for (const TiXmlElement* k = keys->FirstChildElement("key"); k && present < n;
                 k = k->NextSiblingElement("key"))
                present++;
            a->freeKeys();
            a->times = MDL_iAllocZero<double>(size_t(present));
            a->locations = MDL_iAllocZero<v3>(size_t(present));
            a->rotations = MDL_iAllocZero<v3>(size_t(present));
            a->scales = MDL_iAllocZero<v3>(size_t(present));
            if (present > 0 && a->times && a->locations && a->rotations && a->scales) {
                a->keyCount = int32_t(present);
                int32_t i = 0;
                double time = 0.0;
                for (const TiXmlElement* k = keys->FirstChildElement("key"); k && i < a->keyCount;
                     k = k->NextSiblingElement("key"), i++) {
                    // A key without a time takes the time of the key before it.
                    if (const char* t = k->Attribute("time")) MDL_iParseNumbers(t, &time, 1);
                    a->times[i] = time;
                    a->scales[i] = {1, 1, 1};
                    MDL_iGetChildNumbers(k, "location", &a->locations[i].x, 3);
                    MDL_iGetChildNumbers(k, "rotation", &a->rotations[i].x, 3);
                    MDL_iGetChildNumbers(k, "scale", &a->scales[i].x, 3);
                }
            } else {
                a->freeKeys();
            }
        }
        if (!animationData.append(a)) delete a;
    }
}

// ---------------------------------------------------------------- objects

// Names compared without regard to ASCII case, as MDL_iSameName does, for
// the name indexes of the linking passes.
namespace {
int MDL_iLowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }
struct MDL_NameHash {
    size_t operator()(std::string_view s) const
    {
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : s) h = (h ^ uint64_t(MDL_iLowerAscii(c))) * 1099511628211ull;
        return size_t(h);
    }
};
struct MDL_NameEqual {
    bool operator()(std::string_view a, std::string_view b) const
    {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); i++)
            if (MDL_iLowerAscii(static_cast<unsigned char>(a[i])) != MDL_iLowerAscii(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    }
};
// Position of the first item of each name in the set's array (what a linear
// search from the front finds); unnamed items are never found. The keys
// point into the items' own names, which outlive the passes.
using MDL_NameIndex = std::unordered_map<std::string_view, int32_t, MDL_NameHash, MDL_NameEqual>;

template <typename T>
void MDL_iIndexNames(MDL_NameIndex& index, const CTRL_Array<T*>& items)
{
    index.reserve(size_t(items.count));
    for (int32_t i = 0; i < items.count; i++)
        if (items.data[i]->name) index.emplace(items.data[i]->name, i);
}

int32_t MDL_iFindName(const MDL_NameIndex& index, const char* name)
{
    if (!name) return -1;
    auto it = index.find(name);
    return it == index.end() ? -1 : it->second;
}

template <typename T>
T* MDL_iLookUp(const MDL_NameIndex& index, const CTRL_Array<T*>& items, const char* name)
{
    int32_t at = MDL_iFindName(index, name);
    return at < 0 ? nullptr : items.data[at];
}
}  // namespace

// Objects made by pass 1, one entry per "object" element (null when the
// element made none, with its position in the set's objects); passes 2 and
// 3 walk the elements again with it, and look names up in the indexes.
namespace {
struct MDL_ObjectPasses {
    std::vector<const TiXmlElement*> elements;
    std::vector<MDL_Object*> made;
    std::vector<int32_t> slot;
    MDL_NameIndex objectNames, meshNames, materialNames, groupNames;
    // The trees linked so far, as sets of object positions: linking an
    // object (a root until then) under a parent of its own tree would close
    // a loop.
    std::vector<int32_t> tree;
    int32_t treeOf(int32_t i)
    {
        while (tree[size_t(i)] != i) i = tree[size_t(i)] = tree[size_t(tree[size_t(i)])];
        return i;
    }
};
thread_local MDL_ObjectPasses* MDL_gPasses = nullptr;
}  // namespace

static int32_t MDL_iVolumeShape(const char* text)
{
    if (!text) return 0;
    if (MDL_iSameName(text, "sphere")) return VOLUME_SPHERE;
    if (MDL_iSameName(text, "box")) return VOLUME_BOX;
    if (MDL_iSameName(text, "cylinder")) return VOLUME_CYLINDER;
    return 0;
}

void MDL_ModelsSet::readObjects(const TiXmlDocument& doc)
{
    const TiXmlElement* section = MDL_iSection(doc, "objects");
    if (!section || !MDL_gPasses) return;
    for (const TiXmlElement* e = section->FirstChildElement("object"); e; e = e->NextSiblingElement("object")) {
        MDL_gPasses->elements.push_back(e);
        MDL_gPasses->made.push_back(nullptr);
        MDL_gPasses->slot.push_back(-1);
        int32_t type = MDL_iObjectTypeFromName(e->Attribute("type"));
        if (type < 0) type = OBJECT_NONE;
        MDL_Object* o = nullptr;
        switch (type) {
        case OBJECT_NONE: o = new MDL_Object(); break;
        case OBJECT_LAMP: o = new MDL_Lamp(); break;
        case OBJECT_CAMERA: o = new MDL_Camera(); break;
        case OBJECT_MESH: o = new MDL_Mesh(); break;
        case OBJECT_SOUND: o = new MDL_Sound(); break;
        case OBJECT_BONE: o = new MDL_Bone(); break;
        case OBJECT_ANIMATED_MESH: o = new MDL_AnimatedMesh(); break;
        case OBJECT_LOCATOR: o = new MDL_Locator(); break;
        case OBJECT_COLLISION_VOLUME: {
            // An unusable shape makes no object; the elements after it are
            // still read.
            int32_t shape = MDL_iVolumeShape(MDL_iElementText(e->FirstChildElement("volume_type")));
            if (shape) o = new MDL_CollisionVolume(shape);
            break;
        }
        default: break;  // rigid bodies and overlay types are not built from files
        }
        if (!o) continue;
        o->load(e);
        if (MDL_Mesh* m = dynamic_cast<MDL_Mesh*>(o)) m->setSourceSet(this, false);
        if (!objects.append(o)) {
            delete o;
            continue;
        }
        MDL_gPasses->made.back() = o;
        MDL_gPasses->slot.back() = objects.count - 1;
    }
}

void MDL_ModelsSet::linkObjects(const TiXmlDocument&)
{
    if (!MDL_gPasses) return;
    MDL_ObjectPasses& passes = *MDL_gPasses;
    MDL_iIndexNames(passes.objectNames, objects);
    MDL_iIndexNames(passes.meshNames, meshData);
    MDL_iIndexNames(passes.materialNames, materials);
    passes.tree.resize(size_t(objects.count));
    for (int32_t i = 0; i < objects.count; i++) passes.tree[size_t(i)] = i;
    for (size_t i = 0; i < passes.elements.size(); i++) {
        MDL_Object* o = passes.made[i];
        if (!o) continue;
        const TiXmlElement* e = passes.elements[i];
        if (const TiXmlElement* pe = e->FirstChildElement("parent")) {
            int32_t at = MDL_iFindName(passes.objectNames, MDL_iElementText(pe));
            // A parent that is the object itself or one of its descendants
            // (its own tree: the object is that tree's root) would close a
            // loop in the tree: it is ignored.
            int32_t mine = passes.treeOf(passes.slot[i]);
            if (at >= 0 && passes.treeOf(at) != mine && !o->parent) {
                MDL_Object* p = objects.data[at];
                passes.tree[size_t(mine)] = passes.treeOf(at);
                // The object's descendants were all linked earlier in this
                // pass, which left their global frames stale and their moved
                // flags set, and nothing here validates a frame: only the
                // object itself lets go of its global frame.
                o->parent = p;
                o->globalValid = 0;
                o->nextSibling = p->firstChild;
                p->firstChild = o;
            }
        }
        // Only mesh objects carry mesh data and materials.
        if (MDL_Mesh* m = dynamic_cast<MDL_Mesh*>(o)) {
            if (const TiXmlElement* me = e->FirstChildElement("mesh"))
                m->meshData = MDL_iLookUp(passes.meshNames, meshData, MDL_iElementText(me));
            if (const TiXmlElement* ma = e->FirstChildElement("material"))
                m->setMaterial(MDL_iLookUp(passes.materialNames, materials, MDL_iElementText(ma)));
            if (MDL_AnimatedMesh* am = dynamic_cast<MDL_AnimatedMesh*>(m)) am->resetSkin();
        }
    }
}

void MDL_ModelsSet::linkSkeletons(const TiXmlDocument&)
{
    if (!MDL_gPasses) return;
    MDL_iIndexNames(MDL_gPasses->groupNames, vertexGroups);
    // Rest data are taken with the bones in their original pose.
    for (MDL_Object* o : objects)
        if (o->type == OBJECT_BONE) static_cast<MDL_Bone*>(o)->swapRestFrame();

    for (size_t i = 0; i < MDL_gPasses->elements.size(); i++) {
        MDL_AnimatedMesh* a = dynamic_cast<MDL_AnimatedMesh*>(MDL_gPasses->made[i]);
        const TiXmlElement* section = MDL_gPasses->elements[i]->FirstChildElement("animated_meshes");
        if (!a || !section) continue;
        int32_t k = 0;
        for (const TiXmlElement* b = section->FirstChildElement("animated_mesh"); b;
             b = b->NextSiblingElement("animated_mesh"))
            k++;
        if (!a->setBindings(k)) continue;
        MDL_MeshData* d = a->meshData;
        const int32_t vertexCount = d && d->positions ? d->vertexCount : 0;
        std::vector<double> sum(size_t(vertexCount), 0.0);

        int32_t j = 0;
        for (const TiXmlElement* b = section->FirstChildElement("animated_mesh"); b && j < k;
             b = b->NextSiblingElement("animated_mesh"), j++) {
            MDL_VertexGroup* g = MDL_iLookUp(MDL_gPasses->groupNames, vertexGroups, MDL_iElementText(b));
            MDL_Object* bo =
                MDL_iLookUp(MDL_gPasses->objectNames, objects, MDL_iElementText(b->FirstChildElement("bone")));
            MDL_Bone* bone = bo && bo->type == OBJECT_BONE ? static_cast<MDL_Bone*>(bo) : nullptr;
            a->vertexGroups[j] = g;
            a->boneList[j] = bone;
            if (!g || !bone || g->restPositions || g->count <= 0 || vertexCount == 0) continue;
            g->restPositions = MDL_iAllocZero<v3>(size_t(g->count));
            g->restNormals = MDL_iAllocZero<v3>(size_t(g->count));
            if (!g->restPositions || !g->restNormals) continue;
            const MDL_Frame& bf = bone->getGlobalFrame();
            const MDL_Frame& af = a->getGlobalFrame();
            MDL_Frame::validateInverse(bf);
            m33 R;
            m33::multiply(R, bf.inverse, af.basis);
            v3 off = m33::apply(bf.inverse, af.position - bf.position);
            for (int32_t n = 0; n < g->count; n++) {
                int32_t v = g->vertices[n];
                if (v < 0 || v >= vertexCount) continue;  // names no vertex of this mesh
                sum[size_t(v)] += g->weights[n];
                const double* p = d->positions + 3 * size_t(v);
                g->restPositions[n] = m33::apply(R, {p[0], p[1], p[2]}) + off;
                if (d->normals && v < d->normalCount) {
                    const double* q = d->normals + 3 * size_t(v);
                    g->restNormals[n] = m33::apply(R, {q[0], q[1], q[2]});
                }
            }
        }
        // Each group's weights are divided by the vertex sums once, even when
        // the group is bound twice.
        for (int32_t b = 0; b < a->boneCount; b++) {
            MDL_VertexGroup* g = a->vertexGroups[b];
            if (!g || g->normalized || !g->restPositions) continue;
            g->normalized = 1;
            for (int32_t n = 0; n < g->count; n++) {
                int32_t v = g->vertices[n];
                if (v >= 0 && v < vertexCount && sum[size_t(v)] != 0.0) g->weights[n] /= sum[size_t(v)];
            }
        }
    }

    for (MDL_Object* o : objects)
        if (o->type == OBJECT_BONE) static_cast<MDL_Bone*>(o)->swapRestFrame();
}

// ---------------------------------------------------------------- loading

MDL_ModelsSet* MDL_iLoadModelsSetFromText(const char* fileName, const char* text)
{
    if (!text || !*text) return nullptr;
    // The parser recurses once per element level: a text nested deeper than
    // any scene needs is refused as unreadable before it gets there.
    if (!MDL_iXmlDepthWithin(text)) return nullptr;
    MDL_ModelsSet* set = new MDL_ModelsSet(fileName);
    TiXmlDocument doc;
    // Byte-wise parsing: the UTF-8 mode of the parser steps over multi-byte
    // sequences without looking at every byte and can run past the end of a
    // text with a broken sequence at its end. Scene files need no more than
    // bytes (names are compared as ASCII).
    doc.Parse(text, nullptr, TIXML_ENCODING_LEGACY);
    if (doc.Error()) {
        delete set;
        return nullptr;
    }
    MDL_ObjectPasses passes;
    MDL_ObjectPasses* outer = MDL_gPasses;
    MDL_gPasses = &passes;
    set->readTextures(doc);
    set->readMaterials(doc);
    set->readMeshes(doc);
    set->readAnimatedMeshes(doc);
    set->readAnimations(doc);
    set->readObjects(doc);
    set->linkObjects(doc);
    set->linkSkeletons(doc);
    MDL_gPasses = outer;
    return set;
}

MDL_ModelsSet* MDL_iLoadModelsSet(CTRL_Generic* controller, const char* fileName)
{
    if (!controller || !fileName) return nullptr;
    uint8_t* data = nullptr;
    uint32_t size = 0;
    bool owned = CTRL_iReadPackageFile(controller, fileName, &data, &size, true);
    if (!data) return nullptr;
    MDL_ModelsSet* set = size > 0 ? MDL_iLoadModelsSetFromText(fileName, reinterpret_cast<const char*>(data)) : nullptr;
    if (owned) std::free(data);
    if (!set) return nullptr;
    set->controller = controller;
    if (!controller->modelsSets.append(set)) {
        delete set;
        return nullptr;
    }
    return set;
}
