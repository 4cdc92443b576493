// The encrypted line stream over arbitrary ciphertext under an arbitrary key,
// read with a changing mix of buffer sizes. Every line must end in a NUL inside
// its buffer, and the lines together must be exactly what the cipher decrypts
// from the file (so no byte is handed out twice, invented or read past the data).
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "agent/crypt/estream.h"
#include "fuzz_support.h"

namespace {

// The whole file decrypted at once; the final block only if its padding is good.
std::string reference_plaintext(const unsigned char* key, const std::string& cipher) {
    static const unsigned char kIv[16] = {};
    std::vector<unsigned char> out(cipher.size() + 32);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    FUZZ_CHECK(ctx != nullptr);
    EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, kIv);
    int n = 0;
    int total = 0;
    if (!cipher.empty()) {
        EVP_DecryptUpdate(ctx, out.data(), &n, reinterpret_cast<const unsigned char*>(cipher.data()),
                          static_cast<int>(cipher.size()));
        total = n;
    }
    n = 0;
    if (EVP_DecryptFinal_ex(ctx, out.data() + total, &n) == 1) {
        total += n;
    }
    EVP_CIPHER_CTX_free(ctx);
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(total));
}

int size_from(std::uint16_t v) {
    switch (v >> 14) {
        case 0:
            return v % 4;  // 0 and 1 return nothing, 2 and 3 one byte per call
        case 1:
            return v % 40;
        case 2:
            return v % 1100;
        default:
            return v % 4096;
    }
}

constexpr unsigned char kSentinel = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    omvar::fuzz::Reader in{data, size};
    unsigned char key[32];
    for (unsigned char& b : key) {
        b = in.byte();
    }
    int sizes[8];
    for (int& s : sizes) {
        s = size_from(in.u16());
    }
    const std::string cipher = in.rest();
    const std::string expected = reference_plaintext(key, cipher);

    omvar::fuzz::use_key(key);
    const char* path = "cipher.bin";
    std::FILE* out = std::fopen(path, "wb");
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(std::fwrite(cipher.data(), 1, cipher.size(), out) == cipher.size());
    FUZZ_CHECK(std::fclose(out) == 0);

    std::FILE* file = std::fopen(path, "rb");
    FUZZ_CHECK(file != nullptr);
    omvar::crypt::EncryptedStream stream;
    FUZZ_CHECK(omvar::crypt::estream_open(&stream, file, 0, ".") == 0);

    std::size_t handed_out = 0;
    bool ended = false;
    const std::size_t max_calls = 4 * expected.size() + 64;
    for (std::size_t call = 0; call < max_calls && !ended; ++call) {
        const int buf_size = sizes[call % 8];
        // Exactly buf_size bytes (one for 0), so that any write past them is caught.
        std::vector<unsigned char> buf(static_cast<std::size_t>(buf_size > 0 ? buf_size : 1), kSentinel);
        const std::int32_t avail = stream.avail, pos = stream.pos, eof = stream.eof;
        char* got = omvar::crypt::estream_gets(&stream, reinterpret_cast<char*>(buf.data()), buf_size);
        if (buf_size < 2) {
            FUZZ_CHECK(got == nullptr);
            FUZZ_CHECK(stream.avail == avail && stream.pos == pos && stream.eof == eof);
            FUZZ_CHECK(buf[0] == kSentinel);
            continue;
        }
        if (got == nullptr) {
            ended = true;
            break;
        }
        FUZZ_CHECK(got == reinterpret_cast<char*>(buf.data()));
        // The line's end is the last NUL after which the buffer is untouched:
        // the stream writes the bytes and one NUL after them, nothing further.
        std::size_t end = buf.size();
        for (std::size_t i = buf.size(); i-- > 0;) {
            if (buf[i] == 0) {
                end = i;
                break;
            }
            if (buf[i] != kSentinel) {
                break;
            }
        }
        FUZZ_CHECK(end < buf.size());  // NUL-terminated within its buffer
        FUZZ_CHECK(end >= 1);          // a returned line holds at least one byte
        FUZZ_CHECK(handed_out + end <= expected.size());
        FUZZ_CHECK(std::memcmp(buf.data(), expected.data() + handed_out, end) == 0);
        // A line feed only ends a line; a line ends at one, at a full buffer or at the data's end.
        FUZZ_CHECK(std::memchr(buf.data(), '\n', end - 1) == nullptr);
        handed_out += end;
        FUZZ_CHECK(buf[end - 1] == '\n' || end == static_cast<std::size_t>(buf_size) - 1 ||
                   handed_out == expected.size());
    }
    if (ended) {
        FUZZ_CHECK(handed_out == expected.size());
        // The end stays the end.
        char again[16];
        FUZZ_CHECK(omvar::crypt::estream_gets(&stream, again, sizeof again) == nullptr);
    }
    omvar::crypt::estream_close(&stream);
    std::fclose(file);
    return 0;
}
