#pragma once
// The shared log beside the running program. Off unless switched on.
#include <memory>
#include <string>

class ILog {
public:
    virtual ~ILog() = default;
    virtual void Debug(const std::string& Text) = 0;
    virtual void Marker(const std::string& Text) = 0;
    virtual void Error(const std::string& Text) = 0;
};

class TWinFileStream;

class TLog : public ILog {
public:
    // FileName empty: the program's path with ".log" for its extension (see LogFileNameFor).
    explicit TLog(std::string FileName = {});
    ~TLog() override;
    void Debug(const std::string& Text) override;
    void Marker(const std::string& Text) override;
    void Error(const std::string& Text) override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Enabled) { FEnabled = Enabled; }
    const std::string& FileName() const { return FFileName; }
    // Keeps the lines in memory until Place names the file: a log whose place
    // is not known yet.
    void Hold() { FHeld = true; }
    bool Held() const { return FHeld; }
    // Writes the lines held to FileName, and every line after them.
    void Place(const std::string& FileName);
    // "yyyy-mm-dd hh:nn:ss.zzz", local time, the system's time separator.
    static std::string Timestamp();

protected:
    virtual void Write(const std::string& Text);
    virtual void Open();

private:
    int32_t FMarkerNumber = 0;
    std::unique_ptr<TWinFileStream> FStream;
    bool FEnabled = false;
    bool FHeld = false;
    std::string FHeldText;
    std::string FFileName;
};

// The shared log object; created on first use.
std::shared_ptr<ILog> GetLog();
// Makes the shared log a switched-on one writing to FileName (empty: the
// default name beside the program); the silent modes' messages go there.
// The file is opened without following a link at its name: one is refused.
std::shared_ptr<TLog> OpenSharedLog(const std::string& FileName);
// Drops the shared reference at the program's orderly end.
void ReleaseLog();

// Where a switched-on log of the program Program writes: Program with ".log" for
// its extension; a program called install.exe writes install-setup.log instead,
// since install.log beside the uninstaller is the install journal.
std::string LogFileNameFor(const std::string& Program);
