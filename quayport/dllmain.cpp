// The library keeps no state, so loading and unloading have nothing to set up or tear down.
#include "win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
