// Drawing one viewport's 3-D scene: lights, clears, the mirror, the opaque
// pass with its occluders, stencil shadows, the ordered transparent pass,
// and the overlays on top. Geometry goes to GL as doubles, from buffer
// objects on the buffer-object path and from client arrays otherwise.
#include <GL/glew.h>

#include "render/VIEW_OpenGL.h"

#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Text.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_Scene3D.h"
#include "render/VIEW_Shadow.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Two triangles covering the screen in normalised device coordinates.
const double SCREEN_QUAD[12] = {-1, -1, 1, -1, 1, 1, -1, -1, 1, 1, -1, 1};

void loadMatrix(GLenum mode, const m44& m)
{
    glMatrixMode(mode);
    glLoadMatrixd(m.m);
}

void identityMatrices()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// Client arrays that a draw of positions only must not leave enabled.
void positionsOnly()
{
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisable(GL_COLOR_MATERIAL);
}

// Colour-only quad over the whole viewport: flat (2-D) or at a depth.
void screenQuad(bool flat, double depth = 0)
{
    positionsOnly();
    double quad[18];
    for (int i = 0; i < 6; i++) {
        quad[3 * i] = SCREEN_QUAD[2 * i];
        quad[3 * i + 1] = SCREEN_QUAD[2 * i + 1];
        quad[3 * i + 2] = depth;
    }
    if (flat)
        glVertexPointer(2, GL_DOUBLE, 0, SCREEN_QUAD);
    else
        glVertexPointer(3, GL_DOUBLE, 0, quad);
    glDrawArrays(GL_TRIANGLES, 0, 6);
}

MDL_Mesh* asMesh(MDL_Object* o)
{
    return o && (o->type == OBJECT_MESH || o->type == OBJECT_ANIMATED_MESH) ? static_cast<MDL_Mesh*>(o) : nullptr;
}

}   // namespace

// ---------------------------------------------------------------- set-up

void VIEW_OpenGL::setupLights(MDL_Scene* scene)
{
    for (int i = 0; i < VIEW_MAX_LIGHTS; i++)
        glDisable(GL_LIGHT0 + i);
    const GLfloat none[4] = {0, 0, 0, 0};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);

    int32_t light = 0;
    for (int32_t i = 0; i < scene->lamps.count && light < VIEW_MAX_LIGHTS; i++) {
        MDL_Object* o = scene->lamps[i];
        if (!o || o->type != OBJECT_LAMP || !static_cast<MDL_Lamp*>(o)->on)
            continue;
        VIEW_LightParams p;
        VIEW_iLampParams(*static_cast<MDL_Lamp*>(o), p);
        GLenum l = GL_LIGHT0 + light++;
        glLightfv(l, GL_POSITION, p.position);
        glLightfv(l, GL_SPOT_DIRECTION, p.spotDirection);
        glLightf(l, GL_SPOT_CUTOFF, p.spotCutoff);
        glLightf(l, GL_SPOT_EXPONENT, p.spotExponent);
        glLightf(l, GL_CONSTANT_ATTENUATION, p.attenuation[0]);
        glLightf(l, GL_LINEAR_ATTENUATION, p.attenuation[1]);
        glLightf(l, GL_QUADRATIC_ATTENUATION, p.attenuation[2]);
        glLightfv(l, GL_DIFFUSE, p.diffuse);
        glLightfv(l, GL_SPECULAR, p.specular);
        glLightfv(l, GL_AMBIENT, p.ambient);
        glEnable(l);
    }
    scene3D.shadowLamp = VIEW_iFindShadowLamp(scene->lamps, &scene3D.shadowLight);
}

void VIEW_OpenGL::loadObjectMatrix(MDL_Object* object)
{
    m44 m;
    VIEW_iObjectMatrix(modelView, *object, m);
    loadMatrix(GL_MODELVIEW, m);
}

// ---------------------------------------------------------------- buffers

VIEW_BufferPair* VIEW_OpenGL::bufferPairOf(MDL_Mesh* mesh)
{
    if (renderPath != RENDER_PATH_VBO || mesh->type != OBJECT_MESH || !mesh->meshData)
        return nullptr;
    VIEW_BufferPair** p = bufferObjects.find(mesh->meshData);
    if (!p || !*p || (*p)->serial != mesh->meshData->serial)
        return nullptr;
    return *p;
}

