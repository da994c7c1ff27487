#include "config/HTTPUnit.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <tuple>

#include "test_util.h"
#include "wintest_http.h"

using namespace wintest;

namespace {

class Download : public ::testing::Test {
protected:
    void TearDown() override { SetDownloadTimeout(30000); }

    THttpServer Server;
    TempFolder Temp;
    TTestHost Host;
    std::string Error = "(untouched)";
    std::string Dest = Temp.Path() + "file.bin";
};

}  // namespace

TEST_F(Download, FetchesTheWholeBodyWithProgressAndTheProductsUserAgent) {
    std::string body = NoiseText(4096, 1);
    Server.Put("a.bin", body);
    // An existing, longer file is replaced, not appended to.
    WriteFileText(Dest, std::string(9000, 'x'));

    EXPECT_TRUE(DownloadFile(Server.Url("ok", "a.bin"), Dest, Error, Host.Bar()));
    EXPECT_EQ(Error, "");
    EXPECT_EQ(ReadFileText(Dest), body);
    // Shown and set to 0, then the share before each of the two reads.
    EXPECT_EQ(Host.Positions, (std::vector<int>{0, 0, 50}));
    EXPECT_TRUE(IsWindowVisible(Host.Bar()));

    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_EQ(Server.Requests()[0].Path, "/ok/a.bin");
    EXPECT_EQ(Server.Requests()[0].Agent, "Orvand/2.2.93");
    // Asked of the distributor itself, past any cache on the way.
    const std::string url = Server.Url("ok");
    EXPECT_EQ(Server.Requests()[0].Headers,
              (std::vector<std::string>{"Accept: */*", "Host: " + url.substr(7, url.find('/', 7) - 7),
                                        "User-Agent: Orvand/2.2.93", "Pragma: no-cache"}));
}

TEST_F(Download, ProgressCountsReadsOfAtMost2048Bytes) {
    Server.Put("one.bin", "!");
    EXPECT_TRUE(DownloadFile(Server.Url("ok", "one.bin"), Dest, Error, Host.Bar()));
    EXPECT_EQ(ReadFileText(Dest), "!");
    EXPECT_EQ(Host.Positions, (std::vector<int>{0, 0}));

    // 10,000 bytes: five reads, from 0 to 82 (8,192 of 10,000 before the last).
    std::string body = NoiseText(10000, 2);
    Server.Put("b.bin", body);
    Host.Positions.clear();
    EXPECT_TRUE(DownloadFile(Server.Url("redirect", "b.bin"), Dest, Error, Host.Bar()));
    EXPECT_EQ(ReadFileText(Dest), body);
    EXPECT_EQ(Host.Positions, (std::vector<int>{0, 0, 20, 41, 61, 82}));

    // Without a progress window the download works just the same.
    EXPECT_TRUE(DownloadFile(Server.Url("ok", "b.bin"), Temp.Path() + "quiet.bin", Error, nullptr));
    EXPECT_EQ(ReadFileText(Temp.Path() + "quiet.bin"), body);
}

TEST_F(Download, RefusedRepliesCreateNoFile) {
    Server.Put("c.bin", NoiseText(3000, 3));
    Server.Put("empty.bin", "");

    // "203": success, but not 200: the body is not taken.
    for (const auto& [mode, file, error, bar] : {std::tuple{"ok", "missing.bin", "Could not download file ", true},
                                                 {"chunked", "c.bin", "Could not retrieve file size ", true},
                                                 {"203", "c.bin", "Could not download file ", true},
                                                 {"ok", "empty.bin", "Could not retrieve file size ", false}}) {
        const std::string url = Server.Url(mode, file);
        EXPECT_FALSE(DownloadFile(url, Dest, Error, bar ? Host.Bar() : nullptr)) << url;
        EXPECT_EQ(Error, error + url);
        EXPECT_FALSE(FileExists(Dest)) << url;
    }

    EXPECT_FALSE(DownloadFile(Server.ClosedUrl() + "c.bin", Dest, Error, nullptr));
    EXPECT_EQ(Error, "Could not connect to host");
    EXPECT_FALSE(FileExists(Dest));

    std::string nowhere = Temp.Path() + "no such folder\\c.bin";
    EXPECT_FALSE(DownloadFile(Server.Url("ok", "c.bin"), nowhere, Error, nullptr));
    EXPECT_EQ(Error, "Could not create file " + nowhere);

    // Every one but the closed port reached the server.
    EXPECT_EQ(Server.Requests().size(), 5u);
    EXPECT_EQ(Host.Positions, (std::vector<int>{0, 0, 0}));
}

