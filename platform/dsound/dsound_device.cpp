// DirectSound 8 without sound output: the device object and its cooperative level, so set-up
// code runs; sound buffers cannot be created.
#include <cstring>

#include "win32/com_object.h"
#include "automation.h"
#include "dsound.h"

const IID IID_IDirectSound = {
    0x279AFA83, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
const IID IID_IDirectSound8 = {
    0xC50A7E93, 0xF395, 0x4834, {0x9E, 0xF6, 0x7F, 0xA9, 0x9D, 0xE5, 0x09, 0x66}};

namespace {

class DirectSound8 final : public ComObject<IDirectSound8> {
 public:
  HRESULT STDMETHODCALLTYPE CreateSoundBuffer(LPCDSBUFFERDESC, LPDIRECTSOUNDBUFFER* out,
                                              LPUNKNOWN) override {
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    return level_ == 0 ? DSERR_PRIOLEVELNEEDED : DSERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCAPS caps) override {
    if (!caps || caps->dwSize != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
    std::memset(caps, 0, sizeof(DSCAPS));
    caps->dwSize = sizeof(DSCAPS);
    return DS_OK;
  }
  HRESULT STDMETHODCALLTYPE DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER,
                                                 LPDIRECTSOUNDBUFFER* out) override {
    if (out) *out = nullptr;
    return DSERR_INVALIDPARAM;  // there are no buffers to duplicate
  }
  HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD level) override {
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY || !IsWindow(window))
      return DSERR_INVALIDPARAM;
    if (AutomationFaultActive(AutomationFault::SoundCooperativeLevel)) return DSERR_ALLOCATED;
    level_ = level;
    window_ = window;
    return DS_OK;
  }
  HRESULT STDMETHODCALLTYPE Compact() override {
    return level_ >= DSSCL_PRIORITY ? DS_OK : DSERR_PRIOLEVELNEEDED;
  }
  HRESULT STDMETHODCALLTYPE GetSpeakerConfig(LPDWORD config) override {
    if (!config) return DSERR_INVALIDPARAM;
    *config = speakers_;
    return DS_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSpeakerConfig(DWORD config) override {
    speakers_ = config;
    return DS_OK;
  }
  HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return DSERR_ALREADYINITIALIZED; }
  HRESULT STDMETHODCALLTYPE VerifyCertification(LPDWORD certified) override {
    if (!certified) return DSERR_INVALIDPARAM;
    *certified = 0;  // DS_UNCERTIFIED
    return DS_OK;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override {
    return riid == IID_IDirectSound || riid == IID_IDirectSound8;
  }

 private:
  DWORD level_ = 0;
  HWND window_ = nullptr;
  DWORD speakers_ = DSSPEAKER_STEREO;
};

}  // namespace

HRESULT WINAPI DirectSoundCreate8(LPCGUID, LPDIRECTSOUND8* out, LPUNKNOWN outer) {
  if (!out) return DSERR_INVALIDPARAM;
  *out = nullptr;
  if (outer) return DSERR_NOAGGREGATION;
  if (AutomationFaultActive(AutomationFault::DirectSoundCreate)) return DSERR_NODRIVER;
  *out = new DirectSound8();
  return DS_OK;
}
