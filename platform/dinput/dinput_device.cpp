// DirectInput 8 on SDL2: the keyboard, the mouse and SDL's first joystick, read as immediate
// device state.
//
// GetDeviceState gives the freshest state: it lets SDL gather pending input (SDL_PumpEvents),
// which reads the devices without taking events away from the message queue. Mouse motion and
// wheel are summed by an SDL event watch, which sees every event as it enters SDL's queue.
// Buffered data (GetDeviceData), force feedback and action maps are not supported. SDL tracks
// the keyboard only for its own focused window, so a DISCL_BACKGROUND keyboard sees physical keys
// only while one of our windows has the focus; keys held through automation it always sees.
#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "win32/com_object.h"
#include "automation.h"
#include "dinput.h"
#include "win32/win32_internal.h"
#include "win32/win32_keys.h"

namespace {

constexpr HRESULT kInvalidHandle = static_cast<HRESULT>(0x80070006);  // E_HANDLE

enum class Kind { Keyboard, Mouse, Joystick };

DWORD StateSize(Kind kind) {
  switch (kind) {
    case Kind::Keyboard:
      return 256;
    case Kind::Mouse:
      return sizeof(DIMOUSESTATE);
    default:
      return sizeof(DIJOYSTATE);
  }
}

// Small integers stand for property GUIDs (DIPROP_*): compare addresses, never read them.
uintptr_t PropertyId(REFGUID guid) {
  uintptr_t p = reinterpret_cast<uintptr_t>(&guid);
  return p < 0x10000 ? p : 0;
}

// --- Mouse motion, summed as SDL receives it -----------------------------------------------------
struct MouseMotion {
  std::mutex lock;
  long dx = 0, dy = 0, wheel = 0;
  bool watching = false;
};
MouseMotion g_motion;

int SDLCALL WatchMouse(void*, SDL_Event* e) {
  std::lock_guard<std::mutex> guard(g_motion.lock);
  if (e->type == SDL_MOUSEMOTION) {
    g_motion.dx += e->motion.xrel;
    g_motion.dy += e->motion.yrel;
  } else if (e->type == SDL_MOUSEWHEEL) {
    int sign = e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
    g_motion.wheel += sign * e->wheel.y * WHEEL_DELTA;
  }
  return 1;
}

void StartMouseWatch() {
  {
    std::lock_guard<std::mutex> guard(g_motion.lock);
    if (g_motion.watching) return;
    g_motion.watching = true;
  }
  // Outside our lock: SDL calls WatchMouse with its own lock held, so taking the two the other
  // way round here could deadlock against an event pushed from another thread.
  SDL_AddEventWatch(WatchMouse, nullptr);
}

void TakeMouseMotion(long* dx, long* dy, long* wheel) {
  std::lock_guard<std::mutex> guard(g_motion.lock);
  *dx = g_motion.dx;
  *dy = g_motion.dy;
  *wheel = g_motion.wheel;
  g_motion.dx = g_motion.dy = g_motion.wheel = 0;
}

void PumpInput() {
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_PumpEvents();
}

// --- Joysticks -----------------------------------------------------------------------------------
bool EnsureJoysticks() {
  // DISCL_BACKGROUND devices are read whether or not one of our windows has the focus.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  if (SDL_WasInit(SDL_INIT_JOYSTICK)) return true;
  return SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
}

// Joystick instance GUIDs: GUID_Joystick for the first, then the last byte counts up.
GUID JoystickGuid(int index) {
  GUID g = GUID_Joystick;
  g.Data4[7] = static_cast<uint8_t>(index);
  return g;
}

int JoystickIndexOf(REFGUID guid) {
  if (!EnsureJoysticks()) return -1;
  int count = std::min(SDL_NumJoysticks(), 256);
  for (int i = 0; i < count; ++i)
    if (guid == JoystickGuid(i)) return i;
  return -1;
}

DWORD PovOfHat(Uint8 hat) {
  switch (hat) {
    case SDL_HAT_UP:
      return 0;
    case SDL_HAT_RIGHTUP:
      return 4500;
    case SDL_HAT_RIGHT:
      return 9000;
    case SDL_HAT_RIGHTDOWN:
      return 13500;
    case SDL_HAT_DOWN:
      return 18000;
    case SDL_HAT_LEFTDOWN:
      return 22500;
    case SDL_HAT_LEFT:
      return 27000;
    case SDL_HAT_LEFTUP:
      return 31500;
    default:
      return 0xFFFFFFFF;  // centred
  }
}

class DirectInput8;

// --- Devices -------------------------------------------------------------------------------------
class Device final : public ComObject<IDirectInputDevice8A> {
 public:
  Device(DirectInput8* parent, Kind kind, SDL_Joystick* joystick, GUID instance);
  ~Device() override;

