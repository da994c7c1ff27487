#pragma once
// The test HTTP server (tests/support/http_server.py), started on 127.0.0.1
// and a free port for one test and stopped at its end.
#include <windows.h>

#include <string>
#include <vector>

#include "wintest_util.h"

namespace wintest {

class THttpServer {
public:
    // Starts the server on Address and waits until it listens; throws
    // std::runtime_error if it does not. Another loopback address (127.0.0.2)
    // stands for another host.
    explicit THttpServer(const std::string& Address = "127.0.0.1");
    ~THttpServer();

    // Serves Bytes as NAME (which may hold "/" for sub-folders).
    void Put(const std::string& Name, const std::string& Bytes);
    // "http://127.0.0.1:PORT/MODE/" + Name; the modes are listed in http_server.py.
    std::string Url(const std::string& Mode, const std::string& Name = "") const;
    // A base address on a port where nobody listens.
    std::string ClosedUrl() const;

    struct TRequest {
        std::string Path, Agent;
        std::vector<std::string> Headers;  // "Name: value", in the order sent
    };
    std::vector<TRequest> Requests() const;
    // The paths asked for, in order.
    std::vector<std::string> Paths() const;
    int Port() const { return FPort; }

private:
    TempFolder FRoot{"orvand-http"};
    std::string FAddress;
    int FPort = 0;
    int FClosedPort = 0;
};

// nginx speaking HTTPS on 127.0.0.1 and a free port in front of Backend, with
// the test authority's certificate for 127.0.0.1, or with Rogue one that nobody
// vouches for. Started for one test and stopped at its end.
class TTlsFront {
public:
    explicit TTlsFront(const THttpServer& Backend, bool Rogue = false);
    ~TTlsFront();
    // "https://127.0.0.1:PORT/MODE/" + Name, answered as Backend answers it.
    std::string Url(const std::string& Mode, const std::string& Name = "") const;

private:
    TempFolder FRoot{"orvand-tls"};
    int FPort = 0;
};

// The test authority trusted by the machine (its root store) while the object lives.
class TTrustedTestAuthority {
public:
    TTrustedTestAuthority();
    ~TTrustedTestAuthority();
    TTrustedTestAuthority(const TTrustedTestAuthority&) = delete;
    TTrustedTestAuthority& operator=(const TTrustedTestAuthority&) = delete;
};

// A small visible top-level window, standing in for the wizard's, with the two
// controls the wizard hands to the engine: a STATIC status label and a progress
// bar (hidden at first) that records every position it is sent.
class TTestHost {
public:
    TTestHost();
    ~TTestHost();
    TTestHost(const TTestHost&) = delete;
    TTestHost& operator=(const TTestHost&) = delete;
    HWND Window() const { return FWindow; }
    HWND Label() const { return FLabel; }
    HWND Bar() const { return FBar; }
    std::vector<int> Positions;

private:
    static LRESULT CALLBACK BarProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
    HWND FWindow = nullptr, FLabel = nullptr, FBar = nullptr;
    WNDPROC FBarProc = nullptr;
};

}  // namespace wintest
