// DirectInput's GUIDs and the three standard data formats: object tables with the layouts of
// DIKEYBOARD state (256 bytes), DIMOUSESTATE (16) and DIJOYSTATE (80).
#include <array>
#include <cstddef>

#include "dinput.h"

const GUID GUID_SysMouse = {
    0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_SysKeyboard = {
    0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Joystick = {
    0x6F1D2B70, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_XAxis = {
    0xA36D02E0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_YAxis = {
    0xA36D02E1, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_ZAxis = {
    0xA36D02E2, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_RxAxis = {
    0xA36D02F4, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_RyAxis = {
    0xA36D02F5, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_RzAxis = {
    0xA36D02E3, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Slider = {
    0xA36D02E4, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Button = {
    0xA36D02F0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Key = {
    0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_POV = {
    0xA36D02F2, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID IID_IDirectInput8A = {
    0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
const IID IID_IDirectInputDevice8A = {
    0x54D41080, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};

namespace {

constexpr DWORD kAnyAxis = DIDFT_AXIS | DIDFT_ANYINSTANCE;
constexpr DWORD kAnyButton = DIDFT_BUTTON | DIDFT_ANYINSTANCE;
constexpr DWORD kAnyPov = DIDFT_POV | DIDFT_ANYINSTANCE;

// One button object per scan code, each optional (keyboards lack most codes).
std::array<DIOBJECTDATAFORMAT, 256> KeyboardObjects() {
  std::array<DIOBJECTDATAFORMAT, 256> objects{};
  for (DWORD i = 0; i < 256; ++i)
    objects[i] = {&GUID_Key, i, DIDFT_OPTIONAL | DIDFT_BUTTON | DIDFT_MAKEINSTANCE(i), 0};
  return objects;
}

std::array<DIOBJECTDATAFORMAT, 256> g_keyboardObjects = KeyboardObjects();

DIOBJECTDATAFORMAT g_mouseObjects[7] = {
    {&GUID_XAxis, offsetof(DIMOUSESTATE, lX), kAnyAxis, 0},
    {&GUID_YAxis, offsetof(DIMOUSESTATE, lY), kAnyAxis, 0},
    {&GUID_ZAxis, offsetof(DIMOUSESTATE, lZ), DIDFT_OPTIONAL | kAnyAxis, 0},
    {nullptr, offsetof(DIMOUSESTATE, rgbButtons) + 0, kAnyButton, 0},
    {nullptr, offsetof(DIMOUSESTATE, rgbButtons) + 1, kAnyButton, 0},
    {nullptr, offsetof(DIMOUSESTATE, rgbButtons) + 2, DIDFT_OPTIONAL | kAnyButton, 0},
    {nullptr, offsetof(DIMOUSESTATE, rgbButtons) + 3, DIDFT_OPTIONAL | kAnyButton, 0},
};

// Six axes, two sliders, four hats and 32 buttons, every one optional.
std::array<DIOBJECTDATAFORMAT, 44> JoystickObjects() {
  std::array<DIOBJECTDATAFORMAT, 44> o{};
  const DWORD axis = DIDFT_OPTIONAL | kAnyAxis;
  o[0] = {&GUID_XAxis, offsetof(DIJOYSTATE, lX), axis, DIDOI_ASPECTPOSITION};
  o[1] = {&GUID_YAxis, offsetof(DIJOYSTATE, lY), axis, DIDOI_ASPECTPOSITION};
  o[2] = {&GUID_ZAxis, offsetof(DIJOYSTATE, lZ), axis, DIDOI_ASPECTPOSITION};
  o[3] = {&GUID_RxAxis, offsetof(DIJOYSTATE, lRx), axis, DIDOI_ASPECTPOSITION};
  o[4] = {&GUID_RyAxis, offsetof(DIJOYSTATE, lRy), axis, DIDOI_ASPECTPOSITION};
  o[5] = {&GUID_RzAxis, offsetof(DIJOYSTATE, lRz), axis, DIDOI_ASPECTPOSITION};
  for (DWORD i = 0; i < 2; ++i)
    o[6 + i] = {&GUID_Slider, static_cast<DWORD>(offsetof(DIJOYSTATE, rglSlider) + 4 * i), axis,
                DIDOI_ASPECTPOSITION};
  for (DWORD i = 0; i < 4; ++i)
    o[8 + i] = {&GUID_POV, static_cast<DWORD>(offsetof(DIJOYSTATE, rgdwPOV) + 4 * i),
                DIDFT_OPTIONAL | kAnyPov, 0};
  for (DWORD i = 0; i < 32; ++i)
    o[12 + i] = {nullptr, static_cast<DWORD>(offsetof(DIJOYSTATE, rgbButtons) + i),
                 DIDFT_OPTIONAL | kAnyButton, 0};
  return o;
}

std::array<DIOBJECTDATAFORMAT, 44> g_joystickObjects = JoystickObjects();

}  // namespace

const DIDATAFORMAT c_dfDIKeyboard = {
    sizeof(DIDATAFORMAT),    sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256, 256,
    g_keyboardObjects.data()};
const DIDATAFORMAT c_dfDIMouse = {
    sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, sizeof(DIMOUSESTATE), 7,
    g_mouseObjects};
const DIDATAFORMAT c_dfDIJoystick = {
    sizeof(DIDATAFORMAT),    sizeof(DIOBJECTDATAFORMAT), DIDF_ABSAXIS, sizeof(DIJOYSTATE), 44,
    g_joystickObjects.data()};
