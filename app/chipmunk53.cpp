#include "app/chipmunk53.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// Runs `work` with file descriptor 1 pointed at /dev/null. Both sides flush, so nothing printed
// before leaks into the void and nothing printed inside stays buffered for the real stdout.
template <typename Work>
void WithStdoutSilenced(Work work) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const bool redirected = saved >= 0 && sink >= 0 && dup2(sink, STDOUT_FILENO) >= 0;
  work();
  std::fflush(stdout);
  if (redirected) dup2(saved, STDOUT_FILENO);
  if (sink >= 0) close(sink);
  if (saved >= 0) close(saved);
}

void CollectShape(cpShape* shape, void* data) {
  static_cast<std::vector<cpShape*>*>(data)->push_back(shape);
}

void CollectBody(cpBody* body, void* data) {
  static_cast<std::vector<cpBody*>*>(data)->push_back(body);
}

}  // namespace

void cpInitChipmunk() {
  static bool bannerAbsorbed = false;
  if (bannerAbsorbed) return;
  bannerAbsorbed = true;
  WithStdoutSilenced([] {
    if (cpSpace* scratch = cpSpaceNew()) cpSpaceFree(scratch);
  });
}

void cpResetShapeIdCounter() {}

void cpSpaceResizeActiveHash(cpSpace* space, cpFloat dim, int count) {
  if (space == nullptr || cpSpaceIsLocked(space)) return;
  if (!std::isfinite(dim) || dim <= 0.0 || count < 1) return;
  cpSpaceUseSpatialHash(space, dim, count);
}

cpSpatialIndex* cpSpaceActiveShapes(cpSpace* space) {
  return space != nullptr ? space->dynamicShapes : nullptr;
}

void cpSpaceHashEach(cpSpatialIndex* hash, cpSpaceHashIterator func, void* data) {
  if (hash == nullptr || func == nullptr) return;
  cpSpatialIndexEach(hash, func, data);
}

void cpSpaceFreeChildren(cpSpace* space) {
  if (space == nullptr || cpSpaceIsLocked(space)) return;

  // Removing while iterating trips 7's lock assertion, so collect first.
  std::vector<cpShape*> shapes;
  std::vector<cpBody*> bodies;
  cpSpaceEachShape(space, CollectShape, &shapes);
  cpSpaceEachBody(space, CollectBody, &bodies);

  for (cpShape* shape : shapes) {
    cpSpaceRemoveShape(space, shape);
    cpShapeFree(shape);
  }

  // 7 removes a body from its array by a linear search from the front and moves the last entry
  // into the hole. Removing the first collected body, then the rest from the back, always finds
  // the body at the front: thousands of bodies go in linear rather than quadratic time. The
  // space's own static body is not a child and stays.
  const cpBody* own = cpSpaceGetStaticBody(space);
  auto release = [&](cpBody* body) {
    if (body == own) return;
    cpSpaceRemoveBody(space, body);
    cpBodyFree(body);
  };
  if (!bodies.empty()) {
    release(bodies.front());
    for (size_t i = bodies.size() - 1; i >= 1; --i) release(bodies[i]);
  }
}
