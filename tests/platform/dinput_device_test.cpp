// DirectInput 8 on SDL2 (standard formats, devices, error codes, keyboard with automation,
// mouse motion, a virtual joystick, fault injection).
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstddef>
#include <cstring>
#include <set>

#include "automation.h"
#include "platform/win32/com_object.h"
#include "dinput.h"
#include "windows.h"

namespace {

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  return DefWindowProcA(h, m, w, l);
}

HWND MakeWindow() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = "DirectInputTest";
    registered = RegisterClassA(&wc) != 0;
  }
  return CreateWindowExA(0, "DirectInputTest", "", WS_CAPTION, 0, 0, 100, 100, nullptr, nullptr,
                         nullptr, nullptr);
}

void DrainMessages() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}

class DirectInput : public ::testing::Test {
 protected:
  void SetUp() override {
    AutomationUseHeadless();
    AutomationClearFaults();
    AutomationReleaseAllKeys();
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
    window_ = MakeWindow();
    ASSERT_NE(window_, nullptr);
    ASSERT_EQ(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                 reinterpret_cast<void**>(&di_), nullptr),
              DI_OK);
    ASSERT_NE(di_, nullptr);
  }
  void TearDown() override {
    AutomationClearFaults();
    AutomationReleaseAllKeys();
    SafeRelease(di_);
    DestroyWindow(window_);
    DrainMessages();
  }
  // A device opened the way the engine opens it.
  IDirectInputDevice8A* Open(REFGUID guid, const DIDATAFORMAT* format, DWORD level) {
    IDirectInputDevice8A* device = nullptr;
    if (di_->CreateDevice(guid, &device, nullptr) != DI_OK) return nullptr;
    if (device->SetDataFormat(format) != DI_OK ||
        device->SetCooperativeLevel(window_, level) != DI_OK || device->Acquire() != DI_OK) {
      device->Release();
      return nullptr;
    }
    return device;
  }

  IDirectInput8A* di_ = nullptr;
  HWND window_ = nullptr;
};

// --- The standard data formats -------------------------------------------------------------------

TEST(DirectInputFormats, StandardFormatsHaveTheDocumentedSizesAndObjects) {
  EXPECT_EQ(sizeof(DIMOUSESTATE), 16u);
  EXPECT_EQ(sizeof(DIJOYSTATE), 80u);
  const struct {
    const DIDATAFORMAT* format;
    DWORD size, objects, flags;
  } expected[] = {{&c_dfDIKeyboard, 256, 256, DIDF_RELAXIS},
                  {&c_dfDIMouse, 16, 7, DIDF_RELAXIS},
                  {&c_dfDIJoystick, 80, 44, DIDF_ABSAXIS}};
  for (const auto& e : expected) {
    EXPECT_EQ(e.format->dwSize, sizeof(DIDATAFORMAT));
    EXPECT_EQ(e.format->dwObjSize, sizeof(DIOBJECTDATAFORMAT));
    EXPECT_EQ(e.format->dwDataSize, e.size);
    EXPECT_EQ(e.format->dwNumObjs, e.objects);
    EXPECT_EQ(e.format->dwFlags, e.flags);
    ASSERT_NE(e.format->rgodf, nullptr);
    // Every object lies inside the state; axes and hats are 4-byte aligned; none overlap.
    std::set<DWORD> offsets;
    for (DWORD i = 0; i < e.format->dwNumObjs; ++i) {
      const DIOBJECTDATAFORMAT& o = e.format->rgodf[i];
      DWORD type = o.dwType & 0xFF;
      DWORD width = (type & DIDFT_AXIS) || (type & DIDFT_POV) ? 4 : 1;
      EXPECT_LE(o.dwOfs + width, e.size) << i;
      if (width == 4) {
        EXPECT_EQ(o.dwOfs % 4, 0u) << i;
      }
      EXPECT_TRUE(offsets.insert(o.dwOfs).second) << "offset reused by object " << i;
    }
  }
  // Keyboard object i is the byte of scan code i.
  for (DWORD i = 0; i < 256; ++i) EXPECT_EQ(c_dfDIKeyboard.rgodf[i].dwOfs, i);
  EXPECT_EQ(c_dfDIMouse.rgodf[3].dwOfs, offsetof(DIMOUSESTATE, rgbButtons));
  EXPECT_EQ(c_dfDIJoystick.rgodf[43].dwOfs, offsetof(DIJOYSTATE, rgbButtons) + 31);
  EXPECT_EQ(*c_dfDIJoystick.rgodf[0].pguid, GUID_XAxis);
}

