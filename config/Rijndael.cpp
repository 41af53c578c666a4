#include "config/Rijndael.h"

#include <cstring>

namespace {

// The S-box and its inverse, built once from the field inverse and the affine map.
struct Tables {
    uint8_t sbox[256];
    uint8_t inv_sbox[256];

    Tables()
    {
        uint8_t p = 1, q = 1;
        // Walk the multiplicative group with generator 3 and its inverse together.
        do {
            p = static_cast<uint8_t>(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0));
            q ^= static_cast<uint8_t>(q << 1);
            q ^= static_cast<uint8_t>(q << 2);
            q ^= static_cast<uint8_t>(q << 4);
            if (q & 0x80)
                q ^= 0x09;
            const uint8_t x = static_cast<uint8_t>(q ^ Rotl(q, 1) ^ Rotl(q, 2) ^ Rotl(q, 3) ^ Rotl(q, 4));
            sbox[p] = static_cast<uint8_t>(x ^ 0x63);
        } while (p != 1);
        sbox[0] = 0x63;
        for (int i = 0; i < 256; ++i)
            inv_sbox[sbox[i]] = static_cast<uint8_t>(i);
    }

    static uint8_t Rotl(uint8_t v, int n) { return static_cast<uint8_t>((v << n) | (v >> (8 - n))); }
};

const Tables& T()
{
    static const Tables tables;
    return tables;
}

uint8_t Xtime(uint8_t v) { return static_cast<uint8_t>((v << 1) ^ ((v & 0x80) ? 0x1B : 0)); }

uint8_t Mul(uint8_t a, uint8_t b)
{
    uint8_t r = 0;
    while (b) {
        if (b & 1)
            r ^= a;
        a = Xtime(a);
        b >>= 1;
    }
    return r;
}

// Row shift offsets for 4, 6 and 8 columns; the 8-column block shifts rows 2 and 3
// further.
int Shift(int row, int columns) { return (columns == 8 && row >= 2) ? row + 1 : row; }

bool ValidLength(int len) { return len == 16 || len == 24 || len == 32; }

uint8_t KeyByte(const uint32_t (*keys)[8], int round, int column, int row)
{
    return static_cast<uint8_t>(keys[round][column] >> (24 - 8 * row));
}

} // namespace

bool Rijndael::MakeKey(const uint8_t* key, const uint8_t* chain, int key_len, int block_len)
{
    keyed_ = false;
    if (!key || !ValidLength(key_len) || !ValidLength(block_len))
        return false;
    const Tables& t = T();
    key_len_ = key_len;
    block_len_ = block_len;
    const int nk = key_len / 4, nb = block_len / 4;
    rounds_ = (nk > nb ? nk : nb) + 6;
    std::memset(chain_, 0, sizeof chain_);
    if (chain)
        std::memcpy(chain_, chain, static_cast<size_t>(block_len));

    // Key expansion into nb * (rounds + 1) words, stored round by round.
    const int total = nb * (rounds_ + 1);
    uint32_t w[8 * 15];
    for (int i = 0; i < nk; ++i)
        w[i] = (uint32_t(key[4 * i]) << 24) | (uint32_t(key[4 * i + 1]) << 16) | (uint32_t(key[4 * i + 2]) << 8) |
               key[4 * i + 3];
    uint8_t rcon = 1;
    auto sub_word = [&](uint32_t v) {
        return (uint32_t(t.sbox[v >> 24]) << 24) | (uint32_t(t.sbox[(v >> 16) & 0xFF]) << 16) |
               (uint32_t(t.sbox[(v >> 8) & 0xFF]) << 8) | t.sbox[v & 0xFF];
    };
    for (int i = nk; i < total; ++i) {
        uint32_t temp = w[i - 1];
        if (i % nk == 0) {
            temp = sub_word((temp << 8) | (temp >> 24)) ^ (uint32_t(rcon) << 24);
            rcon = Xtime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            temp = sub_word(temp);
        }
        w[i] = w[i - nk] ^ temp;
    }
    std::memset(enc_keys_, 0, sizeof enc_keys_);
    for (int i = 0; i < total; ++i)
        enc_keys_[i / nb][i % nb] = w[i];
    keyed_ = true;
    return true;
}

void Rijndael::EncryptBlock(const uint8_t* in, uint8_t* out) const
{
    const Tables& t = T();
    const int nb = block_len_ / 4;
    uint8_t s[32], tmp[32];
    for (int i = 0; i < block_len_; ++i)
        s[i] = static_cast<uint8_t>(in[i] ^ KeyByte(enc_keys_, 0, i / 4, i % 4));
    for (int round = 1; round <= rounds_; ++round) {
        // SubBytes and ShiftRows; the state is column-major, byte (row, column) at 4 * column + row.
        for (int c = 0; c < nb; ++c)
            for (int r = 0; r < 4; ++r)
                tmp[4 * c + r] = t.sbox[s[4 * ((c + Shift(r, nb)) % nb) + r]];
        if (round != rounds_) {
            for (int c = 0; c < nb; ++c) {
                const uint8_t* a = tmp + 4 * c;
                uint8_t* o = s + 4 * c;
                o[0] = static_cast<uint8_t>(Xtime(a[0]) ^ Xtime(a[1]) ^ a[1] ^ a[2] ^ a[3]);
                o[1] = static_cast<uint8_t>(a[0] ^ Xtime(a[1]) ^ Xtime(a[2]) ^ a[2] ^ a[3]);
                o[2] = static_cast<uint8_t>(a[0] ^ a[1] ^ Xtime(a[2]) ^ Xtime(a[3]) ^ a[3]);
                o[3] = static_cast<uint8_t>(Xtime(a[0]) ^ a[0] ^ a[1] ^ a[2] ^ Xtime(a[3]));
            }
        } else {
            std::memcpy(s, tmp, static_cast<size_t>(block_len_));
        }
        for (int i = 0; i < block_len_; ++i)
            s[i] ^= KeyByte(enc_keys_, round, i / 4, i % 4);
    }
    std::memcpy(out, s, static_cast<size_t>(block_len_));
}

