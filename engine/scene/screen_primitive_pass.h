// The screen-primitive pass, the last drawing pass of the frame.
#pragma once

// Draws the commands of ScreenPrimitiveQueue into the locked back buffer and empties the queue.
void DrawScreenPrimitives();