// --- Creation ------------------------------------------------------------------------------------

TEST(DirectInputCreate, RejectsBadArgumentsAndHonoursItsFault) {
  AutomationClearFaults();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, nullptr, nullptr),
            DIERR_INVALIDPARAM);
  EXPECT_EQ(DirectInput8Create(nullptr, 0x0700, IID_IDirectInput8A, &out, nullptr),
            DIERR_OLDDIRECTINPUTVERSION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(DirectInput8Create(nullptr, 0x0900, IID_IDirectInput8A, &out, nullptr),
            DIERR_BETADIRECTINPUTVERSION);
  EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, GUID_SysMouse, &out, nullptr),
            DIERR_NOINTERFACE);
  int outer;
  EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &out,
                               reinterpret_cast<LPUNKNOWN>(&outer)),
            DIERR_NOAGGREGATION);
  AutomationSetFault(AutomationFault::DirectInputCreate, true);
  EXPECT_TRUE(
      FAILED(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &out, nullptr)));
  EXPECT_EQ(out, nullptr);
  AutomationClearFaults();
}

TEST_F(DirectInput, DevicesExistForKeyboardAndMouseAndFaultsRemoveThem) {
  IDirectInputDevice8A* device = nullptr;
  ASSERT_EQ(di_->CreateDevice(GUID_SysKeyboard, &device, nullptr), DI_OK);
  // The device holds its DirectInput object: the count is ours, the device's and this call's.
  EXPECT_EQ(di_->AddRef(), 3u);
  di_->Release();
  DIDEVCAPS caps{};
  caps.dwSize = sizeof caps;
  ASSERT_EQ(device->GetCapabilities(&caps), DI_OK);
  EXPECT_EQ(caps.dwDevType & 0xFF, static_cast<DWORD>(DI8DEVTYPE_KEYBOARD));
  void* iface = nullptr;
  ASSERT_EQ(device->QueryInterface(IID_IDirectInputDevice8A, &iface), S_OK);
  static_cast<IUnknown*>(iface)->Release();
  device->Release();
  EXPECT_EQ(di_->AddRef(), 2u);
  di_->Release();

  ASSERT_EQ(di_->CreateDevice(GUID_SysMouse, &device, nullptr), DI_OK);
  device->Release();
  EXPECT_EQ(di_->CreateDevice(GUID_XAxis, &device, nullptr), DIERR_DEVICENOTREG);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(di_->CreateDevice(GUID_SysMouse, nullptr, nullptr), DIERR_INVALIDPARAM);

  const struct {
    AutomationFault fault;
    const GUID* guid;
  } faults[] = {{AutomationFault::KeyboardDevice, &GUID_SysKeyboard},
                {AutomationFault::MouseDevice, &GUID_SysMouse}};
  for (const auto& f : faults) {
    AutomationSetFault(f.fault, true);
    EXPECT_TRUE(FAILED(di_->CreateDevice(*f.guid, &device, nullptr)));
    EXPECT_EQ(device, nullptr);
    AutomationSetFault(f.fault, false);
    ASSERT_EQ(di_->CreateDevice(*f.guid, &device, nullptr), DI_OK);
    device->Release();
  }
}

