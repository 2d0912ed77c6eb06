// The runtime services: raster images, 2D drawing, numbered fonts, the window service and the
// event poll.
#pragma once

#include "runtime/window_service.h"
