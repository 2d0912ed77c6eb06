// End of program for the whole runtime. Kept apart so that programs using only images and fonts
// do not pull in the window service.
#include "runtime/runtime.h"

void EndRuntime() {
  ReleaseRuntimeObjects();
  ReleaseWindows();
}
