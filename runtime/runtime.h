// The runtime services: raster images, 2D drawing, numbered fonts, random numbers, the window
// service and the event poll.
#pragma once

#include "runtime/raster_image.h"
#include "runtime/runtime_font.h"
#include "runtime/random.h"
#include "runtime/window_service.h"