void Rijndael::DecryptBlock(const uint8_t* in, uint8_t* out) const
{
    const Tables& t = T();
    const int nb = block_len_ / 4;
    uint8_t s[32], tmp[32];
    for (int i = 0; i < block_len_; ++i)
        s[i] = static_cast<uint8_t>(in[i] ^ KeyByte(enc_keys_, rounds_, i / 4, i % 4));
    for (int round = rounds_ - 1; round >= 0; --round) {
        // Inverse ShiftRows and SubBytes, then the round key, then inverse MixColumns.
        for (int c = 0; c < nb; ++c)
            for (int r = 0; r < 4; ++r)
                tmp[4 * ((c + Shift(r, nb)) % nb) + r] = t.inv_sbox[s[4 * c + r]];
        for (int i = 0; i < block_len_; ++i)
            tmp[i] ^= KeyByte(enc_keys_, round, i / 4, i % 4);
        if (round == 0) {
            std::memcpy(s, tmp, static_cast<size_t>(block_len_));
            break;
        }
        for (int c = 0; c < nb; ++c) {
            const uint8_t* a = tmp + 4 * c;
            uint8_t* o = s + 4 * c;
            o[0] = static_cast<uint8_t>(Mul(a[0], 14) ^ Mul(a[1], 11) ^ Mul(a[2], 13) ^ Mul(a[3], 9));
            o[1] = static_cast<uint8_t>(Mul(a[0], 9) ^ Mul(a[1], 14) ^ Mul(a[2], 11) ^ Mul(a[3], 13));
            o[2] = static_cast<uint8_t>(Mul(a[0], 13) ^ Mul(a[1], 9) ^ Mul(a[2], 14) ^ Mul(a[3], 11));
            o[3] = static_cast<uint8_t>(Mul(a[0], 11) ^ Mul(a[1], 13) ^ Mul(a[2], 9) ^ Mul(a[3], 14));
        }
    }
    std::memcpy(out, s, static_cast<size_t>(block_len_));
}

bool Rijndael::Encrypt(const uint8_t* in, uint8_t* out, size_t len, Mode mode)
{
    const size_t block = static_cast<size_t>(block_len_);
    if (!keyed_ || !in || !out || len == 0 || len % block != 0)
        return false;
    // Every call starts from the chaining vector given at keying, so a run enciphered by
    // one call deciphers with one call on the same object.
    uint8_t chain[32];
    std::memcpy(chain, chain_, block);
    uint8_t work[32];
    for (size_t pos = 0; pos < len; pos += block) {
        switch (mode) {
        case Mode::ECB:
            EncryptBlock(in + pos, out + pos);
            break;
        case Mode::CBC:
            for (size_t i = 0; i < block; ++i)
                work[i] = static_cast<uint8_t>(in[pos + i] ^ chain[i]);
            EncryptBlock(work, out + pos);
            std::memcpy(chain, out + pos, block);
            break;
        case Mode::CFB:
            EncryptBlock(chain, work);
            for (size_t i = 0; i < block; ++i)
                out[pos + i] = static_cast<uint8_t>(in[pos + i] ^ work[i]);
            std::memcpy(chain, out + pos, block);
            break;
        }
    }
    return true;
}

bool Rijndael::Decrypt(const uint8_t* in, uint8_t* out, size_t len, Mode mode)
{
    const size_t block = static_cast<size_t>(block_len_);
    if (!keyed_ || !in || !out || len == 0 || len % block != 0)
        return false;
    uint8_t chain[32];
    std::memcpy(chain, chain_, block);
    uint8_t work[32], cipher_block[32];
    for (size_t pos = 0; pos < len; pos += block) {
        // Keep the input block first: `in` and `out` may be the same buffer.
        std::memcpy(cipher_block, in + pos, block);
        switch (mode) {
        case Mode::ECB:
            DecryptBlock(cipher_block, out + pos);
            break;
        case Mode::CBC:
            DecryptBlock(cipher_block, work);
            for (size_t i = 0; i < block; ++i)
                out[pos + i] = static_cast<uint8_t>(work[i] ^ chain[i]);
            std::memcpy(chain, cipher_block, block);
            break;
        case Mode::CFB:
            EncryptBlock(chain, work);
            for (size_t i = 0; i < block; ++i)
                out[pos + i] = static_cast<uint8_t>(cipher_block[i] ^ work[i]);
            std::memcpy(chain, cipher_block, block);
            break;
        }
    }
    return true;
}
