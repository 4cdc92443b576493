// Reading an AES-256-CBC encrypted file line by line (and, for the schedule-file
// tool, writing one). Layout on disk: ciphertext only, zero IV, PKCS#7 padding.
#pragma once

#include <cstdint>
#include <cstdio>

// OpenSSL's context type, declared here so that this header stays light.
struct evp_cipher_ctx_st;

namespace omvar::crypt {

constexpr int kChunkSize = 1008;      // 63 cipher blocks
constexpr int kOutBufferSize = 1024;  // one chunk and the block held back

struct EncryptedStream {
    std::FILE* file;  // null when the stream reads a descriptor
    int fd;           // the descriptor read when file is null
    evp_cipher_ctx_st* cipher_ctx;
    unsigned char in_buf[kChunkSize];
    unsigned char out_buf[kOutBufferSize];
    std::int32_t avail;
    std::int32_t eof;
    std::int32_t pos;
    std::int32_t encrypt;
    // Set when the final cipher step accepted the padding. Only the tool reports
    // it; the agent judges a file by its header alone.
    std::int32_t final_ok;
};

// 0, or -1 when the schedule key of key_dir's key file cannot be had (the record
// then needs no close). encrypt 0 reads the file, 1 writes it.
int estream_open(EncryptedStream* stream, std::FILE* file, int encrypt, const char* key_dir);
// Reads the descriptor fd (open, as the platform's file_open_regular gives it)
// straight into the cipher: one read per chunk and nothing else. 0 or -1, as
// estream_open; the caller closes fd after estream_close.
int estream_open_descriptor(EncryptedStream* stream, int fd, const char* key_dir);
// Like fgets over the decrypted bytes: buf, or nullptr at the end of the data.
char* estream_gets(EncryptedStream* stream, char* buf, int size);
// Releases the cipher state (0, or -1 if the library failed to); the file stays open.
// Safe on a record whose open failed.
int estream_close(EncryptedStream* stream);

// Raw decrypted bytes, for the tool: the count copied to buf, 0 at the end.
long estream_read(EncryptedStream* stream, unsigned char* buf, long size);
// Encrypting direction, for the tool: 0, or -1 when the file refuses the bytes.
int estream_write(EncryptedStream* stream, const void* data, long length);
// Writes the padded last block; call once, before estream_close.
int estream_finish(EncryptedStream* stream);

}  // namespace omvar::crypt
