#include "config/md5.h"
#include "config/sha256.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/Exceptions.h"
#include "support/Streams.h"

#include "tests/test_util.h"

using ::testing::ThrowsMessage;

namespace {

// Message of n bytes that is not all one value, so that word order matters.
std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return s;
}

}  // namespace

TEST(MD5, Rfc1321TestSuite) {
    for (const auto& [message, digest] :
         {std::pair{"", "d41d8cd98f00b204e9800998ecf8427e"},
          {"a", "0cc175b9c0f1b6a831c399e269772661"},
          {"abc", "900150983cd24fb0d6963f7d28e17f72"},
          {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
          {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
          {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
          {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
           "57edf4a22be3c955ac49da2e2107b67a"}})
        EXPECT_EQ(Md5Text(message), digest) << message;
}

TEST(MD5, PaddingBoundariesMatchIndependentDigests) {
    // Reference digests of Pattern(n) computed with Python's hashlib.
    struct Case {
        size_t n;
        const char* digest;
    } cases[] = {{55, "52c0e574e1198de5fe3f8f11440dcb1b"},   {56, "46c9907fc908ee68b1e7b8e71286a518"},
                 {63, "a62f6d59e837867693f042f5b8f5a236"},   {64, "7160b8fb5e9e4023d549c3971fbaeead"},
                 {65, "70bd662e7aefbda85a0f7244167b7897"},   {119, "e84905d4214f4d1ca56c2cdcc152b143"},
                 {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc"},  {128, "10b2da1a82f16d99a81a7203fe9f02cb"},
                 {1000, "10046f077f2082ac19676b8079f1cb1a"}, {65536, "55f3da07043d8f6f30808f9309120b1d"},
                 {65537, "8bbe2ba9b420c53493027ed87dbc57c8"}};
    for (const Case& c : cases) {
        std::string message = Pattern(c.n);
        EXPECT_EQ(Md5Text(message), c.digest) << "n=" << c.n;
        // Fed in pieces, across block boundaries, the digest is the same.
        for (size_t split = 1; split < c.n; split += c.n / 5 + 1) {
            TMD5Context context;
            MD5Init(context);
            MD5Update(context, message.data(), static_cast<uint32_t>(split));
            MD5Update(context, message.data() + split, static_cast<uint32_t>(c.n - split));
            EXPECT_EQ(DigestToText(MD5Final(context)), c.digest) << "n=" << c.n << " split=" << split;
        }
    }
    EXPECT_EQ(Md5Text(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(MD5, BytesAtAnyAlignmentGiveTheSameDigest) {
    // Many blocks in one call, starting at every offset within a word.
    std::string message = Pattern(65536);
    for (size_t shift = 0; shift < 8; ++shift) {
        std::vector<char> buffer(shift + message.size());
        std::copy(message.begin(), message.end(), buffer.begin() + static_cast<long>(shift));
        TMD5Context context;
        MD5Init(context);
        MD5Update(context, buffer.data() + shift, static_cast<uint32_t>(message.size()));
        EXPECT_EQ(DigestToText(MD5Final(context)), "55f3da07043d8f6f30808f9309120b1d") << "shift=" << shift;
    }
}

#if !defined(_WIN32)
TEST(MD5, AgreesWithHashlibOnRandomLengths) {
    if (std::system("python3 -c 'import hashlib' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";
    for (size_t n : {1u, 17u, 54u, 57u, 62u, 127u, 129u, 4095u, 70001u}) {
        std::string message = Pattern(n);
        std::string command = "python3 -c \"import hashlib;print(hashlib.md5(bytes(((i*7+3)&255) for i in range(" +
                              std::to_string(n) + "))).hexdigest())\"";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[64] = {};
        ASSERT_NE(fgets(line, sizeof(line), pipe), nullptr);
        pclose(pipe);
        EXPECT_EQ(Md5Text(message), std::string(line, 32)) << "n=" << n;
    }
}
#endif

TEST(MD5, DigestStreamCoversTheRangeAndRestoresThePosition) {
    std::string body = Pattern(200000);
    TMemoryStream stream(std::vector<uint8_t>(body.begin(), body.end()));
    stream.SetPosition(1234);
    TMD5Digest whole = DigestStream(stream, 0, static_cast<int64_t>(body.size()));
    EXPECT_EQ(stream.Position(), 1234);
    EXPECT_EQ(DigestToText(whole), Md5Text(body));
    TMD5Digest part = DigestStream(stream, 70000, 65537);
    EXPECT_EQ(DigestToText(part), Md5Text(body.substr(70000, 65537)));
    EXPECT_EQ(DigestToText(DigestStream(stream, 10, 0)), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(stream.Position(), 1234);
}

TEST(MD5, DigestStreamPastTheEndFailsAndStillRestoresThePosition) {
    TMemoryStream stream(std::vector<uint8_t>(100, 7));
    stream.SetPosition(42);
    EXPECT_THROW(DigestStream(stream, 50, 51), EStreamError);
    EXPECT_EQ(stream.Position(), 42);
}

TEST(MD5, ParseDigestAcceptsEveryLetterCase) {
    TMD5Digest lower = ParseDigest("900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(ParseDigest("900150983CD24FB0D6963F7D28E17F72"), lower);
    EXPECT_EQ(ParseDigest("900150983Cd24fB0d6963F7d28E17f72"), lower);
    EXPECT_EQ(lower[0], 0x90);
    EXPECT_EQ(lower[15], 0x72);
}

TEST(MD5, ParseDigestRejectsBadTextsQuotingThem) {
    for (std::string bad :
         {std::string(""), std::string(31, 'a'), std::string(33, 'a'), std::string("900150983cd24fb0d6963f7d28e17f7g"),
          std::string("900150983cd24fb0d6963f7d28e17f7 "), std::string("0x0150983cd24fb0d6963f7d28e17f72")}) {
        EXPECT_THAT([&] { ParseDigest(bad); }, ThrowsMessage<EConvertError>(bad + " is not a valid MD5 value"));
    }
}

TEST(MD5, DigestsDifferingInTheLastByteAreNotTheSame) {
    TMD5Digest a = ParseDigest("900150983cd24fb0d6963f7d28e17f72");
    TMD5Digest b = a;
    EXPECT_TRUE(SameDigest(a, b));
    b[15] ^= 1;
    EXPECT_FALSE(SameDigest(a, b));
    b = a;
    b[0] ^= 0x80;
    EXPECT_FALSE(SameDigest(a, b));
}

// The FIPS 180-4 examples, fed in pieces that straddle the block boundaries.
TEST(Sha256, DigestsTheStandardExamplesWhicheverWayTheBytesArrive) {
    auto digest = [](const std::string& Message, size_t Piece) {
        TSha256Context context;
        Sha256Init(context);
        for (size_t at = 0; at < Message.size(); at += Piece)
            Sha256Update(context, Message.data() + at, std::min(Piece, Message.size() - at));
        return Sha256ToText(Sha256Final(context));
    };
    EXPECT_EQ(digest("abc", 1), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    for (size_t piece : {size_t(1), size_t(55), size_t(64)})
        EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", piece),
                  "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1");
    EXPECT_EQ(digest(std::string(1000000, 'a'), 7), "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0");
}
