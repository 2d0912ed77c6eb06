// Every operation and record of the Vexa engine.
#pragma once

#include "runtime/runtime.h"
