// Reading an AES-256-CBC encrypted file line by line (and, for the schedule-file
// tool, writing one).
#pragma once

#include <cstdint>
#include <cstdio>

// OpenSSL's context type, declared here so that this header stays light.
struct evp_cipher_ctx_st;

namespace omvar::crypt {

constexpr int kChunkSize = 1008;        // 63 cipher blocks
constexpr int kOutBufferSize = 1024;    // one chunk and the block held back

struct EncryptedStream {
    std::FILE* file;
    evp_cipher_ctx_st* cipher_ctx;
    unsigned char in_buf[kChunkSize];
    unsigned char out_buf[kOutBufferSize];
    std::int32_t avail;
    std::int32_t eof;
    std::int32_t pos;
    std::int32_t encrypt;
};

int estream_open(EncryptedStream* stream, std::FILE* file, int encrypt);
char* estream_gets(EncryptedStream* stream, char* buf, int size);
int estream_close(EncryptedStream* stream);

}  // namespace omvar::crypt
