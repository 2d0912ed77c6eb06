// DirectSound 8: device creation and cooperative level.
#pragma once

#include "windows.h"
