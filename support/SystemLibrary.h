#pragma once
// DLLs from the system folder only. Setup runs elevated, often from a Downloads
// folder where anyone may leave a DLL named like a system one.
#include <windows.h>

#include <string>

// Restricts the DLL search of the whole process to the system folder; the
// program's first statement. Older systems without that call lose the current
// folder from the search instead.
void RestrictDllSearch();

// A DLL of the system folder, loaded by its full path, or nullptr.
HMODULE LoadSystemLibrary(const char* Name);

// An export of Module as a function of type F, or nullptr (also for a null Module).
template <typename F>
F LibraryFunction(HMODULE Module, const char* Name) {
    return Module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Module, Name))) : nullptr;
}

// Loads the version-6 common controls (side-by-side, by the manifest) and registers
// the classes setup uses. Loaded with the program they would bring their own imports
// before the search is restricted, from setup's folder first.
bool InitCommonControls6();

// A library the product ships (bridge.ocx): its own folder and the system folder
// serve its imports, never the folder setup was started from. Quietly: one that
// is missing or broken gives nullptr, never the system's error box.
HMODULE LoadLibraryBeside(const std::string& Path);
