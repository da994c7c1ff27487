#pragma once
// The one network routine: an HTTP GET into a local file through WinInet.
#include <windows.h>

#include <functional>
#include <string>

// Fetches Url into FileName (overwritten), sending the share transferred to
// ProgressWindow (a progress bar, or nullptr) before each read of at most
// 2,048 bytes. True when all Content-Length bytes have arrived; otherwise
// False with ErrorText set, and no partial file left behind, also when the
// process dies half-way. OnBlock, when given, is called after each block is
// written (a test seam). OnWhole, when given, is called once every byte is
// written and before the file's delete mark is cleared: the caller journals
// the file there; what it throws removes the file and goes on to the caller.
bool DownloadFile(const std::string& Url, const std::string& FileName, std::string& ErrorText, HWND ProgressWindow,
                  const std::function<void()>& OnBlock = {}, const std::function<void()>& OnWhole = {});

// How long connecting and each read may take before the download fails
// (30 seconds). The tests shorten it.
DWORD DownloadTimeout();
void SetDownloadTimeout(DWORD Milliseconds);