TEST_F(Download, ABodyCutShortFailsAndLeavesNoPartialFile) {
    Server.Put("d.bin", NoiseText(6000, 4));
    WriteFileText(Dest, "old");
    std::string url = Server.Url("short", "d.bin");
    EXPECT_FALSE(DownloadFile(url, Dest, Error, Host.Bar()));
    EXPECT_EQ(Error, "Could not download file " + url);
    EXPECT_FALSE(FileExists(Dest));
}

TEST_F(Download, OverHttpsOnlyFromServersTheMachineTrustsAndHttpMayMoveThereButNotBack) {
    const std::string body = NoiseText(5000, 5);
    Server.Put("e.bin", body);
    TTlsFront rogue(Server, true);
    TTrustedTestAuthority trusted;
    TTlsFront front(Server);
    EXPECT_TRUE(DownloadFile(front.Url("ok", "e.bin"), Dest, Error, Host.Bar())) << Error;
    EXPECT_EQ(ReadFileText(Dest), body);
    EXPECT_EQ(Host.Positions, (std::vector<int>{0, 0, 41, 82}));

    // A distributor that moved to HTTPS.
    Server.Put("to-https", front.Url("ok", "e.bin"));
    const std::string moved = Temp.Path() + "moved.bin";
    EXPECT_TRUE(DownloadFile(Server.Url("moved", "to-https"), moved, Error, nullptr)) << Error;
    EXPECT_EQ(ReadFileText(moved), body);
    // One that moves back to HTTP, to its plain twin, is no HTTPS distributor.
    Server.Put("to-http", Server.Url("ok", "e.bin"));
    const std::string back = Temp.Path() + "back.bin";
    EXPECT_FALSE(DownloadFile(front.Url("moved", "to-http"), back, Error, nullptr));
    EXPECT_EQ(Error, "Could not download file " + front.Url("moved", "to-http"));
    EXPECT_FALSE(FileExists(back));

    // A certificate nobody vouches for fails as an unreachable host does, and
    // nothing is asked of the server behind it.
    const size_t asked = Server.Requests().size();
    const std::string refused = Temp.Path() + "rogue.bin";
    EXPECT_FALSE(DownloadFile(rogue.Url("ok", "e.bin"), refused, Error, nullptr));
    EXPECT_EQ(Error, "Could not connect to host");
    EXPECT_FALSE(FileExists(refused));
    EXPECT_EQ(Server.Requests().size(), asked);
    // Nor does a move to it get past the certificate.
    Server.Put("to-rogue", rogue.Url("ok", "e.bin"));
    EXPECT_FALSE(DownloadFile(Server.Url("moved", "to-rogue"), refused, Error, nullptr));
    EXPECT_FALSE(FileExists(refused));
    EXPECT_EQ(Server.Requests().size(), asked + 1);
}

TEST_F(Download, ASilentServerFailsInBoundedTime) {
    SetDownloadTimeout(1500);
    Server.Put("e.bin", NoiseText(6000, 5));

    // One accepts the connection and never answers; one sends the headers and half the
    // body, then nothing: the read that waits is given up.
    for (const auto& [mode, answers] : {std::pair{"stall", false}, {"stallbody", true}}) {
        const std::string url = Server.Url(mode, "e.bin");
        const DWORD start = GetTickCount();
        EXPECT_FALSE(DownloadFile(url, Dest, Error, answers ? Host.Bar() : nullptr));
        const DWORD took = GetTickCount() - start;
        EXPECT_EQ(Error, answers ? "Could not download file " + url : "Could not connect to host");
        EXPECT_GE(took, 1400u) << mode;
        EXPECT_LT(took, 5000u) << mode;
        EXPECT_FALSE(FileExists(Dest));
    }

    // Nothing is left in a bad state: the next download works.
    Server.Put("f.bin", "fine");
    EXPECT_TRUE(DownloadFile(Server.Url("ok", "f.bin"), Dest, Error, nullptr));
    EXPECT_EQ(ReadFileText(Dest), "fine");
}
