// HTTP download through WinInet.
#include "config/HTTPUnit.h"

#include <wininet.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "config/Transfer.h"
#include "support/Exceptions.h"
#include "support/FileStreams.h"
#include "support/SystemLibrary.h"
#include "support/UniqueResource.h"
#include "support/VersionInfo.h"

namespace {

// WinInet is no KnownDLL: it comes from the system folder, never from beside setup,
// and only once something is downloaded.
struct TWinInet {
    HMODULE Module = LoadSystemLibrary("wininet.dll");
#define ORVAND_WININET(Name) decltype(&::Name) Name = LibraryFunction<decltype(&::Name)>(Module, #Name)
    ORVAND_WININET(InternetOpenA);
    ORVAND_WININET(InternetSetOptionA);
    ORVAND_WININET(InternetOpenUrlA);
    ORVAND_WININET(InternetQueryOptionA);
    ORVAND_WININET(InternetReadFile);
    ORVAND_WININET(HttpQueryInfoA);
#undef ORVAND_WININET
    bool Loaded() const {
        return InternetOpenA && InternetSetOptionA && InternetOpenUrlA && InternetQueryOptionA && InternetReadFile &&
               HttpQueryInfoA;
    }
};

const TWinInet& Net() {
    static const TWinInet api;
    return api;
}

constexpr DWORD BufferSize = 2048;
std::atomic<DWORD> Timeout{30000};

// What the WinInet calls share with the helper thread that makes the blocking
// ones: a call that was given up on may still be using it after we return.
struct TConnection {
    // Declared in this order so that the request goes before its session.
    TInternetHandle Session;
    TInternetHandle Request;
    std::vector<char> Buffer = std::vector<char>(BufferSize);
    DWORD Read = 0;
    BOOL ReadOk = FALSE;
};

DWORD QueryNumber(HINTERNET Request, DWORD Info) {
    DWORD value = 0, length = sizeof(value), index = 0;
    if (!Net().HttpQueryInfoA(Request, Info | HTTP_QUERY_FLAG_NUMBER, &value, &length, &index)) return 0;
    return value;
}

// The address the request ended at, after every redirect.
std::string FinalUrl(HINTERNET Request) {
    DWORD length = 0;
    Net().InternetQueryOptionA(Request, INTERNET_OPTION_URL, nullptr, &length);
    std::string url(length + 1, '\0');
    if (length == 0 || !Net().InternetQueryOptionA(Request, INTERNET_OPTION_URL, url.data(), &length))
        return std::string();
    url.resize(std::min<size_t>(length, url.size() - 1));
    url.resize(std::strlen(url.c_str()));
    return url;
}

bool HasScheme(const std::string& Url, const char* Scheme) {
    const size_t n = std::strlen(Scheme);
    return Url.size() >= n && _strnicmp(Url.c_str(), Scheme, n) == 0;
}

bool WriteAll(HANDLE File, const char* Data, DWORD Count) {
    while (Count > 0) {
        DWORD written = 0;
        if (!WriteFile(File, Data, Count, &written, nullptr) || written == 0) return false;
        Data += written;
        Count -= written;
    }
    return true;
}

}  // namespace

DWORD DownloadTimeout() { return Timeout; }

void SetDownloadTimeout(DWORD Milliseconds) { Timeout = Milliseconds; }

bool DownloadFile(const std::string& Url, const std::string& FileName, std::string& ErrorText, HWND ProgressWindow,
                  const std::function<void()>& OnBlock, const std::function<void()>& OnWhole) {
    ErrorText.clear();
    if (ProgressWindow) {
        ShowWindow(ProgressWindow, SW_SHOW);
        SendMessageA(ProgressWindow, PBM_SETPOS, 0, 0);
    }

    std::shared_ptr<IVerInfo> version = GetAppVersionInfo();
    std::string agent = "Orvand/" + version->GetProductVersion() + "." + version->GetProductRevision();
    auto net = std::make_shared<TConnection>();
    if (Net().Loaded())
        net->Session.Reset(Net().InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!net->Session) {
        ErrorText = "Could not create Internet session";
        return false;
    }
    DWORD timeout = Timeout;
    Net().InternetSetOptionA(net->Session.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
    Net().InternetSetOptionA(net->Session.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    // Not every WinInet keeps those time-outs (Wine does not), so the blocking
    // calls run on a helper thread and we stop waiting for them in time.
    const std::chrono::milliseconds limit(timeout);
    TBoundedWorker worker([net] {
        net->Request.Reset();
        net->Session.Reset();
    });

    // A distributor that moved to HTTPS is followed there; one that moves back to
    // HTTP, or whose certificate does not verify, fails like any other. The bytes come
    // from the distributor, never from a cache, and carry no cookie, no logon and no box.
    const DWORD flags = INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                        INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_COOKIES |
                        INTERNET_FLAG_NO_UI;
    if (!worker.Run(
            [net, Url, flags] {
                net->Request.Reset(Net().InternetOpenUrlA(net->Session.Get(), Url.c_str(), nullptr, 0, flags, 0));
            },
            limit) ||
        !net->Request) {
        ErrorText = "Could not connect to host";
        return false;
    }
    // Not every WinInet refuses a move from HTTPS back to HTTP by itself.
    if (HasScheme(Url, "https:") && !HasScheme(FinalUrl(net->Request.Get()), "https:")) {
        ErrorText = "Could not download file " + Url;
        return false;
    }
    if (QueryNumber(net->Request.Get(), HTTP_QUERY_STATUS_CODE) != 200) {
        ErrorText = "Could not download file " + Url;
        return false;
    }
    const DWORD size = QueryNumber(net->Request.Get(), HTTP_QUERY_CONTENT_LENGTH);
    if (size == 0) {
        ErrorText = "Could not retrieve file size " + Url;
        return false;
    }
    // A part file is a change no journal line names: it goes unless whole.
    std::optional<TPendingFile> file;
    try {
        file.emplace(FileName, FILE_SHARE_WRITE);
    } catch (const EStreamError&) {
        ErrorText = "Could not create file " + FileName;
        return false;
    }

    uint32_t remaining = size;
    bool written = true;
    while (remaining > 0) {
        if (ProgressWindow) SendMessageA(ProgressWindow, PBM_SETPOS, ProgressPercent(size, remaining), 0);
        const DWORD wanted = std::min<DWORD>(remaining, BufferSize);
        if (!worker.Run(
                [net, wanted] {
                    net->Read = 0;
                    net->ReadOk = Net().InternetReadFile(net->Request.Get(), net->Buffer.data(), wanted, &net->Read);
                },
                limit))
            break;
        if (!net->ReadOk || net->Read == 0) break;
        const DWORD got = std::min<DWORD>(net->Read, remaining);
        remaining -= got;
        if (!WriteAll(file->Stream().Handle(), net->Buffer.data(), got)) {
            written = false;
            break;
        }
        if (OnBlock) OnBlock();
    }
    if (written && remaining == 0 && OnWhole) OnWhole();
    if (written && remaining == 0 && !file->Complete()) written = false;

    // A file cut short would pass for a good one where no digest is listed.
    if (!written || remaining > 0) {
        file.reset();
        ErrorText = written ? "Could not download file " + Url : "Could not write file " + FileName;
        return false;
    }
    file->Keep();
    return true;
}
