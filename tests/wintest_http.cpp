#include "wintest_http.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

namespace wintest {

namespace {

int ReadNumber(const std::string& FileName) {
    std::string text = ReadFileText(FileName);
    return text.empty() ? 0 : std::stoi(text);
}

}  // namespace

THttpServer::THttpServer(const std::string& Address) : FAddress(Address) {
    std::string python = ORVAND_PYTHON;
    for (char& c : python)
        if (c == '/') c = '\\';
    std::string root = UnixPath(FRoot.Path());
    std::string command = "python3 \"" ORVAND_SOURCE_DIR "/tests/support/http_server.py\" \"" + root + "\" 0 " + Address;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(("Z:" + python).c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        throw std::runtime_error("cannot start the test HTTP server: error " + std::to_string(GetLastError()));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 200 && !FileExists(FRoot.Path() + "port"); ++i) Sleep(50);
    FPort = ReadNumber(FRoot.Path() + "port");
    FClosedPort = ReadNumber(FRoot.Path() + "closed_port");
    if (FPort == 0) throw std::runtime_error("the test HTTP server did not start");
}

THttpServer::~THttpServer() {
    WriteFileText(FRoot.Path() + "stop", "");
    for (int i = 0; i < 100 && !FileExists(FRoot.Path() + "stopped"); ++i) Sleep(50);
}

void THttpServer::Put(const std::string& Name, const std::string& Bytes) {
    std::string path = FRoot.Path() + "www\\";
    for (char c : Name) {
        if (c == '/') {
            CreateDirectoryA(path.c_str(), nullptr);
            path += '\\';
        } else {
            path += c;
        }
    }
    WriteFileText(path, Bytes);
}

std::string THttpServer::Url(const std::string& Mode, const std::string& Name) const {
    return "http://" + FAddress + ":" + std::to_string(FPort) + "/" + Mode + "/" + Name;
}

std::string THttpServer::ClosedUrl() const { return "http://" + FAddress + ":" + std::to_string(FClosedPort) + "/"; }

std::vector<THttpServer::TRequest> THttpServer::Requests() const {
    std::vector<TRequest> requests;
    std::string text = ReadFileText(FRoot.Path() + "requests.log");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        std::vector<std::string> fields;
        for (size_t from = 0, tab;; from = tab + 1) {
            tab = line.find('\t', from);
            fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
            if (tab == std::string::npos) break;
        }
        fields.resize(std::max<size_t>(fields.size(), 2));
        requests.push_back({fields[0], fields[1], std::vector<std::string>(fields.begin() + 2, fields.end())});
        start = end + 1;
    }
    return requests;
}

TTestHost::TTestHost() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSA cls{};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "OrvandTestHost";
    RegisterClassA(&cls);
    FWindow = CreateWindowA("OrvandTestHost", "Test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 420, 120, nullptr,
                            nullptr, cls.hInstance, nullptr);
    FLabel = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, 380, 20, FWindow, nullptr, cls.hInstance, nullptr);
    FBar = CreateWindowA(PROGRESS_CLASSA, "", WS_CHILD, 10, 40, 380, 20, FWindow, nullptr, cls.hInstance, nullptr);
    if (!FWindow || !FLabel || !FBar) throw std::runtime_error("cannot create the test host window");
    SetWindowLongPtrA(FBar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    FBarProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(FBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TTestHost::BarProc)));
}

TTestHost::~TTestHost() { DestroyWindow(FWindow); }

LRESULT CALLBACK TTestHost::BarProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto* host = reinterpret_cast<TTestHost*>(GetWindowLongPtrA(Window, GWLP_USERDATA));
    if (Msg == PBM_SETPOS) host->Positions.push_back(static_cast<int>(WParam));
    return CallWindowProcA(host->FBarProc, Window, Msg, WParam, LParam);
}

}  // namespace wintest
