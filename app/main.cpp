// TileBurst: start up, run frames until ESC or the close box, shut down.
#include "app/demo.h"

int main() {
  if (const int status = DemoStartup(); status != 0) {
    DemoShutdown();
    return status;
  }
  while (DemoFrame()) {
  }
  return DemoShutdown();
}