  HRESULT STDMETHODCALLTYPE GetCapabilities(LPDIDEVCAPS caps) override {
    if (!caps || caps->dwSize != sizeof(DIDEVCAPS)) return DIERR_INVALIDPARAM;
    std::memset(caps, 0, sizeof(DIDEVCAPS));
    caps->dwSize = sizeof(DIDEVCAPS);
    caps->dwFlags = DIDC_ATTACHED;
    caps->dwDevType = DeviceType();
    switch (kind_) {
      case Kind::Keyboard:
        caps->dwButtons = 128;
        break;
      case Kind::Mouse:
        caps->dwAxes = 3;
        caps->dwButtons = 4;
        break;
      case Kind::Joystick:
        caps->dwFlags |= DIDC_POLLEDDEVICE;
        caps->dwAxes = static_cast<DWORD>(std::clamp(SDL_JoystickNumAxes(joystick_), 0, 8));
        caps->dwButtons = static_cast<DWORD>(std::clamp(SDL_JoystickNumButtons(joystick_), 0, 32));
        caps->dwPOVs = static_cast<DWORD>(std::clamp(SDL_JoystickNumHats(joystick_), 0, 4));
        break;
    }
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA, LPVOID, DWORD) override {
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetProperty(REFGUID property, LPDIPROPHEADER header) override {
    if (!header || header->dwHeaderSize != sizeof(DIPROPHEADER)) return DIERR_INVALIDPARAM;
    switch (PropertyId(property)) {
      case 1:  // DIPROP_BUFFERSIZE
        if (header->dwSize != sizeof(DIPROPDWORD)) return DIERR_INVALIDPARAM;
        reinterpret_cast<DIPROPDWORD*>(header)->dwData = bufferSize_;
        return DI_OK;
      case 2:  // DIPROP_AXISMODE
        if (header->dwSize != sizeof(DIPROPDWORD)) return DIERR_INVALIDPARAM;
        reinterpret_cast<DIPROPDWORD*>(header)->dwData =
            absoluteAxes_ ? DIPROPAXISMODE_ABS : DIPROPAXISMODE_REL;
        return DI_OK;
      case 4: {  // DIPROP_RANGE
        if (kind_ != Kind::Joystick || header->dwSize != sizeof(DIPROPRANGE))
          return DIERR_UNSUPPORTED;
        auto* range = reinterpret_cast<DIPROPRANGE*>(header);
        range->lMin = rangeMin_;
        range->lMax = rangeMax_;
        return DI_OK;
      }
      default:
        return DIERR_UNSUPPORTED;
    }
  }
  HRESULT STDMETHODCALLTYPE SetProperty(REFGUID property, LPCDIPROPHEADER header) override {
    if (!header || header->dwHeaderSize != sizeof(DIPROPHEADER)) return DIERR_INVALIDPARAM;
    switch (PropertyId(property)) {
      case 1:  // DIPROP_BUFFERSIZE: kept, though no data is buffered
        if (header->dwSize != sizeof(DIPROPDWORD)) return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_ACQUIRED;
        bufferSize_ = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
        return DI_OK;
      case 2:  // DIPROP_AXISMODE
        if (header->dwSize != sizeof(DIPROPDWORD)) return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_ACQUIRED;
        absoluteAxes_ = reinterpret_cast<const DIPROPDWORD*>(header)->dwData == DIPROPAXISMODE_ABS;
        return DI_OK;
      case 4: {  // DIPROP_RANGE, for every axis at once
        if (kind_ != Kind::Joystick) return DIERR_UNSUPPORTED;
        if (header->dwSize != sizeof(DIPROPRANGE)) return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_ACQUIRED;
        const auto* range = reinterpret_cast<const DIPROPRANGE*>(header);
        if (range->lMin >= range->lMax) return DIERR_INVALIDPARAM;
        rangeMin_ = range->lMin;
        rangeMax_ = range->lMax;
        return DI_OK;
      }
      case 5:  // DIPROP_DEADZONE and DIPROP_SATURATION are accepted and not applied
      case 6:
        if (header->dwSize != sizeof(DIPROPDWORD)) return DIERR_INVALIDPARAM;
        return reinterpret_cast<const DIPROPDWORD*>(header)->dwData <= 10000 ? DI_OK
                                                                             : DIERR_INVALIDPARAM;
      default:
        return DIERR_UNSUPPORTED;
    }
  }
  HRESULT STDMETHODCALLTYPE Acquire() override {
    if (!formatSet_) return DIERR_INVALIDPARAM;
    if (acquired_) return DI_NOEFFECT;
    // A foreground device needs its window to have the focus (when any window has it).
    if ((cooperation_ & DISCL_FOREGROUND)) {
      HWND focus = GetForegroundWindow();
      if (focus && focus != window_) return DIERR_OTHERAPPHASPRIO;
    }
    acquired_ = true;
    if (kind_ == Kind::Mouse) {
      long dx, dy, wheel;
      StartMouseWatch();
      PumpInput();
      TakeMouseMotion(&dx, &dy, &wheel);  // motion before acquisition does not count
    }
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE Unacquire() override {
    if (!acquired_) return DI_NOEFFECT;
    acquired_ = false;
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) override {
    if (!data) return DIERR_INVALIDPARAM;
    if (!acquired_) return DIERR_NOTACQUIRED;
    if (size != StateSize(kind_)) return DIERR_INVALIDPARAM;
    switch (kind_) {
      case Kind::Keyboard:
        ReadKeyboard(static_cast<uint8_t*>(data));
        break;
      case Kind::Mouse:
        ReadMouse(static_cast<DIMOUSESTATE*>(data));
        break;
      case Kind::Joystick:
        ReadJoystick(static_cast<DIJOYSTATE*>(data));
        break;
    }
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDeviceData(DWORD, LPDIDEVICEOBJECTDATA, LPDWORD, DWORD) override {
    return acquired_ ? DIERR_NOTBUFFERED : DIERR_NOTACQUIRED;
  }
  HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) override {
    if (!format) return DIERR_INVALIDPARAM;
    if (acquired_) return DIERR_ACQUIRED;
    // Only the layout of this device's standard state is supported.
    if (format->dwSize != sizeof(DIDATAFORMAT) || format->dwObjSize != sizeof(DIOBJECTDATAFORMAT) ||
        format->dwDataSize != StateSize(kind_) || (format->dwNumObjs != 0 && !format->rgodf))
      return DIERR_INVALIDPARAM;
    DWORD axisMode = format->dwFlags & (DIDF_ABSAXIS | DIDF_RELAXIS);
    if (axisMode == (DIDF_ABSAXIS | DIDF_RELAXIS)) return DIERR_INVALIDPARAM;
    absoluteAxes_ = axisMode == DIDF_ABSAXIS;
    formatSet_ = true;
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE SetEventNotification(HANDLE) override { return DIERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD flags) override {
    DWORD exclusive = flags & (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE);
    DWORD ground = flags & (DISCL_FOREGROUND | DISCL_BACKGROUND);
    if (flags & ~static_cast<DWORD>(DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND |
                                    DISCL_BACKGROUND | DISCL_NOWINKEY))
      return DIERR_INVALIDPARAM;
    if ((exclusive != DISCL_EXCLUSIVE && exclusive != DISCL_NONEXCLUSIVE) ||
        (ground != DISCL_FOREGROUND && ground != DISCL_BACKGROUND))
      return DIERR_INVALIDPARAM;
    if (acquired_) return DIERR_ACQUIRED;
    // The system keyboard and mouse cannot be taken exclusively in the background.
    if (kind_ != Kind::Joystick && exclusive == DISCL_EXCLUSIVE && ground == DISCL_BACKGROUND)
      return DIERR_UNSUPPORTED;
    // Only non-exclusive background access may go without a window.
    bool needsWindow = !(exclusive == DISCL_NONEXCLUSIVE && ground == DISCL_BACKGROUND);
    if (window ? !IsWindow(window) : needsWindow) return kInvalidHandle;
    window_ = window;
    cooperation_ = flags;
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE GetObjectInfo(LPDIDEVICEOBJECTINSTANCEA, DWORD, DWORD) override {
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetDeviceInfo(LPDIDEVICEINSTANCEA info) override {
    if (!info || info->dwSize != sizeof(DIDEVICEINSTANCEA)) return DIERR_INVALIDPARAM;
    FillInstance(info, kind_, instance_, joystick_ ? SDL_JoystickName(joystick_) : nullptr);
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE RunControlPanel(HWND, DWORD) override { return DI_OK; }
  HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE, DWORD version, REFGUID) override {
    return version == DIRECTINPUT_VERSION ? DI_OK : DIERR_OLDDIRECTINPUTVERSION;
  }
  HRESULT STDMETHODCALLTYPE CreateEffect(REFGUID, LPCDIEFFECT, LPDIRECTINPUTEFFECT* out,
                                         LPUNKNOWN) override {
    if (out) *out = nullptr;
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE EnumEffects(LPDIENUMEFFECTSCALLBACKA, LPVOID, DWORD) override {
    return DI_OK;  // no effects to list
  }
  HRESULT STDMETHODCALLTYPE GetEffectInfo(LPDIEFFECTINFOA, REFGUID) override {
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetForceFeedbackState(LPDWORD) override { return DIERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE SendForceFeedbackCommand(DWORD) override { return DIERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumCreatedEffectObjects(LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID,
                                                     DWORD) override {
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE Escape(LPDIEFFESCAPE) override { return DIERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE Poll() override {
    if (!acquired_) return DIERR_NOTACQUIRED;
    if (kind_ != Kind::Joystick) return DI_NOEFFECT;
    SDL_JoystickUpdate();
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE SendDeviceData(DWORD, LPCDIDEVICEOBJECTDATA, LPDWORD, DWORD) override {
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE EnumEffectsInFile(LPCSTR, LPDIENUMEFFECTSINFILECALLBACK, LPVOID,
                                              DWORD) override {
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE WriteEffectToFile(LPCSTR, DWORD, LPDIFILEEFFECT, DWORD) override {
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE BuildActionMap(LPDIACTIONFORMATA, LPCSTR, DWORD) override {
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE SetActionMap(LPDIACTIONFORMATA, LPCSTR, DWORD) override {
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetImageInfo(LPDIDEVICEIMAGEINFOHEADERA) override {
    return DIERR_UNSUPPORTED;
  }

  static void FillInstance(LPDIDEVICEINSTANCEA info, Kind kind, const GUID& instance,
                           const char* joystickName) {
    std::memset(info, 0, sizeof(DIDEVICEINSTANCEA));
    info->dwSize = sizeof(DIDEVICEINSTANCEA);
    info->guidInstance = instance;
    info->guidProduct = instance;
    info->dwDevType = TypeOf(kind);
    const char* name = kind == Kind::Keyboard ? "Keyboard"
                       : kind == Kind::Mouse  ? "Mouse"
                                              : (joystickName ? joystickName : "Joystick");
    std::snprintf(info->tszInstanceName, sizeof(info->tszInstanceName), "%s", name);
    std::snprintf(info->tszProductName, sizeof(info->tszProductName), "%s", name);
    info->wUsagePage = 1;  // generic desktop
    info->wUsage = kind == Kind::Keyboard ? 6 : kind == Kind::Mouse ? 2 : 4;
  }
  static DWORD TypeOf(Kind kind) {
    switch (kind) {
      case Kind::Keyboard:
        return DI8DEVTYPE_KEYBOARD;
      case Kind::Mouse:
        return DI8DEVTYPE_MOUSE;
      default:
        return DI8DEVTYPE_JOYSTICK;
    }
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_IDirectInputDevice8A; }

 private:
  DWORD DeviceType() const { return TypeOf(kind_); }

  void ReadKeyboard(uint8_t* state) {
    PumpInput();
    Win32AutomationKeyState(state);
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    int count = 0;
    const Uint8* keys = SDL_GetKeyboardState(&count);
    for (int sc = 0; sc < count; ++sc) {
      if (!keys[sc]) continue;
      int dik = Win32DikFromSdlScancode(static_cast<SDL_Scancode>(sc));
      if (dik) state[dik] = 0x80;
    }
  }

  void ReadMouse(DIMOUSESTATE* state) {
    PumpInput();
    long dx = 0, dy = 0, wheel = 0;
    TakeMouseMotion(&dx, &dy, &wheel);
    // Absolute axes report the sum of all motion since acquisition.
    if (absoluteAxes_) {
      absX_ += dx;
      absY_ += dy;
      absZ_ += wheel;
      dx = absX_;
      dy = absY_;
      wheel = absZ_;
    }
    state->lX = static_cast<LONG>(dx);
    state->lY = static_cast<LONG>(dy);
    state->lZ = static_cast<LONG>(wheel);
    Uint32 buttons = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetMouseState(nullptr, nullptr) : 0;
    state->rgbButtons[0] = (buttons & SDL_BUTTON_LMASK) ? 0x80 : 0;
    state->rgbButtons[1] = (buttons & SDL_BUTTON_RMASK) ? 0x80 : 0;
    state->rgbButtons[2] = (buttons & SDL_BUTTON_MMASK) ? 0x80 : 0;
    state->rgbButtons[3] = (buttons & SDL_BUTTON_X1MASK) ? 0x80 : 0;
  }

  LONG ScaleAxis(Sint16 v) const {
    double t = (static_cast<double>(v) + 32768.0) / 65535.0;
    return static_cast<LONG>(
        std::floor(rangeMin_ + t * (static_cast<double>(rangeMax_) - rangeMin_) + 0.5));
  }

  void ReadJoystick(DIJOYSTATE* state) {
    SDL_JoystickUpdate();
    std::memset(state, 0, sizeof(DIJOYSTATE));
    LONG* axes[8] = {&state->lX,  &state->lY,  &state->lZ,           &state->lRx,
                     &state->lRy, &state->lRz, &state->rglSlider[0], &state->rglSlider[1]};
    int axisCount = SDL_JoystickNumAxes(joystick_);
    for (int i = 0; i < 8; ++i)
      *axes[i] = ScaleAxis(i < axisCount ? SDL_JoystickGetAxis(joystick_, i) : 0);
    int hats = SDL_JoystickNumHats(joystick_);
    for (int i = 0; i < 4; ++i)
      state->rgdwPOV[i] = i < hats ? PovOfHat(SDL_JoystickGetHat(joystick_, i)) : 0xFFFFFFFF;
    int buttons = std::min(SDL_JoystickNumButtons(joystick_), 32);
    for (int i = 0; i < buttons; ++i)
      state->rgbButtons[i] = SDL_JoystickGetButton(joystick_, i) ? 0x80 : 0;
  }

  DirectInput8* parent_;
  Kind kind_;
  SDL_Joystick* joystick_;
  GUID instance_;
  HWND window_ = nullptr;
  DWORD cooperation_ = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
  bool formatSet_ = false;
  bool acquired_ = false;
  bool absoluteAxes_ = false;
  DWORD bufferSize_ = 0;
  LONG rangeMin_ = 0;
  LONG rangeMax_ = 65535;
  long absX_ = 0, absY_ = 0, absZ_ = 0;
};

// --- The DirectInput object ----------------------------------------------------------------------
class DirectInput8 final : public ComObject<IDirectInput8A> {
 public:
  HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8A* out,
                                         LPUNKNOWN outer) override {
    if (!out) return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (outer) return DIERR_NOAGGREGATION;
    if (guid == GUID_SysKeyboard) {
      if (AutomationFaultActive(AutomationFault::KeyboardDevice)) return DIERR_GENERIC;
      *out = new Device(this, Kind::Keyboard, nullptr, GUID_SysKeyboard);
      return DI_OK;
    }
    if (guid == GUID_SysMouse) {
      if (AutomationFaultActive(AutomationFault::MouseDevice)) return DIERR_GENERIC;
      *out = new Device(this, Kind::Mouse, nullptr, GUID_SysMouse);
      return DI_OK;
    }
    int index = JoystickIndexOf(guid);
    if (index < 0 && guid != GUID_Joystick) return DIERR_DEVICENOTREG;
    if (AutomationFaultActive(AutomationFault::JoystickDevice)) return DIERR_GENERIC;
    if (index < 0) return DIERR_DEVICENOTREG;  // GUID_Joystick with no joystick attached
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    if (!joystick) return DIERR_DEVICENOTREG;
    *out = new Device(this, Kind::Joystick, joystick, JoystickGuid(index));
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumDevices(DWORD type, LPDIENUMDEVICESCALLBACKA callback, LPVOID ref,
                                        DWORD) override {
    if (!callback) return DIERR_INVALIDPARAM;
    DIDEVICEINSTANCEA info;
    auto wanted = [type](Kind kind) {
      DWORD cls = type & 0xFF;
      if (cls == DI8DEVCLASS_ALL) return true;
      if (cls == DI8DEVCLASS_KEYBOARD || cls == DI8DEVTYPE_KEYBOARD) return kind == Kind::Keyboard;
      if (cls == DI8DEVCLASS_POINTER || cls == DI8DEVTYPE_MOUSE) return kind == Kind::Mouse;
      if (cls == DI8DEVCLASS_GAMECTRL || cls == DI8DEVTYPE_JOYSTICK || cls == DI8DEVTYPE_GAMEPAD)
        return kind == Kind::Joystick;
      return false;
    };
    if (wanted(Kind::Keyboard)) {
      Device::FillInstance(&info, Kind::Keyboard, GUID_SysKeyboard, nullptr);
      if (callback(&info, ref) == DIENUM_STOP) return DI_OK;
    }
    if (wanted(Kind::Mouse)) {
      Device::FillInstance(&info, Kind::Mouse, GUID_SysMouse, nullptr);
      if (callback(&info, ref) == DIENUM_STOP) return DI_OK;
    }
    if (wanted(Kind::Joystick) && EnsureJoysticks()) {
      int count = std::min(SDL_NumJoysticks(), 256);
      for (int i = 0; i < count; ++i) {
        Device::FillInstance(&info, Kind::Joystick, JoystickGuid(i), SDL_JoystickNameForIndex(i));
        if (callback(&info, ref) == DIENUM_STOP) return DI_OK;
      }
    }
    return DI_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDeviceStatus(REFGUID guid) override {
    if (guid == GUID_SysKeyboard || guid == GUID_SysMouse) return DI_OK;
    return JoystickIndexOf(guid) >= 0 ? DI_OK : DI_NOTATTACHED;
  }
  HRESULT STDMETHODCALLTYPE RunControlPanel(HWND, DWORD) override { return DI_OK; }
  HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE, DWORD version) override {
    return version == DIRECTINPUT_VERSION ? DI_OK : DIERR_OLDDIRECTINPUTVERSION;
  }
  HRESULT STDMETHODCALLTYPE FindDevice(REFGUID, LPCSTR, LPGUID) override { return DIERR_NOTFOUND; }
  HRESULT STDMETHODCALLTYPE EnumDevicesBySemantics(LPCSTR, LPDIACTIONFORMATA,
                                                   LPDIENUMDEVICESBYSEMANTICSCBA, LPVOID,
                                                   DWORD) override {
    return DIERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK,
                                             LPDICONFIGUREDEVICESPARAMSA, DWORD, LPVOID) override {
    return DIERR_UNSUPPORTED;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_IDirectInput8A; }
};

// A device keeps its DirectInput object alive, as on Windows.
Device::Device(DirectInput8* parent, Kind kind, SDL_Joystick* joystick, GUID instance)
    : parent_(parent), kind_(kind), joystick_(joystick), instance_(instance) {
  parent_->AddRef();
}

Device::~Device() {
  if (joystick_) SDL_JoystickClose(joystick_);
  parent_->Release();
}

}  // namespace

HRESULT WINAPI DirectInput8Create(HINSTANCE, DWORD version, REFIID riid, LPVOID* out,
                                  LPUNKNOWN outer) {
  if (!out) return DIERR_INVALIDPARAM;
  *out = nullptr;
  if (outer) return DIERR_NOAGGREGATION;
  if (version < DIRECTINPUT_VERSION) return DIERR_OLDDIRECTINPUTVERSION;
  if (version > DIRECTINPUT_VERSION) return DIERR_BETADIRECTINPUTVERSION;
  if (riid != IID_IDirectInput8A) return DIERR_NOINTERFACE;
  if (AutomationFaultActive(AutomationFault::DirectInputCreate)) return DIERR_GENERIC;
  *out = static_cast<IDirectInput8A*>(new DirectInput8());
  return DI_OK;
}
