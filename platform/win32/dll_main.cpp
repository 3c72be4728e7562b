/*
 * The DLL's entry point.  Loading only turns off the per-thread attach and
 * detach notifications, which the library has no use for; every table
 * starts at its built-in value without any code running, and unloading
 * frees nothing (the host empties what it wants with wks_cleanup, wkscs and
 * cleanup_file_list).
 */
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
    return TRUE;
}
