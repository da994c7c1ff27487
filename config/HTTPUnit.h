#pragma once
// The one network routine: an HTTP GET into a local file through WinInet.
#include <windows.h>

#include <string>

// Fetches Url into FileName (overwritten), sending the share transferred to
// ProgressWindow (a progress bar, or nullptr) before each read of at most
// 2,048 bytes. True when all Content-Length bytes have arrived; otherwise
// False with ErrorText set, and no partial file left behind.
bool DownloadFile(const std::string& Url, const std::string& FileName, std::string& ErrorText, HWND ProgressWindow);

// How long connecting and each read may take before the download fails
// (30 seconds). The tests shorten it.
DWORD DownloadTimeout();
void SetDownloadTimeout(DWORD Milliseconds);
