// Chipmunk 7's debug build prints a two-line banner when the first space of a process is made;
// the demo keeps its console clean. This must run in a process that has made no space yet,
// hence a test program of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/chipmunk53.h"

TEST(ChipmunkBanner, NeverReachesStandardOutput) {
  testing::internal::CaptureStdout();
  std::printf("before\n");
  cpInitChipmunk();
  cpSpace* space = cpSpaceNew();
  cpSpaceFree(space);
  std::printf("after\n");
  const std::string out = testing::internal::GetCapturedStdout();
  // Output around the silenced call still arrives, in order; nothing from the library does.
  EXPECT_EQ(out, "before\nafter\n");
}
