// The packer's writer compressing several files at once: the bytes it writes
// must not depend on the number of jobs, and a failure names the right file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "Components/PackageWriter.h"
#include "support/Exceptions.h"
#include "tests/Components/PackageTestUtil.h"

using namespace packtest;
using ::testing::HasSubstr;

namespace {

// Counts the bytes read from it; fails with EStreamError once FailAfter bytes are read.
class TSourceStream : public TMemoryStream {
public:
    TSourceStream(Bytes Data, std::atomic<int64_t>& Reads, int64_t FailAfter = -1)
        : TMemoryStream(std::move(Data)), FReads(Reads), FFailAfter(FailAfter) {}
    size_t Read(void* Buffer, size_t Count) override {
        if (FFailAfter >= 0 && Position() + static_cast<int64_t>(Count) > FFailAfter)
            throw EStreamError("the disk went away");
        size_t n = TMemoryStream::Read(Buffer, Count);
        FReads += static_cast<int64_t>(n);
        return n;
    }

private:
    std::atomic<int64_t>& FReads;
    int64_t FFailAfter;
};

// Scratch streams that count how many exist.
class TCountedStream : public TMemoryStream {
public:
    explicit TCountedStream(std::atomic<int>& Alive) : FAlive(Alive) { ++FAlive; }
    ~TCountedStream() override { --FAlive; }

private:
    std::atomic<int>& FAlive;
};

// The largest files come late in the list, so that compressing them first
// and writing them in list order are different things.
std::vector<TFile> MixedFiles() {
    std::string words;
    for (int i = 0; i < 6000; ++i) words += "word" + std::to_string(i % 977) + (i % 13 ? " " : "\r\n");
    return {{".\\", "orvand.exe", Noise(70000, 1), true},
            {".\\", "empty.txt", {}, true},
            {".\\", "readme.txt", Text("read me\r\n"), false},
            {".\\data\\", "orvand.dic", Text(words), true},
            {".\\data\\", "Vela.acs", Noise(300000, 2), true},
            {".\\data\\", "script.htm", Text(words + words), true},
            {".\\data\\", "big.db", Noise(250000, 3), true},
            {".\\temp\\", "setup.xml", Text("<?xml version=\"1.0\"?><setup/>"), true}};
}

struct TCase {
    std::vector<TFile> Files = MixedFiles();
    std::atomic<int64_t> Reads{0};
    std::atomic<int> Made{0}, Alive{0};
    int FailingFile = -1;  // this file's source fails half-way
    int MissingFile = -1;  // this file's source cannot be opened

    std::vector<TPackFile> PackFiles() {
        std::vector<TPackFile> files;
        for (size_t i = 0; i < Files.size(); ++i) {
            const TFile& f = Files[i];
            int index = static_cast<int>(i);
            auto open = [this, index, data = f.Data]() -> std::unique_ptr<TStream> {
                if (index == MissingFile) throw EStreamError("Cannot open file \"gone\".");
                int64_t failAfter = index == FailingFile ? static_cast<int64_t>(data.size() / 2) : -1;
                return std::make_unique<TSourceStream>(data, Reads, failAfter);
            };
            files.push_back({f.Folder, f.Name, open, f.Compress});
        }
        return files;
    }
    // Through counted scratch streams, or (Scratch false) none: the writer's memory.
    Bytes Pack(unsigned Jobs, bool Scratch = true) {
        TMemoryStream out;
        TPackageWriter writer(out);
        TMemoryStream exe(BareExe());
        writer.AddExecutable(exe);
        TScratchFactory counted = [this]() -> std::unique_ptr<TStream> {
            ++Made;
            return std::make_unique<TCountedStream>(Alive);
        };
        writer.AddFiles(PackFiles(), Jobs, Scratch ? counted : TScratchFactory{});
        writer.Finish();
        return out.Data();
    }
    // The place and message of the failure, or "(packed)".
    std::string Failure(unsigned Jobs) {
        try {
            Pack(Jobs);
        } catch (const EPackageFileError& e) {
            return std::to_string(e.Index()) + ": " + e.Message();
        }
        return "(packed)";
    }
};

}  // namespace

TEST(PackageWriter, AnyNumberOfJobsWritesTheBytesOfOneFileAtATime) {
    TCase c;
    Bytes sequential = Build(BareExe(), c.Files);
    for (unsigned jobs : {1u, 2u, 3u, 8u, 0u}) {
        SCOPED_TRACE(std::to_string(jobs) + " jobs");
        c.Made = 0;
        EXPECT_EQ(c.Pack(jobs), sequential);
        EXPECT_EQ(c.Alive, 0) << "scratch streams left";
        if (jobs == 1) {
            EXPECT_EQ(c.Made, 0) << "one job writes straight to the output";
        } else if (jobs > 1) {
            EXPECT_EQ(c.Made, 7) << "every compressed file goes through a scratch stream";
        }
    }
    // Without a scratch factory the files wait in memory, with the same result.
    EXPECT_EQ(c.Pack(4, false), sequential);
}

TEST(PackageWriter, RefusedFilesAreFoundBeforeAnythingIsCompressed) {
    for (unsigned jobs : {1u, 2u}) {
        SCOPED_TRACE(std::to_string(jobs) + " jobs");
        TCase c;
        c.Files.push_back({".\\data\\", "ORVAND.EXE", Text("again"), true});
        EXPECT_EQ(c.Failure(jobs).substr(0, 3), "8: ");
        EXPECT_THAT(c.Failure(jobs), HasSubstr("twice"));
        EXPECT_EQ(c.Reads, 0);
        EXPECT_EQ(c.Made, 0);

        // The first failing file in list order is the one reported.
        TCase both;
        both.Files[5].Folder = ".\\a\\b\\";
        both.MissingFile = 3;
        EXPECT_EQ(both.Failure(jobs), "3: Cannot open file \"gone\".");
        both.MissingFile = 6;
        EXPECT_EQ(both.Failure(jobs).substr(0, 3), "5: ");
        EXPECT_EQ(both.Reads, 0);
    }
}

TEST(PackageWriter, ReadFailureNamesItsFileAndLeavesNoScratch) {
    for (unsigned jobs : {1u, 2u, 3u}) {
        for (int failing : {0, 4, 6}) {
            SCOPED_TRACE(std::to_string(jobs) + " jobs, file " + std::to_string(failing));
            TCase c;
            c.FailingFile = failing;
            EXPECT_EQ(c.Failure(jobs), std::to_string(failing) + ": the disk went away");
            EXPECT_EQ(c.Alive, 0);
        }
    }
}
