#pragma once
// The install journal as the installer engine writes it: lines kept until the
// file is open, then appended to it one by one, each whole or not at all.
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "support/FileStreams.h"

class TJournalWriter {
public:
    // AfterLine is the engine's test seam: called right after each action line is written.
    explicit TJournalWriter(std::function<void()> AfterLine) : FAfterLine(std::move(AfterLine)) {}

    // Opens FileName to append to (made when missing; a link is refused), writes
    // the banner "Setup started at" with the user's short date and time, then
    // the lines written so far. The open file's errors are raised as EStreamError.
    void Open(const std::string& FileName);
    // "Action Argument": to the file, or kept until Open. A line the file refuses
    // stops the run with EInstallException and is cut off again.
    void Write(const std::string& Action, const std::string& Argument);
    void WriteBanner(const std::string& Text);

    // The lines written before Open.
    const std::string& Pending() const { return FPending; }
    // Those lines, which are then no longer pending.
    std::string TakePending() { return std::exchange(FPending, std::string()); }
    // Test seam: the lines go to File from now on (a file that refuses writes, say).
    void Replace(std::unique_ptr<TWinFileStream> File) { FFile = std::move(File); }

private:
    void Append(const std::string& Text);
    std::function<void()> FAfterLine;
    std::string FPending;
    std::unique_ptr<TWinFileStream> FFile;
};
