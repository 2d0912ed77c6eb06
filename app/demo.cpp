// The program: start-up, one frame of the loop, shutdown.
#include "app/demo.h"

int32_t DemoStarted = 0;
int32_t LastWindowEvent = 0;
