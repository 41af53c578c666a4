// The cipher against known-answer vectors of two independent implementations (all block
// and key lengths, electronic codebook, block chaining and cipher feedback), and its
// refusal of runs it cannot process.
#include "config/Rijndael.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex)
{
    Bytes out;
    if (hex == "-")
        return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

struct Vector {
    std::string mode;
    int block = 0;
    Bytes key, iv, plain, sealed;
};

std::vector<Vector> LoadVectors()
{
    std::ifstream in(SourceDir() / "tests/config/vectors/rijndael.txt");
    std::vector<Vector> vectors;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Vector v;
        std::string key, iv, plain, sealed;
        fields >> v.mode >> v.block >> key >> iv >> plain >> sealed;
        v.key = FromHex(key), v.iv = FromHex(iv), v.plain = FromHex(plain), v.sealed = FromHex(sealed);
        vectors.push_back(v);
    }
    return vectors;
}

Rijndael::Mode ModeOf(const std::string& name)
{
    if (name == "cbc")
        return Rijndael::Mode::CBC;
    if (name == "cfb")
        return Rijndael::Mode::CFB;
    return Rijndael::Mode::ECB;
}

} // namespace

TEST(Rijndael, MatchesKnownAnswersInEveryModeAndLength)
{
    const auto vectors = LoadVectors();
    ASSERT_GE(vectors.size(), 31u) << "vector file missing or cut";
    int block32_ecb = 0;
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.mode + " block " + std::to_string(v.block) + " key " + std::to_string(v.key.size()));
        Rijndael cipher;
        ASSERT_TRUE(cipher.MakeKey(v.key.data(), v.iv.empty() ? nullptr : v.iv.data(),
                                   static_cast<int>(v.key.size()), v.block));
        Bytes out(v.plain.size());
        ASSERT_TRUE(cipher.Encrypt(v.plain.data(), out.data(), out.size(), ModeOf(v.mode)));
        EXPECT_EQ(out, v.sealed);
        // Deciphering in place, the way the store reuses its work buffer.
        ASSERT_TRUE(cipher.Decrypt(out.data(), out.data(), out.size(), ModeOf(v.mode)));
        EXPECT_EQ(out, v.plain);
        if (v.mode == "ecb" && v.block == 32)
            ++block32_ecb;
    }
    // 32-byte blocks with 16-, 24- and 32-byte keys, plus the settings-value vectors.
    EXPECT_GE(block32_ecb, 7);
}

TEST(Rijndael, PublishedAesVectorsWithSixteenByteBlocks)
{
    const Bytes plain = FromHex("00112233445566778899AABBCCDDEEFF");
    const Bytes key = FromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    const char* expected[] = {"69C4E0D86A7B0430D8CDB78070B4C55A", "DDA97CA4864CDFE06EAF70A0EC0D7191",
                              "8EA2B7CA516745BFEAFC49904B496089"};
    for (int i = 0; i < 3; ++i) {
        Rijndael cipher;
        ASSERT_TRUE(cipher.MakeKey(key.data(), nullptr, 16 + 8 * i, 16));
        Bytes out(16);
        cipher.EncryptBlock(plain.data(), out.data());
        EXPECT_EQ(out, FromHex(expected[i]));
    }
}

TEST(Rijndael, RefusesBadLengthsAndLeavesOutputUntouched)
{
    const Bytes key(32, 0x41);
    Rijndael cipher;
    for (auto [key_len, block_len] : {std::pair{20, 32}, {32, 8}, {0, 16}, {32, 64}}) {
        EXPECT_FALSE(cipher.MakeKey(key.data(), nullptr, key_len, block_len));
        EXPECT_FALSE(cipher.IsKeyed());
    }
    Bytes in(64, 1), out(64, 0xEE);
    EXPECT_FALSE(cipher.Encrypt(in.data(), out.data(), in.size()));
    EXPECT_EQ(out, Bytes(64, 0xEE));

    ASSERT_TRUE(cipher.MakeKey(key.data(), nullptr, 32, 32));
    EXPECT_FALSE(cipher.Encrypt(in.data(), out.data(), 0));
    EXPECT_FALSE(cipher.Encrypt(in.data(), out.data(), 48));
    EXPECT_FALSE(cipher.Decrypt(in.data(), out.data(), 33, Rijndael::Mode::CBC));
    EXPECT_EQ(out, Bytes(64, 0xEE));

    // A rejected re-key must not leave the earlier key usable.
    EXPECT_FALSE(cipher.MakeKey(key.data(), nullptr, 32, 12));
    EXPECT_FALSE(cipher.Encrypt(in.data(), out.data(), 64));
}

TEST(Rijndael, ChainingStartsFromTheKeyedVectorOnEveryCall)
{
    const Bytes key(24, 0x17), chain(32, 0x5A);
    Rijndael cipher;
    ASSERT_TRUE(cipher.MakeKey(key.data(), chain.data(), 24, 32));
    Bytes plain(96);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<uint8_t>(i * 7);
    for (auto mode : {Rijndael::Mode::CBC, Rijndael::Mode::CFB}) {
        Bytes first(96), second(96);
        ASSERT_TRUE(cipher.Encrypt(plain.data(), first.data(), 96, mode));
        ASSERT_TRUE(cipher.Encrypt(plain.data(), second.data(), 96, mode));
        EXPECT_EQ(first, second);
        // Equal plain blocks give different cipher blocks when chained.
        Bytes same(64, 0x33), sealed(64);
        ASSERT_TRUE(cipher.Encrypt(same.data(), sealed.data(), 64, mode));
        EXPECT_NE(Bytes(sealed.begin(), sealed.begin() + 32), Bytes(sealed.begin() + 32, sealed.end()));
    }
}