void VIEW_OpenGL::dropBufferPair(MDL_MeshData* data)
{
    VIEW_BufferPair** p = bufferObjects.find(data);
    if (!p)
        return;
    VIEW_BufferPair* pair = *p;
    if (pair) {
        glDeleteBuffers(1, &pair->indexBuffer);
        glDeleteBuffers(1, &pair->vertexBuffer);
        delete pair;
    }
    bufferObjects.remove(data);
}

void VIEW_OpenGL::updateBufferObjects(MDL_Scene* scene)
{
    if (renderPath != RENDER_PATH_VBO)
        return;
    for (int32_t i = 0; i < scene->meshes.count; i++) {
        MDL_Object* o = scene->meshes[i];
        if (!o || o->type != OBJECT_MESH)
            continue;
        MDL_Mesh* mesh = static_cast<MDL_Mesh*>(o);
        MDL_MeshData* d = mesh->meshData;
        if (!d)
            continue;
        VIEW_BufferPair** found = bufferObjects.find(d);
        // A pair made for other mesh data that lived at this address, or
        // for geometry that has changed since, is dropped.
        if (found && (!*found || (*found)->serial != d->serial || mesh->geometryChanged)) {
            dropBufferPair(d);
            found = nullptr;
        }
        mesh->geometryChanged = 0;
        if (found || mesh->displayMode != DISPLAY_MODE_NORMAL || d->triangleCount == 0 || d->vertexCount <= 0)
            continue;
        const double* positions = mesh->getVertex(0);
        if (!positions || !VIEW_iIndicesValid(*d, &scene3D.checkedIndices))
            continue;

        const size_t v = (size_t)d->vertexCount, n = d->normalCount > 0 ? (size_t)d->normalCount : 0,
                     c = d->colorCount > 0 ? (size_t)d->colorCount : 0, t = d->uvCount > 0 ? (size_t)d->uvCount : 0;
        const size_t bytes = v * 24 + n * 24 + c * 32 + t * 16;
        const double* normals = n ? mesh->getNormal(0) : nullptr;

        for (int k = 0; k < 16 && glGetError() != GL_NO_ERROR; k++) {
        }
        VIEW_BufferPair* pair = new VIEW_BufferPair{};
        pair->serial = d->serial;
        glGenBuffers(1, &pair->vertexBuffer);
        glBindBuffer(GL_ARRAY_BUFFER, pair->vertexBuffer);
        glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)bytes, nullptr, GL_DYNAMIC_COPY);
        size_t at = 0;
        glBufferSubData(GL_ARRAY_BUFFER, 0, (GLsizeiptr)(v * 24), positions);
        at += v * 24;
        if (n && normals)
            glBufferSubData(GL_ARRAY_BUFFER, (GLintptr)at, (GLsizeiptr)(n * 24), normals);
        at += n * 24;
        if (c && d->colors)
            glBufferSubData(GL_ARRAY_BUFFER, (GLintptr)at, (GLsizeiptr)(c * 32), d->colors);
        at += c * 32;
        if (t && d->uvs)
            glBufferSubData(GL_ARRAY_BUFFER, (GLintptr)at, (GLsizeiptr)(t * 16), d->uvs);
        glGenBuffers(1, &pair->indexBuffer);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, pair->indexBuffer);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, (GLsizeiptr)(12 * (size_t)d->triangleCount), d->indices,
                     GL_DYNAMIC_COPY);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        VIEW_BufferPair** slot = nullptr;
        if (glGetError() != GL_OUT_OF_MEMORY)
            slot = bufferObjects.insert(d);
        if (!slot) {
            // Drawn from memory this frame; the upload is tried again next frame.
            glDeleteBuffers(1, &pair->indexBuffer);
            glDeleteBuffers(1, &pair->vertexBuffer);
            delete pair;
            continue;
        }
        *slot = pair;
    }
}

// ---------------------------------------------------------------- meshes