TEST_F(DirectInput, NoJoystickMeansNoJoystickDevice) {
  SDL_InitSubSystem(SDL_INIT_JOYSTICK);
  if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a joystick is attached";
  IDirectInputDevice8A* device = reinterpret_cast<IDirectInputDevice8A*>(1);
  EXPECT_TRUE(FAILED(di_->CreateDevice(GUID_Joystick, &device, nullptr)));
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(di_->GetDeviceStatus(GUID_Joystick), DI_NOTATTACHED);
  int joysticks = 0;
  di_->EnumDevices(
      DI8DEVCLASS_GAMECTRL,
      [](LPCDIDEVICEINSTANCEA, LPVOID ref) -> BOOL {
        ++*static_cast<int*>(ref);
        return DIENUM_CONTINUE;
      },
      &joysticks, DIEDFL_ATTACHEDONLY);
  EXPECT_EQ(joysticks, 0);
}

// --- The call sequence and its error codes -------------------------------------------------------

TEST_F(DirectInput, SetUpStepsReportTheDocumentedErrors) {
  IDirectInputDevice8A* keyboard = nullptr;
  ASSERT_EQ(di_->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr), DI_OK);
  BYTE state[256];

  EXPECT_EQ(keyboard->GetDeviceState(sizeof state, state), DIERR_NOTACQUIRED);
  EXPECT_EQ(keyboard->Acquire(), DIERR_INVALIDPARAM);  // no data format yet
  EXPECT_EQ(keyboard->SetDataFormat(nullptr), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIMouse), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIJoystick), DIERR_INVALIDPARAM);
  DIDATAFORMAT broken = c_dfDIKeyboard;
  broken.dwSize = 8;
  EXPECT_EQ(keyboard->SetDataFormat(&broken), DIERR_INVALIDPARAM);
  ASSERT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DI_OK);

  EXPECT_EQ(keyboard->SetCooperativeLevel(window_,
                                          DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_BACKGROUND),
            DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->SetCooperativeLevel(window_, DISCL_NONEXCLUSIVE), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->SetCooperativeLevel(window_, DISCL_EXCLUSIVE | DISCL_BACKGROUND),
            DIERR_UNSUPPORTED);
  EXPECT_TRUE(FAILED(keyboard->SetCooperativeLevel(reinterpret_cast<HWND>(0x1234),
                                                   DISCL_NONEXCLUSIVE | DISCL_FOREGROUND)));
  ASSERT_EQ(keyboard->SetCooperativeLevel(window_, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);

  ASSERT_EQ(keyboard->Acquire(), DI_OK);
  EXPECT_EQ(keyboard->Acquire(), DI_NOEFFECT);
  EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DIERR_ACQUIRED);
  EXPECT_EQ(keyboard->GetDeviceState(16, state), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->GetDeviceState(257, state), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->GetDeviceState(sizeof state, nullptr), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->GetDeviceState(sizeof state, state), DI_OK);

  ASSERT_EQ(keyboard->Unacquire(), DI_OK);
  EXPECT_EQ(keyboard->Unacquire(), DI_NOEFFECT);
  EXPECT_EQ(keyboard->GetDeviceState(sizeof state, state), DIERR_NOTACQUIRED);
  EXPECT_EQ(keyboard->Poll(), DIERR_NOTACQUIRED);
  keyboard->Release();

  IDirectInputDevice8A* mouse = nullptr;
  ASSERT_EQ(di_->CreateDevice(GUID_SysMouse, &mouse, nullptr), DI_OK);
  EXPECT_EQ(mouse->SetDataFormat(&c_dfDIKeyboard), DIERR_INVALIDPARAM);
  ASSERT_EQ(mouse->SetDataFormat(&c_dfDIMouse), DI_OK);
  ASSERT_EQ(mouse->SetCooperativeLevel(window_, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);
  ASSERT_EQ(mouse->Acquire(), DI_OK);
  DIMOUSESTATE ms;
  EXPECT_EQ(mouse->GetDeviceState(sizeof(DIJOYSTATE), &ms), DIERR_INVALIDPARAM);
  EXPECT_EQ(mouse->GetDeviceState(sizeof ms, &ms), DI_OK);
  mouse->Release();
}

