// The Win32 subset this project runs on: base types, USER (windows, messages) and GDI.
#pragma once

#include "windef.h"
#include "unknwn.h"
#include "winbase.h"
#include "winuser.h"
#include "wingdi.h"