void VIEW_OpenGL::drawMesh(MDL_Mesh* mesh, const VIEW_MeshArrays& a)
{
    loadObjectMatrix(mesh);
    if (mesh->meshData->doubleSided)
        glDisable(GL_CULL_FACE);
    else
        glEnable(GL_CULL_FACE);

    const MDL_Material* material = mesh->material;
    const MDL_MeshData* d = mesh->meshData;
    const bool normals = a.normals && !(material && material->shadeless);
    VIEW_BufferPair* pair = bufferPairOf(mesh);
    // With buffer objects the array "pointers" are byte offsets into the
    // bound buffer, made from integers (arithmetic on a null pointer is
    // undefined).
    auto offset = [](size_t bytes) { return reinterpret_cast<const void*>(static_cast<uintptr_t>(bytes)); };
    const void* indices = a.indices;
    const void *pos = a.positions, *nrm = a.normals, *col = a.colours, *uv = a.uvs;
    if (pair) {
        glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
        glBindBuffer(GL_ARRAY_BUFFER, pair->vertexBuffer);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, pair->indexBuffer);
        const size_t v = (size_t)d->vertexCount, n = (size_t)std::max(d->normalCount, 0),
                     c = (size_t)std::max(d->colorCount, 0);
        pos = offset(0);
        nrm = offset(v * 24);
        col = offset((v + n) * 24);
        uv = offset((v + n) * 24 + c * 32);
        indices = nullptr;
    }
    glVertexPointer(3, GL_DOUBLE, 0, pos);
    if (normals) {
        glNormalPointer(GL_DOUBLE, 0, nrm);
        glEnableClientState(GL_NORMAL_ARRAY);
    } else {
        // The current normal is undefined after an array draw: fix it.
        glDisableClientState(GL_NORMAL_ARRAY);
        glNormal3d(0, 0, 1);
    }
    if (a.colours) {
        glEnable(GL_COLOR_MATERIAL);
        glColorPointer(4, GL_DOUBLE, 0, col);
        glEnableClientState(GL_COLOR_ARRAY);
    } else {
        glDisable(GL_COLOR_MATERIAL);
        glDisableClientState(GL_COLOR_ARRAY);
    }
    if (a.uvs) {
        glTexCoordPointer(2, GL_DOUBLE, 0, uv);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    } else {
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }

    const int32_t layers = material && material->layers.count > 0 ? material->layers.count : 1;
    for (int32_t l = 0; l < layers; l++) {
        applyMaterial(const_cast<MDL_Material*>(material), l, false, false);
        glDrawElements(GL_TRIANGLES, (GLsizei)(3 * a.triangleCount), GL_UNSIGNED_INT, indices);
    }
    if (pair) {
        glPopClientAttrib();
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }
}

// Depth only: no material, positions only.
void VIEW_OpenGL::drawMeshDepth(MDL_Mesh* mesh, const VIEW_MeshArrays& a)
{
    loadObjectMatrix(mesh);
    if (mesh->meshData->doubleSided)
        glDisable(GL_CULL_FACE);
    else
        glEnable(GL_CULL_FACE);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_ALPHA_TEST);
    positionsOnly();
    VIEW_BufferPair* pair = bufferPairOf(mesh);
    if (pair) {
        glBindBuffer(GL_ARRAY_BUFFER, pair->vertexBuffer);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, pair->indexBuffer);
        glVertexPointer(3, GL_DOUBLE, 0, nullptr);
        glDrawElements(GL_TRIANGLES, (GLsizei)(3 * a.triangleCount), GL_UNSIGNED_INT, nullptr);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    } else {
        glVertexPointer(3, GL_DOUBLE, 0, a.positions);
        glDrawElements(GL_TRIANGLES, (GLsizei)(3 * a.triangleCount), GL_UNSIGNED_INT, a.indices);
    }
}

void VIEW_OpenGL::drawOpaque(MDL_Scene* scene)
{
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glCullFace(GL_BACK);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glEnable(GL_NORMALIZE);
    VIEW_MeshArrays a;
    for (int32_t i = 0; i < scene->meshes.count; i++) {
        MDL_Mesh* mesh = asMesh(scene->meshes[i]);
        if (mesh && VIEW_iDrawsOpaque(*mesh) && VIEW_iMeshArrays(*mesh, a, &scene3D.checkedIndices))
            drawMesh(mesh, a);
    }
    // Occluders: depth without colour.
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    for (int32_t i = 0; i < scene->meshes.count; i++) {
        MDL_Mesh* mesh = asMesh(scene->meshes[i]);
        if (mesh && VIEW_iIsOccluder(*mesh) && VIEW_iMeshArrays(*mesh, a, &scene3D.checkedIndices))
            drawMeshDepth(mesh, a);
    }
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}

