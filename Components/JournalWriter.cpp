#include "Components/JournalWriter.h"

#include "Components/JournalFormat.h"
#include "Components/SetupStructs.h"
#include "support/Exceptions.h"

void TJournalWriter::Open(const std::string& FileName) {
    FFile = OpenForAppending(FileName, "the install journal");
    char date[128] = "", time[128] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof(date));
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof(time));
    WriteBanner(std::string("Setup started at ") + date + " " + time);
    if (!FPending.empty()) Append(TakePending());
}

void TJournalWriter::Write(const std::string& Action, const std::string& Argument) {
    Append(FormatJournalLine(Action, Argument));
    if (FAfterLine) FAfterLine();
}

void TJournalWriter::WriteBanner(const std::string& Text) { Append(FormatJournalBanner(Text)); }

void TJournalWriter::Append(const std::string& Text) {
    if (!FFile) {
        FPending += Text;
        return;
    }
    // A change the journal does not name could never be undone, so a refused
    // line stops the run. A torn line is cut off again: read back, a part of a
    // key path would name a parent key and take its whole tree.
    int64_t end = -1;
    try {
        end = FFile->Position();
        FFile->WriteBuffer(Text.data(), Text.size());
    } catch (const std::exception& e) {
        if (end >= 0 && FFile->Seek(end, TSeekOrigin::Beginning) == end) SetEndOfFile(FFile->Handle());
        throw EInstallException(
            Format("Couldn't write to the install journal \"%s\". %s", FFile->FileName().c_str(), e.what()));
    }
}
