// The screen-image pass of the frame.
#pragma once

// Blits every visible ScreenImage onto the back buffer, in list order. Returns 0.
int DrawScreenImages();
