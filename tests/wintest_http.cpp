#include "wintest_http.h"

#include <windows.h>

#include <commctrl.h>
#include <wincrypt.h>

#include <algorithm>
#include <stdexcept>

namespace wintest {

namespace {

int ReadNumber(const std::string& FileName) {
    std::string text = ReadFileText(FileName);
    return text.empty() ? 0 : std::stoi(text);
}

// A Unix program of this machine, started from Wine; it ends when its folder Root gets a file "stop".
void StartUnixProgram(std::string Program, const std::string& Arguments, const TempFolder& Root) {
    std::replace(Program.begin(), Program.end(), '/', '\\');
    StartProgram("Z:" + Program, Arguments).Detach();
    WaitUntil([&] { return FileExists(Root.Path() + "port"); }, 10000, 50);
}

void Stop(const TempFolder& Root) {
    WriteFileText(Root.Path() + "stop", "");
    WaitUntil([&] { return FileExists(Root.Path() + "stopped"); }, 5000, 50);
}

const std::string TlsFolder = ORVAND_TLS_DIR;

}  // namespace

THttpServer::THttpServer(const std::string& Address) : FAddress(Address) {
    StartUnixProgram(
        ORVAND_PYTHON,
        "\"" ORVAND_SOURCE_DIR "/tests/support/http_server.py\" \"" + UnixPath(FRoot.Path()) + "\" 0 " + Address,
        FRoot);
    FPort = ReadNumber(FRoot.Path() + "port");
    FClosedPort = ReadNumber(FRoot.Path() + "closed_port");
    if (FPort == 0) throw std::runtime_error("the test HTTP server did not start");
}

THttpServer::~THttpServer() { Stop(FRoot); }

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

TTlsFront::TTlsFront(const THttpServer& Backend, bool Rogue) {
    const std::string name = Rogue ? "rogue" : "server";
    StartUnixProgram(ORVAND_PYTHON,
                     "\"" ORVAND_SOURCE_DIR "/tests/support/tls_front.py\" \"" + UnixPath(FRoot.Path()) + "\" \"" +
                         TlsFolder + "/" + name + ".pem\" \"" + TlsFolder + "/" + name + ".key\" " +
                         std::to_string(Backend.Port()) + " \"" ORVAND_NGINX "\"",
                     FRoot);
    FPort = ReadNumber(FRoot.Path() + "port");
    if (FPort == 0) throw std::runtime_error("nginx did not start: " + ReadFileText(FRoot.Path() + "error.log"));
}

TTlsFront::~TTlsFront() { Stop(FRoot); }

std::string TTlsFront::Url(const std::string& Mode, const std::string& Name) const {
    return "https://127.0.0.1:" + std::to_string(FPort) + "/" + Mode + "/" + Name;
}

namespace {

// The machine's root store, where WinInet looks for the authorities it trusts.
HCERTSTORE OpenRootStore() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
}

std::string AuthorityBytes() { return ReadFileText("Z:" + TlsFolder + "/ca.der"); }

}  // namespace

TTrustedTestAuthority::TTrustedTestAuthority() {
    const std::string der = AuthorityBytes();
    HCERTSTORE store = OpenRootStore();
    if (der.empty() || !store ||
        !CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                          static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        if (store) CertCloseStore(store, 0);
        throw std::runtime_error("cannot trust the test authority: error " + std::to_string(GetLastError()));
    }
    CertCloseStore(store, 0);
}

TTrustedTestAuthority::~TTrustedTestAuthority() {
    const std::string der = AuthorityBytes();
    HCERTSTORE store = OpenRootStore();
    if (!store) return;
    PCCERT_CONTEXT added = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                        static_cast<DWORD>(der.size()));
    if (added) {
        PCCERT_CONTEXT found =
            CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, added, nullptr);
        if (found) CertDeleteCertificateFromStore(found);  // frees found
        CertFreeCertificateContext(added);
    }
    CertCloseStore(store, 0);
}

std::string THttpServer::Url(const std::string& Mode, const std::string& Name) const {
    return "http://" + FAddress + ":" + std::to_string(FPort) + "/" + Mode + "/" + Name;
}

std::vector<std::string> THttpServer::Paths() const {
    std::vector<std::string> paths;
    for (const TRequest& request : Requests()) paths.push_back(request.Path);
    return paths;
}

std::string THttpServer::ClosedUrl() const { return "http://" + FAddress + ":" + std::to_string(FClosedPort) + "/"; }

std::vector<THttpServer::TRequest> THttpServer::Requests() const {
    std::vector<TRequest> requests;
    for (const std::string& line : SplitText(ReadFileText(FRoot.Path() + "requests.log"), "\n")) {
        std::vector<std::string> fields = SplitText(line, "\t");
        fields.resize(std::max<size_t>(fields.size(), 2));
        requests.push_back({fields[0], fields[1], std::vector<std::string>(fields.begin() + 2, fields.end())});
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
    FLabel =
        CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, 380, 20, FWindow, nullptr, cls.hInstance, nullptr);
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