TEST_F(DirectInput, ForegroundDevicesNeedTheirWindowFocused) {
  HWND other = MakeWindow();
  ASSERT_NE(other, nullptr);
  IDirectInputDevice8A* mouse = nullptr;
  ASSERT_EQ(di_->CreateDevice(GUID_SysMouse, &mouse, nullptr), DI_OK);
  ASSERT_EQ(mouse->SetDataFormat(&c_dfDIMouse), DI_OK);
  EXPECT_EQ(mouse->SetCooperativeLevel(window_, DISCL_EXCLUSIVE | DISCL_BACKGROUND),
            DIERR_UNSUPPORTED);
  ASSERT_EQ(mouse->SetCooperativeLevel(window_, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DI_OK);
  SetFocus(other);
  EXPECT_EQ(mouse->Acquire(), DIERR_OTHERAPPHASPRIO);
  SetFocus(window_);
  EXPECT_EQ(mouse->Acquire(), DI_OK);
  EXPECT_EQ(mouse->SetCooperativeLevel(window_, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND),
            DIERR_ACQUIRED);
  mouse->Release();
  SetFocus(nullptr);
  DestroyWindow(other);
}

// --- Keyboard state ------------------------------------------------------------------------------

TEST_F(DirectInput, HeldKeysShowInTheStateAndInTheMessageQueue) {
  IDirectInputDevice8A* keyboard =
      Open(GUID_SysKeyboard, &c_dfDIKeyboard, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND);
  ASSERT_NE(keyboard, nullptr);
  DrainMessages();
  BYTE state[256];
  ASSERT_EQ(keyboard->GetDeviceState(sizeof state, state), DI_OK);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(state[i], 0) << i;

  AutomationSetKey(DIK_SPACE, true);
  AutomationSetKey(DIK_RCONTROL, true);
  ASSERT_EQ(keyboard->GetDeviceState(sizeof state, state), DI_OK);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(state[i], (i == DIK_SPACE || i == DIK_RCONTROL) ? 0x80 : 0) << i;
  // Reading does not take the key messages away from the queue.
  ASSERT_EQ(keyboard->GetDeviceState(sizeof state, state), DI_OK);
  MSG m{};
  int downs = 0;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message != WM_KEYDOWN) continue;
    ++downs;
    EXPECT_EQ(m.hwnd, window_);
  }
  EXPECT_EQ(downs, 2);

  AutomationSetKey(DIK_SPACE, false);
  ASSERT_EQ(keyboard->GetDeviceState(sizeof state, state), DI_OK);
  EXPECT_EQ(state[DIK_SPACE], 0);
  EXPECT_EQ(state[DIK_RCONTROL], 0x80);
  AutomationReleaseAllKeys();
  ASSERT_EQ(keyboard->GetDeviceState(sizeof state, state), DI_OK);
  EXPECT_EQ(state[DIK_RCONTROL], 0);
  keyboard->Release();
}

// --- Mouse motion --------------------------------------------------------------------------------

TEST_F(DirectInput, MouseReportsMotionSinceTheLastRead) {
  IDirectInputDevice8A* mouse =
      Open(GUID_SysMouse, &c_dfDIMouse, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND);
  ASSERT_NE(mouse, nullptr);
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.xrel = 5;
  e.motion.yrel = -3;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  e.motion.xrel = 2;
  e.motion.yrel = 1;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  SDL_Event w{};
  w.type = SDL_MOUSEWHEEL;
  w.wheel.y = 1;
  ASSERT_EQ(SDL_PushEvent(&w), 1);

  DIMOUSESTATE state{};
  ASSERT_EQ(mouse->GetDeviceState(sizeof state, &state), DI_OK);
  EXPECT_EQ(state.lX, 7);
  EXPECT_EQ(state.lY, -2);
  EXPECT_EQ(state.lZ, WHEEL_DELTA);
  ASSERT_EQ(mouse->GetDeviceState(sizeof state, &state), DI_OK);
  EXPECT_EQ(state.lX, 0);
  EXPECT_EQ(state.lY, 0);
  EXPECT_EQ(state.lZ, 0);
  mouse->Release();
}

