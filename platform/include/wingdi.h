// GDI: DIB sections, device contexts, fonts, brushes, text output.
#pragma once

#include "windef.h"
