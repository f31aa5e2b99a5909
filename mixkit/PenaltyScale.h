// How much the decimator's penalties weigh at one candidate.
//
// A penalty (valence, compactness, flip) is a number set by the user; the quadric error it is
// added to grows with the size of the polygons around the merged point (with area weighting, as
// area x squared distance: the fourth power of their size). A fixed penalty would outweigh the
// geometry on a dense mesh, where every polygon is tiny, and vanish against it on a coarse one. So
// the penalties are given for a patch of PENALTY_REFERENCE_AREA (frame units) and scaled with the
// area that the candidate's summed quadric covers (the polygons around both ends, as the quadric
// areas sum them), raised to the power of length that the error has under the weighting policy.
// Penalty and error then compare as shapes, not sizes: the same surface at any density, and at any
// unit, is reduced alike.
#pragma once

#include <cstdint>

// The quadric area at which a penalty counts at its face value. Chosen with the reduction quality
// benchmark; see PenaltyScale.cpp.
extern const double PENALTY_REFERENCE_AREA;

// The factor that a penalty is multiplied by at a candidate whose summed quadric covers `area`
// (frame units), under `weightingPolicy`: (area / PENALTY_REFERENCE_AREA) to the power 2 for Area
// weighting (errors are area x squared distance), 3 for RawNormals (unnormalised planes add a
// second area) and 1 for the rest (errors are angle-weighted or plain squared distances, or are
// divided by the area). An area below what float points resolve in the frame (also one that is
// not positive) counts as that least area (see PenaltyScale.cpp), so a penalty that is set never
// vanishes nor sinks into the rounding of the errors.
double penaltyScale(double area, int32_t weightingPolicy);
