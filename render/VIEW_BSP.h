// Back-to-front ordering of transparent triangles.
//
// Every frame the transparent pass inserts its triangles, in eye space, into a
// binary space partitioning tree (splitting those that straddle a node's
// plane) and walks the tree far-to-near into flat vertex arrays that it then
// draws in one go. Both the insertion and the walk are iterative: a stack of
// parallel layers makes a tree as deep as it has triangles.
#pragma once

#include "base/CTRL_Array.h"
#include "math/MDL_Frame.h"

#include <cstdint>
#include <vector>

class MDL_Material;

// One triangle of the tree.
struct VIEW_BspNode {
    v3 positions[3];        // eye space, a b c
    v3 normals[3];          // eye space
    double uvs[3][2];
    double colours[3][4];   // alpha < 0: the vertex has no colour
    v3 planeNormal;         // unit normal of the plane, pointing away from the eye
    const MDL_Material* material;   // not owned
    int32_t nearChild;      // subtree on the eye's side of the plane, -1 none
    int32_t farChild;       // subtree beyond the plane, -1 none
    int32_t nextCoplanar;   // next node lying in this node's plane, -1 none
};

struct VIEW_Rgba {
    double r, g, b, a;
};

// The renderer's transparency record: the node array (node 0 is the root) and
// the output arrays filled by the walk, one entry per vertex (materials: one
// per triangle).
struct VIEW_Transparency {
    CTRL_Array<v2> uvs;
    CTRL_Array<v3> positions;
    CTRL_Array<v3> normals;
    CTRL_Array<VIEW_Rgba> colours;
    CTRL_Array<const MDL_Material*> materials;
    CTRL_Array<VIEW_BspNode> nodes;

    // Work stacks of the insertion and of the walk, kept between frames so
    // that a frame does not allocate them again.
    struct Pending {
        int32_t node;   // where the piece starts
        int32_t side;   // -1: its near child; 0: the node itself; 1: its far child
        VIEW_BspNode piece;
    };
    std::vector<Pending> pending;
    std::vector<int32_t> walk;
};

// Points closer than this to a plane count as lying in it.
extern const double VIEW_BSP_EPSILON;

// Empties the node array (storage kept), ready for a frame's triangles.
void VIEW_iBspClear(VIEW_Transparency& rec);

// Inserts one triangle below `start` (0 for the root). The triangle's child
// and chain links are ignored. Out-of-range starts are refused (false).
bool VIEW_iBspInsert(VIEW_Transparency& rec, int32_t start, const VIEW_BspNode& triangle);

// Empties the output arrays (storage kept), ready for a walk.
void VIEW_iBspClearOutput(VIEW_Transparency& rec);

// Appends the subtree at `node` far to near to the output arrays. A node
// outside the array appends nothing.
void VIEW_iBspCollect(VIEW_Transparency& rec, int32_t node);

// Frees every array of the record (teardown).
void VIEW_iBspFree(VIEW_Transparency& rec);
