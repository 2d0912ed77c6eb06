// USER: window classes, windows, the message queue, system metrics.
#pragma once

#include "windef.h"
