#include "engine/scene/screen_primitives.h"

#include <algorithm>

#include "engine/core/engine_state.h"

namespace {

enum Kind : int32_t {
  kPixel = 0,
  kLine = 1,
  kCircle = 2,
  kFilledCircle = 3,
  kRectangle = 4,
  kFilledRectangle = 5,
};

int Queue(int32_t kind, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
  // Without a device the pass would drop the queue unread.
  if (Engine.Device == nullptr) return 0;
  ObjectList<ScreenPrimitive>& queue = Engine.ScreenPrimitiveQueue;
  queue.Last();
  ScreenPrimitive* command = queue.Add();
  command->X1 = x1;
  command->Y1 = y1;
  command->X2 = x2;
  command->Y2 = y2;
  command->Kind = kind;
  command->Colour = colour;
  return 1;
}

}  // namespace

int QueueScreenPixel(int32_t x, int32_t y, uint32_t colour) {
  return Queue(kPixel, x, y, 0, 0, colour);
}

int QueueScreenLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
  return Queue(kLine, x1, y1, x2, y2, colour);
}

int QueueScreenCircle(int32_t cx, int32_t cy, int32_t radius, uint32_t colour) {
  if (radius < 0) return 0;
  return Queue(kCircle, cx, cy, radius, 0, colour);
}

int QueueScreenFilledCircle(int32_t cx, int32_t cy, int32_t radius, uint32_t colour) {
  if (radius < 0) return 0;
  return Queue(kFilledCircle, cx, cy, radius, 0, colour);
}

int QueueScreenRectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
  return Queue(kRectangle, x1, y1, x2, y2, colour);
}

int QueueScreenFilledRectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
  if (Engine.Device == nullptr) return 0;
  // The pass fills through ColorFill, which refuses a rectangle reaching off the surface, so the
  // rectangle is cut to the screen here. Right and bottom become exclusive.
  const int64_t left = std::max<int64_t>(std::min(x1, x2), 0);
  const int64_t top = std::max<int64_t>(std::min(y1, y2), 0);
  const int64_t right =
      std::min<int64_t>(static_cast<int64_t>(std::max(x1, x2)) + 1, Engine.ScreenWidth);
  const int64_t bottom =
      std::min<int64_t>(static_cast<int64_t>(std::max(y1, y2)) + 1, Engine.ScreenHeight);
  if (left >= right || top >= bottom) return 1;
  return Queue(kFilledRectangle, static_cast<int32_t>(left), static_cast<int32_t>(top),
               static_cast<int32_t>(right), static_cast<int32_t>(bottom), colour);
}