// ---------------------------------------------------------------- shadows

void VIEW_OpenGL::drawShadowVolumes(MDL_Scene* scene, bool zFail)
{
    glEnable(GL_CULL_FACE);
    glDisable(GL_NORMALIZE);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_TEXTURE_2D);
    glDepthMask(GL_FALSE);
    glEnable(GL_STENCIL_TEST);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glStencilFunc(GL_ALWAYS, 1, ~0u);
    positionsOnly();

    auto each = [&](auto&& draw) {
        for (int32_t i = 0; i < scene->meshes.count; i++) {
            MDL_Object* o = scene->meshes[i];
            // Only volumes built for this frame's shadow lamp.
            if (!VIEW_iCastsShadow(o) || static_cast<MDL_Mesh*>(o)->shadowLamp != scene3D.shadowLamp)
                continue;
            loadObjectMatrix(o);
            draw(static_cast<MDL_Mesh*>(o));
        }
    };
    auto arrayOf = [](const CTRL_Array<v3>& a) {
        if (a.count <= 0)
            return;
        glVertexPointer(3, GL_DOUBLE, 0, a.data);
        glDrawArrays(GL_TRIANGLES, 0, a.count);
    };
    // The caps' corners are the mesh's own positions (front) and its far
    // points (back); a volume built for other geometry than the mesh has
    // now (a far point for every vertex) draws no caps.
    auto capOf = [](MDL_Mesh* m, bool front) {
        const CTRL_Array<uint32_t>& ix = m->shadowCapIndices;
        if (ix.count <= 0 || !m->meshData || m->shadowFarPoints.count != m->meshData->vertexCount)
            return;
        const double* corners = front ? m->getVertex(0) : &m->shadowFarPoints.data[0].x;
        if (!corners)
            return;
        glVertexPointer(3, GL_DOUBLE, 0, corners);
        glDrawElements(GL_TRIANGLES, ix.count, GL_UNSIGNED_INT, ix.data);
    };

    if (!zFail) {
        glDepthFunc(GL_LEQUAL);
        glFrontFace(GL_CCW);
        glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
        each([&](MDL_Mesh* m) { arrayOf(m->shadowSideQuads); });
        glFrontFace(GL_CW);
        glStencilOp(GL_KEEP, GL_KEEP, GL_DECR);
        each([&](MDL_Mesh* m) { arrayOf(m->shadowSideQuads); });
        return;
    }
    glDepthFunc(GL_LESS);
    glStencilOp(GL_KEEP, GL_INCR, GL_KEEP);
    each([&](MDL_Mesh* m) {
        glFrontFace(GL_CW);
        capOf(m, true);
        arrayOf(m->shadowSideQuads);
        glFrontFace(GL_CCW);
        capOf(m, false);
    });
    glStencilOp(GL_KEEP, GL_DECR, GL_KEEP);
    each([&](MDL_Mesh* m) {
        glFrontFace(GL_CCW);
        capOf(m, true);
        arrayOf(m->shadowSideQuads);
        glFrontFace(GL_CW);
        capOf(m, false);
    });
}

// Volumes are drawn for the lamp that composites them: a caster whose volume
// was built for another lamp, or without the caps that depth-fail counting
// needs, is rebuilt now.
void VIEW_OpenGL::refreshShadowVolumes(MDL_Scene* scene, MDL_Lamp* lamp, bool zFail)
{
    for (int32_t i = 0; i < scene->meshes.count; i++) {
        MDL_Object* o = scene->meshes[i];
        if (!VIEW_iCastsShadow(o))
            continue;
        MDL_Mesh* m = static_cast<MDL_Mesh*>(o);
        bool capsMissing = zFail && m->shadowSideQuads.count > 0 && m->shadowCapIndices.count == 0;
        if (m->shadowLamp == lamp && !capsMissing)
            continue;
        m->shadowLamp = nullptr;
        m->updateShadowGeometry(lamp);
    }
}

// ---------------------------------------------------------------- transparency

