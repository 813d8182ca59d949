/* A library with the registration entry points, built three ways for the
   tests: answering REGISTER_RESULT, or without the entry points at all. */
#include <windows.h>

#ifndef NO_ENTRY_POINTS
__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) { return REGISTER_RESULT; }
__declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) { return S_OK; }
#else
__declspec(dllexport) int SomethingElse(void) { return 0; }
#endif
