#include "support/SystemLibrary.h"

#include <commctrl.h>

void RestrictDllSearch() {
    using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    // Looked up: Windows 7 has it only with an update.
    auto setDefault =
        LibraryFunction<TSetDefaultDllDirectories>(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* Name) {
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::string path = std::string(folder, length) + "\\" + Name;
    // Its own imports come from its folder too.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool InitCommonControls6() {
    using TInitCommonControlsEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    static const HMODULE module = LoadLibraryA("comctl32.dll");
    auto init = LibraryFunction<TInitCommonControlsEx>(module, "InitCommonControlsEx");
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    return init && init(&icc);
}

HMODULE LoadLibraryBeside(const std::string& Path) {
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module =
        LoadLibraryExA(Path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the search flags refuse them as a bad parameter.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExA(Path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetErrorMode(oldMode);
    return module;
}
