// Keyboard, mouse and joystick through DirectInput 8.
#include "engine/core/input.h"

#include "engine/core/engine_state.h"

namespace {

// Creates, formats, binds and acquires one device into `slot`. 1, or the failing step's number;
// a failed device is released and the slot left null.
int OpenInputDevice(REFGUID guid, const DIDATAFORMAT* format, IDirectInputDevice8A*& slot,
                    HWND window, int cooperativeFlags) {
  // A device opened before is replaced, not leaked.
  if (slot != nullptr) {
    slot->Unacquire();
    SafeRelease(slot);
  }
  if (Engine.DirectInput == nullptr ||
      FAILED(Engine.DirectInput->CreateDevice(guid, &slot, nullptr)) || slot == nullptr) {
    slot = nullptr;
    return 5;
  }
  if (FAILED(slot->SetDataFormat(format))) {
    SafeRelease(slot);
    return 4;
  }
  if (FAILED(slot->SetCooperativeLevel(window, static_cast<DWORD>(cooperativeFlags)))) {
    SafeRelease(slot);
    return 3;
  }
  if (FAILED(slot->Acquire())) {
    SafeRelease(slot);
    return 2;
  }
  return 1;
}

}  // namespace

int OpenKeyboard(HWND window, int cooperativeFlags) {
  return OpenInputDevice(GUID_SysKeyboard, &c_dfDIKeyboard, Engine.KeyboardDevice, window,
                         cooperativeFlags);
}

int OpenMouse(HWND window, int cooperativeFlags) {
  return OpenInputDevice(GUID_SysMouse, &c_dfDIMouse, Engine.MouseDevice, window, cooperativeFlags);
}

int OpenJoystick(HWND window, int cooperativeFlags) {
  return OpenInputDevice(GUID_Joystick, &c_dfDIJoystick, Engine.JoystickDevice, window,
                         cooperativeFlags);
}

int KeyDown(int key) {
  // Only scan codes and -1 have an answer; anything else would index outside the state.
  if (key < -1 || key > 255) return 0;
  if (Engine.KeyboardDevice == nullptr) return 0;
  if (FAILED(Engine.KeyboardDevice->GetDeviceState(sizeof(Engine.KeyboardState),
                                                   Engine.KeyboardState))) {
    return 0;
  }
  if (key == -1) {
    for (uint8_t state : Engine.KeyboardState) {
      if (state != 0) return 1;
    }
    return 0;
  }
  return Engine.KeyboardState[key] != 0 ? 1 : 0;
}

int PollMouse() {
  if (Engine.MouseDevice == nullptr) return 0;
  return SUCCEEDED(
             Engine.MouseDevice->GetDeviceState(sizeof(Engine.MouseState), &Engine.MouseState))
             ? 1
             : 0;
}

int PollJoystick() {
  if (Engine.JoystickDevice == nullptr) return 0;
  return SUCCEEDED(Engine.JoystickDevice->GetDeviceState(sizeof(Engine.JoystickState),
                                                         &Engine.JoystickState))
             ? 1
             : 0;
}
