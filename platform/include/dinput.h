// DirectInput 8: keyboard, mouse and joystick devices.
#pragma once

#include "windows.h"
