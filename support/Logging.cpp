#include "support/Logging.h"

#include <windows.h>

#include <utility>

#include "support/Exceptions.h"
#include "support/FileStreams.h"
#include "support/FileSystem.h"
#include "support/PathUtils.h"
#include "support/UniqueResource.h"

namespace {
std::shared_ptr<ILog> SharedLog;
}

std::string LogFileNameFor(const std::string& Program) {
    size_t sep = Program.find_last_of("\\:");
    size_t dot = Program.find_last_of('.');
    std::string base =
        (dot != std::string::npos && (sep == std::string::npos || dot > sep)) ? Program.substr(0, dot) : Program;
    std::string name = base.substr(sep == std::string::npos ? 0 : sep + 1);
    // The journal owns install.log in the installation folder.
    if (SameTextAscii(name, "install")) return base + "-setup.log";
    return base + ".log";
}

TLog::TLog(std::string FileName) : FFileName(std::move(FileName)) {
    if (FFileName.empty()) FFileName = LogFileNameFor(GetProgramFileName());
}

TLog::~TLog() = default;

std::string TLog::Timestamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char separator[8] = ":";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, sizeof(separator));
    return Format("%04u-%02u-%02u %02u%s%02u%s%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, separator, t.wMinute,
                  separator, t.wSecond, t.wMilliseconds);
}

void TLog::Debug(const std::string& Text) { Write("[" + Timestamp() + "][DEBUG] " + Text + "\r\n"); }

void TLog::Error(const std::string& Text) { Write("[" + Timestamp() + "][ERROR] " + Text + "\r\n"); }

void TLog::Marker(const std::string& Text) { Write(Format("--- %d --- ", FMarkerNumber) + Text); }

void TLog::Write(const std::string& Text) {
    if (!FEnabled) return;
    if (FHeld) {
        FHeldText += Text;
        return;
    }
    if (!FStream) Open();
    FStream->WriteBuffer(Text.data(), Text.size());
}

void TLog::Place(const std::string& FileName) {
    FFileName = FileName;
    FHeld = false;
    Write(std::exchange(FHeldText, std::string()));
}

void TLog::Open() {
    if (FStream) return;
    FStream = OpenForAppending(FFileName, "its log");
    std::string start = "[" + Timestamp() + "][LOG_STARTED] " + std::string(40, '=') + "\r\n";
    FStream->WriteBuffer(start.data(), start.size());
}

std::shared_ptr<ILog> GetLog() {
    if (!SharedLog) SharedLog = std::make_shared<TLog>();
    return SharedLog;
}

std::shared_ptr<TLog> OpenSharedLog(const std::string& FileName) {
    auto log = std::make_shared<TLog>(FileName);
    log->SetEnabled(true);
    SharedLog = log;
    return log;
}

void ReleaseLog() { SharedLog.reset(); }