void VIEW_OpenGL::drawTransparent(MDL_Scene* scene)
{
    VIEW_Transparency& rec = transparency;
    VIEW_iBspClear(rec);
    // A reflected camera turns space inside out.
    m33 view{{{modelView.m[0], modelView.m[1], modelView.m[2]},
              {modelView.m[4], modelView.m[5], modelView.m[6]},
              {modelView.m[8], modelView.m[9], modelView.m[10]}}};
    const bool mirrored = m33::determinant(view) < 0;
    VIEW_MeshArrays a;
    for (int32_t i = 0; i < scene->meshes.count; i++) {
        MDL_Mesh* mesh = asMesh(scene->meshes[i]);
        if (!mesh || !VIEW_iDrawsTransparent(*mesh) || !VIEW_iMeshArrays(*mesh, a, &scene3D.checkedIndices))
            continue;
        m44 eye;
        VIEW_iObjectMatrix(modelView, *mesh, eye);
        m33 normals{{{eye.m[0], eye.m[1], eye.m[2]}, {eye.m[4], eye.m[5], eye.m[6]}, {eye.m[8], eye.m[9], eye.m[10]}}};
        VIEW_iCollectTransparentTriangles(rec, a, mesh->meshData->doubleSided, mesh->material, eye, normals, mirrored);
    }
    VIEW_iBspClearOutput(rec);
    VIEW_iBspCollect(rec, 0);
    if (rec.positions.count == 0)
        return;

    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glEnable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glEnable(GL_NORMALIZE);
    loadMatrix(GL_PROJECTION, projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glVertexPointer(3, GL_DOUBLE, 0, rec.positions.data);
    glNormalPointer(GL_DOUBLE, 0, rec.normals.data);
    glEnableClientState(GL_NORMAL_ARRAY);
    glTexCoordPointer(2, GL_DOUBLE, 0, rec.uvs.data);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glColorPointer(4, GL_DOUBLE, 0, rec.colours.data);

    const int32_t triangles = rec.materials.count;
    for (int32_t first = 0; first < triangles;) {
        // A run: one material, and vertex colours throughout or nowhere
        // (meshes sharing a material may differ there).
        const MDL_Material* material = rec.materials[first];
        const bool coloured = rec.colours[3 * first].a >= 0;
        int32_t end = first + 1;
        while (end < triangles && rec.materials[end] == material && (rec.colours[3 * end].a >= 0) == coloured)
            end++;
        const int32_t layers = material && material->layers.count > 0 ? material->layers.count : 1;
        for (int32_t l = 0; l < layers; l++) {
            applyMaterial(const_cast<MDL_Material*>(material), l, false, true);
            if (coloured) {
                glEnable(GL_COLOR_MATERIAL);
                glEnableClientState(GL_COLOR_ARRAY);
            } else {
                glDisable(GL_COLOR_MATERIAL);
                glDisableClientState(GL_COLOR_ARRAY);
            }
            glDrawArrays(GL_TRIANGLES, 3 * first, 3 * (end - first));
        }
        first = end;
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisable(GL_COLOR_MATERIAL);
}

// ---------------------------------------------------------------- the scene

void VIEW_OpenGL::drawScene(MDL_Viewport* viewport, const v2& position, const v2& size)
{
    if (!viewport || !viewport->camera)
        return;
    MDL_Camera* camera = viewport->camera;
    MDL_Scene* scene = camera->scene;
    if (!scene)
        return;
    scene3D.checkedIndices.clear();

    updateBufferObjects(scene);
    MDL_Mesh* mirror = nullptr;
    VIEW_MeshArrays mirrorArrays;
    for (int32_t i = scene->meshes.count - 1; i >= 0 && !mirror; i--) {
        MDL_Mesh* m = asMesh(scene->meshes[i]);
        if (m && (m->state & STATE_VISIBLE) && m->material && m->material->mirror)
            mirror = m;
    }
    if (mirror && !VIEW_iMeshArrays(*mirror, mirrorArrays, &scene3D.checkedIndices))
        mirror = nullptr;

    // A camera whose frame cannot be inverted sees nothing.
    const bool sees = std::fabs(m33::determinant(camera->getGlobalFrame().basis)) > 0;
    setupCamera(camera, position, size);
    setupLights(scene);

    const double* bg = viewport->background;
    glEnable(GL_SCISSOR_TEST);
    glClearStencil(0);
    glDepthMask(GL_TRUE);
    if (bg[3] > 0) {
        glClearColor((GLfloat)bg[0], (GLfloat)bg[1], (GLfloat)bg[2], (GLfloat)bg[3]);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    } else {
        glClear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    }
    glDisable(GL_SCISSOR_TEST);

    if (sees) {
        VIEW_MirrorPlane plane;
        if (mirror && VIEW_iMirrorPlane(*mirror, plane)) {
            MDL_Frame saved = camera->getGlobalFrame();
            VIEW_iReflectFrame(plane, camera->globalFrame);
            setupCamera(camera, position, size);
            setupLights(scene);
            const GLdouble clip[4] = {plane.normal.x, plane.normal.y, plane.normal.z,
                                      -v3::dot(plane.normal, plane.point)};
            glDisable(GL_STENCIL_TEST);
            glClipPlane(GL_CLIP_PLANE0, clip);
            glEnable(GL_CLIP_PLANE0);
            glFrontFace(GL_CW);
            drawOpaque(scene);
            drawTransparent(scene);
            glFrontFace(GL_CCW);
            glDisable(GL_CLIP_PLANE0);
            camera->globalFrame = saved;
            setupCamera(camera, position, size);
            setupLights(scene);

            // The mirror's own depth, then the background again around it.
            glDepthMask(GL_TRUE);
            glEnable(GL_SCISSOR_TEST);
            glClear(GL_DEPTH_BUFFER_BIT);
            glDisable(GL_SCISSOR_TEST);
            glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
            glDisable(GL_BLEND);
            drawMeshDepth(mirror, mirrorArrays);
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            if (bg[3] > 0) {
                identityMatrices();
                glDisable(GL_LIGHTING);
                glDisable(GL_TEXTURE_2D);
                glColor4d(bg[0], bg[1], bg[2], bg[3]);
                glDepthFunc(GL_LESS);
                screenQuad(false, (double)0.99995f);
                loadMatrix(GL_PROJECTION, projection);
                loadMatrix(GL_MODELVIEW, modelView);
            }
        } else {
            mirror = nullptr;
        }

        glDisable(GL_STENCIL_TEST);
        drawOpaque(scene);
        const bool mirrorShows = mirror && mirror->material->diffuse[3] > 0;
        if (mirrorShows) {
            glEnable(GL_BLEND);
            drawMesh(mirror, mirrorArrays);
        }

        MDL_Lamp* lamp = scene3D.shadowLamp;
        if (lamp) {
            const bool zFail = lamp->shadowType == SHADOW_ZFAIL;
            refreshShadowVolumes(scene, lamp, zFail);
            drawShadowVolumes(scene, zFail);
            glFrontFace(GL_CCW);
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            glEnable(GL_STENCIL_TEST);
            glStencilFunc(GL_NOTEQUAL, 0, ~0u);
            glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
            const double c = lamp->shadowCoeff;
            if (viewport->shadowRendering == SHADOW_2D) {
                glDepthMask(GL_FALSE);
                glDisable(GL_DEPTH_TEST);
                if (c < 1)
                    glEnable(GL_BLEND);
                else
                    glDisable(GL_BLEND);
                glDisable(GL_LIGHTING);
                glDisable(GL_TEXTURE_2D);
                glColor4d(0, 0, 0, c);
                identityMatrices();
                screenQuad(true);
                loadMatrix(GL_PROJECTION, projection);
                loadMatrix(GL_MODELVIEW, modelView);
            } else {
                const GLenum l = GL_LIGHT0 + scene3D.shadowLight;
                GLfloat diffuse[4], specular[4];
                glGetLightfv(l, GL_DIFFUSE, diffuse);
                glGetLightfv(l, GL_SPECULAR, specular);
                const GLfloat k = (GLfloat)(1 - c);
                const GLfloat dim[4] = {k * diffuse[0], k * diffuse[1], k * diffuse[2], 1};
                const GLfloat dark[4] = {0, 0, 0, 1};
                glLightfv(l, GL_DIFFUSE, dim);
                glLightfv(l, GL_SPECULAR, dark);
                glDepthMask(GL_TRUE);
                drawOpaque(scene);
                if (mirrorShows) {
                    glEnable(GL_BLEND);
                    drawMesh(mirror, mirrorArrays);
                }
                glLightfv(l, GL_DIFFUSE, diffuse);
                glLightfv(l, GL_SPECULAR, specular);
            }
        }

        glDisable(GL_STENCIL_TEST);
        drawTransparent(scene);
    }

    drawOverlays(scene->overlays, position, size);
}
