// The 3D showcase: start up, run frames until ESC or the close box, shut down.
#include "showcase/showcase.h"

int main() {
  if (const int status = ShowcaseStartup(); status != 0) {
    ShowcaseShutdown();
    return status;
  }
  while (ShowcaseFrame()) {
  }
  return ShowcaseShutdown();
}