// --- A joystick: SDL's virtual joystick stands in for a real one ---------------------------------

TEST_F(DirectInput, VirtualJoystickFillsTheJoystickState) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
  int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 3, 4, 1);
  ASSERT_GE(index, 0) << SDL_GetError();
  if (index != 0) {
    SDL_JoystickDetachVirtual(index);
    GTEST_SKIP() << "a real joystick comes first";
  }
  SDL_Joystick* stick = SDL_JoystickOpen(index);
  ASSERT_NE(stick, nullptr);

  IDirectInputDevice8A* joystick =
      Open(GUID_Joystick, &c_dfDIJoystick, DISCL_EXCLUSIVE | DISCL_BACKGROUND);
  ASSERT_NE(joystick, nullptr);
  SDL_JoystickSetVirtualAxis(stick, 0, -32768);
  SDL_JoystickSetVirtualAxis(stick, 1, 32767);
  SDL_JoystickSetVirtualButton(stick, 2, SDL_PRESSED);
  SDL_JoystickSetVirtualHat(stick, 0, SDL_HAT_RIGHT);

  DIJOYSTATE state{};
  ASSERT_EQ(joystick->Poll(), DI_OK);
  ASSERT_EQ(joystick->GetDeviceState(sizeof state, &state), DI_OK);
  EXPECT_EQ(state.lX, 0);
  EXPECT_EQ(state.lY, 65535);
  EXPECT_NEAR(state.lZ, 32768, 1);  // resting axis in the middle of the default range
  EXPECT_EQ(state.rgbButtons[2], 0x80);
  EXPECT_EQ(state.rgbButtons[0], 0);
  EXPECT_EQ(state.rgdwPOV[0], 9000u);
  EXPECT_EQ(state.rgdwPOV[1], 0xFFFFFFFFu);

  // A range set before acquisition rescales the axes.
  joystick->Unacquire();
  DIPROPRANGE range{};
  range.diph.dwSize = sizeof range;
  range.diph.dwHeaderSize = sizeof range.diph;
  range.diph.dwHow = DIPH_DEVICE;
  range.lMin = -1000;
  range.lMax = 1000;
  ASSERT_EQ(joystick->SetProperty(DIPROP_RANGE, &range.diph), DI_OK);
  range.lMin = 5;
  range.lMax = 5;
  EXPECT_EQ(joystick->SetProperty(DIPROP_RANGE, &range.diph), DIERR_INVALIDPARAM);
  ASSERT_EQ(joystick->Acquire(), DI_OK);
  ASSERT_EQ(joystick->GetDeviceState(sizeof state, &state), DI_OK);
  EXPECT_EQ(state.lX, -1000);
  EXPECT_EQ(state.lY, 1000);

  joystick->Release();
  SDL_JoystickClose(stick);
  SDL_JoystickDetachVirtual(index);

  // The joystick fault removes the device even when one is attached.
  index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 2, 0);
  ASSERT_GE(index, 0);
  AutomationSetFault(AutomationFault::JoystickDevice, true);
  IDirectInputDevice8A* device = nullptr;
  EXPECT_TRUE(FAILED(di_->CreateDevice(GUID_Joystick, &device, nullptr)));
  EXPECT_EQ(device, nullptr);
  SDL_JoystickDetachVirtual(index);
}

}  // namespace
