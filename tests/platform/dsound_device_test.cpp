// DirectSound 8's device: creation, the cooperative level, interfaces and failures.
#include <gtest/gtest.h>

#include "automation.h"
#include "dinput.h"
#include "dsound.h"
#include "windows.h"

namespace {

class DirectSound : public ::testing::Test {
 protected:
  void SetUp() override {
    AutomationUseHeadless();
    AutomationClearFaults();
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "DirectSoundTest";
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, "DirectSoundTest", "sound", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64,
                              nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    AutomationClearFaults();
    if (window_) DestroyWindow(window_);
  }
  HWND window_ = nullptr;
};

TEST_F(DirectSound, CreatesAndTakesACooperativeLevel) {
  IDirectSound8* ds = nullptr;
  EXPECT_EQ(DirectSoundCreate8(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  ASSERT_NE(ds, nullptr);
  EXPECT_EQ(ds->SetCooperativeLevel(window_, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(ds->SetCooperativeLevel(nullptr, DSSCL_EXCLUSIVE), DSERR_INVALIDPARAM);
  EXPECT_EQ(ds->SetCooperativeLevel(window_, DSSCL_EXCLUSIVE), DS_OK);
  AutomationSetFault(AutomationFault::SoundCooperativeLevel, true);
  EXPECT_TRUE(FAILED(ds->SetCooperativeLevel(window_, DSSCL_EXCLUSIVE)));
  AutomationSetFault(AutomationFault::SoundCooperativeLevel, false);
  void* iface = nullptr;
  ASSERT_EQ(ds->QueryInterface(IID_IDirectSound, &iface), S_OK);
  static_cast<IUnknown*>(iface)->Release();
  EXPECT_EQ(ds->QueryInterface(IID_IDirectInput8A, &iface), E_NOINTERFACE);
  EXPECT_EQ(ds->Release(), 0u);
}

TEST_F(DirectSound, AFailedCreationLeavesNoObject) {
  IDirectSound8* ds = reinterpret_cast<IDirectSound8*>(1);
  AutomationSetFault(AutomationFault::DirectSoundCreate, true);
  EXPECT_TRUE(FAILED(DirectSoundCreate8(nullptr, &ds, nullptr)));
  EXPECT_EQ(ds, nullptr);
}

}  // namespace
