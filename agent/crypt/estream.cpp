#include "agent/crypt/estream.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>

#include "agent/crypt/crypto_init.h"
#include "agent/crypt/key_file.h"
#include "agent/platform/platform.h"

namespace omvar::crypt {

namespace {

constexpr unsigned char kZeroIv[16] = {};

// The library reports how many bytes it produced; anything outside the buffer
// is taken as nothing rather than trusted.
std::int32_t produced(int count) { return count > 0 && count <= kOutBufferSize ? count : 0; }

// Reads the next chunk and decrypts it into out_buf; at the end of the file runs
// the final step instead. Read errors end the data like the end of the file.
void refill(EncryptedStream* s) {
    std::size_t n = 0;
    if (s->file != nullptr) {
        n = std::fread(s->in_buf, 1, sizeof s->in_buf, s->file);
    } else {
        long got = platform::file_read(s->fd, s->in_buf, sizeof s->in_buf);
        n = got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    int count = 0;
    if (n > 0) {
        EVP_CipherUpdate(s->cipher_ctx, s->out_buf, &count, s->in_buf, static_cast<int>(n));
    } else {
        s->eof = 1;
        s->final_ok = EVP_CipherFinal_ex(s->cipher_ctx, s->out_buf, &count) == 1 ? 1 : 0;
    }
    s->avail = produced(count);
    s->pos = 0;
}

bool readable(const EncryptedStream* s) { return s->cipher_ctx != nullptr && s->encrypt == 0; }

bool write_bytes(EncryptedStream* s, int count) {
    std::size_t n = static_cast<std::size_t>(produced(count));
    return std::fwrite(s->out_buf, 1, n, s->file) == n;
}

// Fetched from the library once per process: EVP_aes_256_cbc() would take the
// library's lock and look the cipher up again for every file.
const EVP_CIPHER* aes_256_cbc() {
    static EVP_CIPHER* cipher = nullptr;
    if (cipher == nullptr) {
        cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    }
    return cipher;
}

// The key of key_dir's key file and the cipher context for either direction;
// -1 when either cannot be had.
int open_cipher(EncryptedStream* stream, int encrypt, const char* key_dir) {
    if (crypto_library_init() != 0) {
        return -1;
    }
    const EVP_CIPHER* cipher = aes_256_cbc();
    if (cipher == nullptr) {
        return -1;
    }
    unsigned char key[kScheduleKeySize];
    if (load_schedule_key(key_dir, key) != 0) {
        return -1;
    }
    // OpenSSL 3 keeps the context opaque: it lives from here to estream_close.
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) {
        OPENSSL_cleanse(key, sizeof key);
        return -1;
    }
    int init = EVP_CipherInit_ex(ctx, cipher, nullptr, key, kZeroIv, encrypt != 0 ? 1 : 0);
    OPENSSL_cleanse(key, sizeof key);
    if (init != 1) {
        // Without a key schedule every read would be meaningless.
        EVP_CIPHER_CTX_free(ctx);
        return -1;
    }
    stream->cipher_ctx = ctx;
    stream->encrypt = encrypt != 0 ? 1 : 0;
    return 0;
}

}  // namespace

int estream_open(EncryptedStream* stream, std::FILE* file, int encrypt, const char* key_dir) {
    std::memset(stream, 0, sizeof *stream);
    stream->fd = -1;
    if (open_cipher(stream, encrypt, key_dir) != 0) {
        return -1;
    }
    stream->file = file;
    return 0;
}

int estream_open_descriptor(EncryptedStream* stream, int fd, const char* key_dir) {
    std::memset(stream, 0, sizeof *stream);
    stream->fd = -1;
    if (open_cipher(stream, 0, key_dir) != 0) {
        return -1;
    }
    stream->fd = fd;
    return 0;
}

char* estream_gets(EncryptedStream* stream, char* buf, int size) {
    EncryptedStream* s = stream;
    if (!readable(s) || size < 2) {
        return nullptr;
    }
    char* out = buf;
    for (;;) {
        if (s->avail > 0) {
            const unsigned char* start = s->out_buf + s->pos;
            const void* lf = std::memchr(start, '\n', static_cast<std::size_t>(s->avail));
            bool complete = lf != nullptr;
            std::int32_t n =
                complete ? static_cast<std::int32_t>(static_cast<const unsigned char*>(lf) - start) + 1
                         : s->avail;
            if (n >= size - 1) {
                n = size - 1;
                complete = true;
            }
            std::memcpy(out, start, static_cast<std::size_t>(n));
            out[n] = '\0';
            if (n < s->avail) {
                s->avail -= n;
                s->pos += n;
                return buf;
            }
            s->avail = 0;
            s->pos = 0;
            if (complete) {
                return buf;
            }
            out += n;
            size -= n;
        }
        if (s->eof != 0) {
            return out != buf ? buf : nullptr;
        }
        refill(s);
    }
}

long estream_read(EncryptedStream* stream, unsigned char* buf, long size) {
    EncryptedStream* s = stream;
    if (!readable(s) || size <= 0) {
        return 0;
    }
    while (s->avail == 0 && s->eof == 0) {
        refill(s);
    }
    long n = s->avail < size ? s->avail : size;
    std::memcpy(buf, s->out_buf + s->pos, static_cast<std::size_t>(n));
    s->avail -= static_cast<std::int32_t>(n);
    s->pos = s->avail > 0 ? s->pos + static_cast<std::int32_t>(n) : 0;
    return n;
}

int estream_write(EncryptedStream* stream, const void* data, long length) {
    EncryptedStream* s = stream;
    if (s->cipher_ctx == nullptr || s->encrypt == 0 || length < 0) {
        return -1;
    }
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        // A chunk of 1008 bytes encrypts to at most 1008 + 15 bytes: out_buf holds it.
        int chunk = length < kChunkSize ? static_cast<int>(length) : kChunkSize;
        int count = 0;
        if (EVP_CipherUpdate(s->cipher_ctx, s->out_buf, &count, p, chunk) != 1 || !write_bytes(s, count)) {
            return -1;
        }
        p += chunk;
        length -= chunk;
    }
    return 0;
}

int estream_finish(EncryptedStream* stream) {
    EncryptedStream* s = stream;
    if (s->cipher_ctx == nullptr || s->encrypt == 0 || s->eof != 0) {
        return -1;
    }
    s->eof = 1;
    int count = 0;
    if (EVP_CipherFinal_ex(s->cipher_ctx, s->out_buf, &count) != 1 || !write_bytes(s, count)) {
        return -1;
    }
    return std::fflush(s->file) == 0 ? 0 : -1;
}

int estream_close(EncryptedStream* stream) {
    if (stream->cipher_ctx == nullptr) {
        return 0;
    }
    // Reset wipes the key schedule (EVP_CIPHER_CTX_cleanup is its old name);
    // free releases the opaque context itself.
    int result = EVP_CIPHER_CTX_reset(stream->cipher_ctx) == 1 ? 0 : -1;
    EVP_CIPHER_CTX_free(stream->cipher_ctx);
    stream->cipher_ctx = nullptr;
    OPENSSL_cleanse(stream->out_buf, sizeof stream->out_buf);
    return result;
}

}  // namespace omvar::crypt
