// The frame: render passes in their fixed order, presentation, timing and the frame rate.
#pragma once

#include <cstdint>

// Runs every render pass for what was queued this frame. Returns 0.
int RenderWorld();
// Polls the pointing devices, measures the frame, presents, and resets a lost device. Returns 0.
int Flip();
// Frames per second, refreshed once more than half a second has been counted. Call once a frame.
int FrameRate();
// Steps of RenderWorld.
void BeginFrame();
void EndFrame();
void SkyBoxPass();

// Observation of the frame's pass order: when set, RenderWorld reports each pass by name just
// before running it. For tests and tools; null (the default) costs one comparison per pass.
using FramePassObserver = void (*)(const char* pass);
void SetFramePassObserver(FramePassObserver observer);
// Reports a step inside a pass (as "Pass:step") to the observer, for passes with phases.
void ReportFramePass(const char* pass);
