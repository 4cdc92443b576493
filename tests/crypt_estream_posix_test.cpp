// The stream against the openssl command-line tool, an independent
// implementation run through a shell.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "agent/crypt/estream.h"
#include "crypt_test_support.h"

namespace omvar::test {
namespace {

using Opened = OpenedStream;

TEST(EncryptedStreamOpenssl, EncryptingDirectionMatchesOpensslAndReadsBack) {
    InstallDir install;
    const std::string key = install.use_known_key();
    // The plaintext encrypted by the openssl tool.
    auto cipher_file = [&](const std::string& plain) {
        std::string plain_path = install.file("plain");
        std::string cipher_path = install.file("cipher");
        write_file(plain_path, plain);
        EXPECT_TRUE(openssl_encrypt(key, plain_path, cipher_path));
        return cipher_path;
    };

    for (std::size_t size : {0, 1, 15, 16, 17, 1007, 1008, 1009, 5000}) {
        SCOPED_TRACE(size);
        std::string plain;
        for (std::size_t i = 0; i < size; ++i) {
            plain += static_cast<char>((i * 37) & 0xff);  // NUL bytes included
        }
        std::string ours = install.file("ours.zbs");
        {
            Opened out(ours, 1);
            ASSERT_EQ(out.open_result, 0);
            // Uneven pieces, to cross the chunk size inside a call and between calls.
            std::size_t done = 0;
            for (std::size_t piece = 1; done < plain.size(); piece = piece * 3 + 1) {
                std::size_t n = std::min(piece, plain.size() - done);
                ASSERT_EQ(crypt::estream_write(&out.stream, plain.data() + done, static_cast<long>(n)), 0);
                done += n;
            }
            ASSERT_EQ(crypt::estream_finish(&out.stream), 0);
            char buf[8];
            EXPECT_EQ(crypt::estream_gets(&out.stream, buf, sizeof buf), nullptr);
        }
        EXPECT_EQ(read_file(ours), read_file(cipher_file(plain)));
        std::string back = install.file("back");
        ASSERT_TRUE(openssl_decrypt(key, ours, back));
        EXPECT_EQ(read_file(back), plain);

        Opened in(ours, 0);
        ASSERT_EQ(in.open_result, 0);
        EXPECT_EQ(crypt::estream_write(&in.stream, "x", 1), -1);
        std::string raw;
        unsigned char chunk[100];
        for (long n; (n = crypt::estream_read(&in.stream, chunk, sizeof chunk)) > 0;) {
            raw.append(reinterpret_cast<char*>(chunk), static_cast<std::size_t>(n));
        }
        EXPECT_EQ(raw, plain);
        EXPECT_EQ(in.stream.final_ok, 1);
    }
}

// The reading direction against files the tool wrote, padded and not.
TEST(EncryptedStreamOpenssl, ReadsWhatTheToolWrote) {
    InstallDir install;
    const std::string key = install.use_known_key();
    std::string text48;
    for (int i = 0; i < 48; ++i) {
        text48 += static_cast<char>('A' + i % 26);
    }
    struct Case {
        const char* what;
        std::string plain;
        std::string extra;
        std::string yielded;
    };
    const Case cases[] = {
        {"lines", "a\nb\r\n\nc", "", "a\nb\r\n\nc"},
        {"one whole chunk and more", std::string(2000, 'z') + "\n", "", std::string(2000, 'z') + "\n"},
        {"no padding: the last block is lost", text48, "-nopad", text48.substr(0, 32)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(install.file("plain"), c.plain);
        ASSERT_TRUE(openssl_encrypt(key, install.file("plain"), install.file("cipher"), c.extra));
        Opened in(install.file("cipher"), 0);
        ASSERT_EQ(in.open_result, 0);
        std::string all;
        char buf[1024];
        while (crypt::estream_gets(&in.stream, buf, sizeof buf) != nullptr) {
            all += buf;
        }
        EXPECT_EQ(all, c.yielded);
    }
}

}  // namespace
}  // namespace omvar::test
