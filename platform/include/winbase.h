// Kernel services: module handles, sleeping, time, MulDiv.
#pragma once

#include "windef.h"

#define INFINITE 0xFFFFFFFF

// The interrupt time: a monotonic count of 100 ns units (Windows 10 realtimeapiset).
void QueryInterruptTime(PULONGLONG lpInterruptTime);

// Suspends the calling thread for at least dwMilliseconds (0 only yields).
void WINAPI Sleep(DWORD dwMilliseconds);
// The handle of the process image for a null name; any other name is not a loaded module here
// (null result).
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
// (nNumber * nNumerator) / nDenominator with a 64-bit intermediate, rounded half away from zero;
// -1 when nDenominator is 0 or the result does not fit in 32 bits.
int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator);
// Milliseconds since an arbitrary start, wrapping every 49.7 days.
DWORD WINAPI GetTickCount(void);
ULONGLONG WINAPI GetTickCount64(void);
DWORD WINAPI GetCurrentThreadId(void);
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_PARAMETER 87L

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);
void WINAPI OutputDebugStringA(LPCSTR lpOutputString);
