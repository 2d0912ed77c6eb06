// Kernel services on POSIX: sleeping, module handle, MulDiv, tick counts, thread id.
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "automation.h"
#include "windows.h"

namespace {

// One process image; its handle only needs to be a stable non-null value.
int g_processImage;
thread_local DWORD g_lastError = 0;

uint64_t MonotonicNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace

void WINAPI Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  // Restart after signals so the full time passes, as on Windows.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (name == nullptr) return reinterpret_cast<HMODULE>(&g_processImage);
  g_lastError = 126;  // ERROR_MOD_NOT_FOUND
  return nullptr;
}

int WINAPI MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  int64_t product = static_cast<int64_t>(number) * numerator;
  // Round half away from zero, as Windows does.
  bool negative = (product < 0) != (denominator < 0);
  uint64_t p = product < 0 ? static_cast<uint64_t>(-product) : static_cast<uint64_t>(product);
  uint64_t d = denominator < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(denominator))
                               : static_cast<uint64_t>(denominator);
  uint64_t q = (p + d / 2) / d;
  if (q > (negative ? 2147483648ull : 2147483647ull)) return -1;
  return negative ? static_cast<int>(-static_cast<int64_t>(q)) : static_cast<int>(q);
}

// The interrupt time of Windows: a monotonic count of 100 ns units (or the automation's manual
// clock).
void QueryInterruptTime(PULONGLONG time) {
  if (!time) return;
  uint64_t manual = 0;
  if (AutomationManualClockTime(&manual)) {
    *time = manual;
    return;
  }
  *time = MonotonicNanoseconds() / 100;
}

DWORD WINAPI GetTickCount(void) {
  return static_cast<DWORD>(MonotonicNanoseconds() / 1000000ull);
}

ULONGLONG WINAPI GetTickCount64(void) {
  return MonotonicNanoseconds() / 1000000ull;
}

DWORD WINAPI GetCurrentThreadId(void) {
  return static_cast<DWORD>(syscall(SYS_gettid));
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (!count) return FALSE;
  count->QuadPart = static_cast<LONGLONG>(MonotonicNanoseconds());
  return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (!frequency) return FALSE;
  frequency->QuadPart = 1000000000LL;
  return TRUE;
}

DWORD WINAPI GetLastError(void) {
  return g_lastError;
}

void WINAPI SetLastError(DWORD code) {
  g_lastError = code;
}

void WINAPI OutputDebugStringA(LPCSTR text) {
  if (text) std::fputs(text, stderr);
}
