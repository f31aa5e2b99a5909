// Bake mesh gathering: host polygon objects turned into NMTriangleLists in world space. Quads are
// split into two triangles (along the diagonal that keeps both halves proper), every vertex gets a
// smooth normal from the faces around its point, texture coordinates come from the UVW tag and
// tangent frames from them. The list's box, the octree's root box, is computed last.
#pragma once

#include <cstdint>

#include "baking/NMTriangle.h"
#include "sources/HostInterface.h"

enum : int32_t {
    NM_GATHER_HIGH = 0,  // smoothing by the object's smoothing tag; fully smooth without one
    NM_GATHER_LOW = 1,   // fully smooth; needs the UVW tag
};

// Every gathering runs on `threads` host worker threads (the calling thread among them) and
// gives the same list, triangle for triangle and bit for bit, for any number of them. The thread
// handle's stop request reaches every worker.

// Empties the list and gathers one object with its UVW tag (optional in high mode). 0 for a
// missing object or, in low mode, a missing tag; when memory runs out; on a stop request.
int32_t gatherObject(NMTriangleList& list, HstObject* object, HstTag* uvw, int32_t mode, HostThreadBase* thread,
                     int32_t threads = 1);
// The same in high mode without UVW tag, keeping only the corners and vertex normals: what an
// octree needs when no bump detail is asked of it, in 40 % of the list's memory.
int32_t gatherObject(NMTriangleGeometry& geometry, HstObject* object, HostThreadBase* thread, int32_t threads = 1);

// Empties the list and gathers every visible polygon object of a copy of the object's current
// state (the object and its children), in high mode without texture coordinates. 0 when the copy
// cannot be made, when memory runs out or on a stop request.
int32_t gatherOccludersFromObject(NMTriangleList& list, HstObject* object, HostThreadBase* thread,
                                  int32_t threads = 1);
int32_t gatherOccludersFromObject(NMTriangleGeometry& geometry, HstObject* object, HostThreadBase* thread,
                                  int32_t threads = 1);

// The same for every top-level object of the document and everything below it. 0 without a
// document, when a copy cannot be made, when memory runs out or on a stop request; a document
// without objects gives an empty list and 1.
int32_t gatherOccludersFromDocument(NMTriangleList& list, HstDocument* document, HostThreadBase* thread,
                                    int32_t threads = 1);
int32_t gatherOccludersFromDocument(NMTriangleGeometry& geometry, HstDocument* document, HostThreadBase* thread,
                                    int32_t threads = 1);

// Smoothing threshold of an object in the given mode: the cosine of the smoothing angle when its
// smoothing tag limits the angle, otherwise −2 (every face counts).
double smoothingThreshold(HstObject* object, int32_t mode);
