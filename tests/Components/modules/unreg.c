/* A COM library stand-in: DllUnregisterServer notes each call in the file that
   ORVAND_UNREG_LOG names (this module's path, one line a call) and returns
   UNREG_RESULT. */
#include <windows.h>

static HMODULE Self;

BOOL WINAPI DllMain(HINSTANCE Instance, DWORD Reason, LPVOID Reserved) {
    (void)Reserved;
    if (Reason == DLL_PROCESS_ATTACH) Self = Instance;
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) {
    char log[MAX_PATH], path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("ORVAND_UNREG_LOG", log, sizeof(log));
    if (n && n < sizeof(log)) {
        HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD length = GetModuleFileNameA(Self, path, sizeof(path) - 2), written = 0;
            path[length++] = '\r';
            path[length++] = '\n';
            WriteFile(file, path, length, &written, NULL);
            CloseHandle(file);
        }
    }
    return UNREG_RESULT;
}
