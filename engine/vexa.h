// Every operation and record of the Vexa engine.
#pragma once

#include "runtime/runtime.h"

#include "engine/core/object_list.h"
#include "engine/core/engine_records.h"
#include "engine/core/engine_state.h"
#include "engine/core/screen.h"
#include "engine/core/input.h"
#include "engine/core/frame.h"
#include "engine/core/text_overlay.h"
#include "engine/twod/twod_records.h"
#include "engine/twod/screen_image_pass.h"
#include "engine/twod/sprite_pass.h"
#include "engine/scene/scene_records.h"
#include "engine/scene/particle_pass.h"
#include "engine/scene/mesh_pass.h"
#include "engine/scene/shadow_pass.h"
#include "engine/scene/primitive_buffer_pass.h"
#include "engine/scene/animated_mesh_pass.h"
#include "engine/scene/screen_primitive_pass.h"
