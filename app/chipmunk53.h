// The Chipmunk 5.3 calls the demo is written against, offered over Debian's Chipmunk 7.
//
// Calls that kept their name and arguments in 7 are used directly from the library:
//   cpSpaceNew, cpSpaceFree, cpSpaceStep, cpSpaceAddBody, cpSpaceAddShape: unchanged.
//   cpBodyNew (mass, moment): unchanged; 7 also checks that the mass is positive and finite.
//   cpCircleShapeNew (body, radius, offset): unchanged; elasticity, friction and user data
//     start at 0 / null as in 5.3.
// Record fields: 5.3 code wrote fields directly. In 7 a direct write of body->p leaves the
// body's transform and its shapes' world centre `tc` stale until the next step, so writes go
// through the setters (cpBodySetPosition, cpBodySetVelocity, cpShapeSetElasticity,
// cpShapeSetUserData, cpSpaceSetIterations). Reads may use the fields, which chipmunk_structs.h
// makes visible: cpCircleShape::tc and ::r, cpBody::p, ::v and ::a, cpShape::userData (5.3's
// `data`) and ::body.
//
// Debian builds 7 with its debug checks on: a violated assertion aborts the process. Nothing
// here or in the demo may pass a zero or non-finite mass, remove objects during an iteration,
// or free an object the space still refers to.
#pragma once

#include <chipmunk/chipmunk.h>
#include <chipmunk/chipmunk_structs.h>

// 5.3's hash iterator. In 7 a space's shape hash is a cpSpatialIndex (7's own cpSpaceHash is
// one private implementation of it) and its iterator has the same (object, user data) shape.
using cpSpaceHashIterator = cpSpatialIndexIteratorFunc;

// 5.3 required it before anything else; 7 needs no initialisation. Here it also creates and
// frees one throwaway space, once per process, with standard output sent to /dev/null, so that
// 7's two-line debug banner (printed by the first space) never reaches the console.
void cpInitChipmunk();

// 5.3 numbered shapes from a global counter; 7 numbers them per space, from 0 in every new
// space, so there is nothing to reset.
void cpResetShapeIdCounter();

// 5.3: resize the active-shape hash to `count` cells of `dim` units. 7: cpSpaceUseSpatialHash
// replaces the space's spatial indexes with hashes of these dimensions. Ignored (no change) for
// a null space, a space being stepped, or a non-finite or non-positive size.
void cpSpaceResizeActiveHash(cpSpace* space, cpFloat dim, int count);

// 5.3's `space->activeShapes`: the hash of the shapes of non-static bodies. In 7 that is the
// space's dynamic-shape index. Null for a null space.
cpSpatialIndex* cpSpaceActiveShapes(cpSpace* space);

// 5.3: call `func` (object, data) for every object in the hash. 7: cpSpatialIndexEach. Does
// nothing for a null hash or function. The callback must not add or remove shapes.
void cpSpaceHashEach(cpSpatialIndex* hash, cpSpaceHashIterator func, void* data);

// 5.3: free every body and shape added to the space (the space stays). Gone since 6.0; here
// every shape and body is collected first, then each shape is removed and freed, then each body,
// so nothing is freed while the space still refers to it (5.3 freed without removing, which is a
// use-after-free in 7). Does nothing for a null space or a space being stepped.
void cpSpaceFreeChildren(cpSpace* space);
