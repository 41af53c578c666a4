// Rijndael block cipher with 16-, 24- or 32-byte blocks and keys, in electronic-codebook,
// cipher-block-chaining and cipher-feedback modes. The INI store uses 32-byte blocks and
// keys in electronic-codebook mode for the enciphered account values.
#pragma once

#include <cstddef>
#include <cstdint>

class Rijndael {
public:
    enum class Mode { ECB, CBC, CFB };

    // Keys the object; only lengths 16, 24 and 32 are accepted for key and block, any
    // other leaves the object unkeyed. `chain` is block_len bytes (may be null: zeros).
    bool MakeKey(const uint8_t* key, const uint8_t* chain, int key_len, int block_len);
    bool IsKeyed() const { return keyed_; }
    int BlockLength() const { return block_len_; }

    // Whole runs only: an unkeyed object, an empty run or a length that is not a multiple
    // of the block length leaves `out` untouched and returns false. Chaining modes start
    // every call from the vector given to MakeKey. `in` and `out` may be the same buffer.
    bool Encrypt(const uint8_t* in, uint8_t* out, size_t len, Mode mode = Mode::ECB);
    bool Decrypt(const uint8_t* in, uint8_t* out, size_t len, Mode mode = Mode::ECB);

    // One block (block_len bytes) of a keyed object.
    void EncryptBlock(const uint8_t* in, uint8_t* out) const;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const;

private:
    bool keyed_ = false;
    int key_len_ = 0;
    int block_len_ = 0;
    int rounds_ = 0;
    uint8_t chain_[32] = {};
    // Round keys, one row per round, one big-endian word per column.
    uint32_t enc_keys_[15][8] = {};
};

// The key and field size of the enciphered INI values.
inline constexpr char kIniCipherKey[] = "5B1E97C0D24A4F3B8E6C0A7D19F2E3C4";
inline constexpr int kCipherFieldSize = 64;
