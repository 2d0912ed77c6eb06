// Kernel services: module handles, sleeping, time, MulDiv.
#pragma once

#include "windef.h"

// The interrupt time: a monotonic count of 100 ns units (Windows 10 realtimeapiset).
void QueryInterruptTime(PULONGLONG lpInterruptTime);
