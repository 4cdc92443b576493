#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "agent/crypt/estream.h"
#include "crypt_test_support.h"

namespace omvar::test {
namespace {

struct Opened {
    std::FILE* file = nullptr;
    crypt::EncryptedStream stream{};
    int open_result = -1;

    Opened(const std::string& path, int encrypt) {
        file = std::fopen(path.c_str(), encrypt != 0 ? "wb" : "rb");
        if (file != nullptr) {
            open_result = crypt::estream_open(&stream, file, encrypt);
        }
    }
    ~Opened() {
        if (open_result == 0) {
            crypt::estream_close(&stream);
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};

// Every line estream_gets returns for the file, read with the given size.
std::vector<std::string> read_lines(const std::string& path, int size) {
    Opened in(path, 0);
    EXPECT_EQ(in.open_result, 0);
    std::vector<std::string> lines;
    std::vector<char> buf(static_cast<std::size_t>(size) + 1, '#');
    while (in.open_result == 0 && crypt::estream_gets(&in.stream, buf.data(), size) != nullptr) {
        lines.emplace_back(buf.data());
        EXPECT_LT(lines.back().size(), static_cast<std::size_t>(size));
        EXPECT_EQ(buf[static_cast<std::size_t>(size)], '#') << "wrote past the buffer";
        if (lines.size() > 100000) {
            break;
        }
    }
    return lines;
}

std::string join(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) {
        all += line;
    }
    return all;
}

class EncryptedStreamTest : public ::testing::Test {
  protected:
    InstallDir install;
    std::string key = install.use_known_key();

    // The plaintext encrypted by the openssl tool, as an independent implementation.
    std::string cipher_file(const std::string& plain, const std::string& extra = "") {
        std::string plain_path = install.file("plain");
        std::string cipher_path = install.file("cipher");
        write_file(plain_path, plain);
        EXPECT_TRUE(openssl_encrypt(key, plain_path, cipher_path, extra));
        return cipher_path;
    }
};

TEST_F(EncryptedStreamTest, ReadsLinesLikeFgets) {
    struct Case {
        const char* what;
        std::string plain;
        int size;
        std::vector<std::string> lines;
    };
    const std::string a1000(1000, 'a');
    const std::string b100(100, 'b');
    const std::string c3000(3000, 'c');
    const Case cases[] = {
        {"one line without a line feed", "only line", 1024, {"only line"}},
        {"lines with line feeds", "a\nb\r\n\nc", 1024, {"a\n", "b\r\n", "\n", "c"}},
        {"line of exactly size - 1 bytes", "1234567\nX\n", 8, {"1234567", "\n", "X\n"}},
        {"line across two chunks", a1000 + "\n" + b100 + "\n", 1024, {a1000 + "\n", b100 + "\n"}},
        {"line longer than the buffer",
         c3000 + "\n",
         1024,
         {std::string(1023, 'c'), std::string(1023, 'c'), std::string(954, 'c') + "\n"}},
        {"smallest buffer", "ab\n", 2, {"a", "b", "\n"}},
        {"empty plaintext", "", 1024, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(read_lines(cipher_file(c.plain), c.size), c.lines);
    }
}

TEST_F(EncryptedStreamTest, PlaintextOfOneWholeChunk) {
    std::string plain;
    for (int i = 0; plain.size() < 1008; ++i) {
        plain += "line " + std::to_string(i) + "\n";
    }
    plain.resize(1008);
    std::string path = cipher_file(plain);
    EXPECT_EQ(read_file(path).size(), 1024u);
    EXPECT_EQ(join(read_lines(path, 1024)), plain);
}

TEST_F(EncryptedStreamTest, LongFileReadsBackWhole) {
    std::string plain;
    for (int i = 0; i < 5000; ++i) {
        plain += std::string(static_cast<std::size_t>(i % 97), 'x') + std::to_string(i) + "\n";
    }
    EXPECT_EQ(join(read_lines(cipher_file(plain), 64)), plain);
}

TEST_F(EncryptedStreamTest, EmptyFileYieldsNothing) {
    std::string path = install.file("empty");
    write_file(path, "");
    EXPECT_TRUE(read_lines(path, 1024).empty());
}

TEST_F(EncryptedStreamTest, BufferTooSmallReturnsNothingAndLeavesTheStream) {
    Opened in(cipher_file("first\nsecond\n"), 0);
    ASSERT_EQ(in.open_result, 0);
    char buf[64];
    EXPECT_EQ(crypt::estream_gets(&in.stream, buf, 1), nullptr);
    EXPECT_EQ(crypt::estream_gets(&in.stream, buf, 0), nullptr);
    EXPECT_EQ(crypt::estream_gets(&in.stream, buf, -3), nullptr);
    ASSERT_NE(crypt::estream_gets(&in.stream, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "first\n");
    EXPECT_EQ(crypt::estream_gets(&in.stream, buf, 1), nullptr);
    ASSERT_NE(crypt::estream_gets(&in.stream, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "second\n");
    EXPECT_EQ(crypt::estream_gets(&in.stream, buf, sizeof buf), nullptr);
}

TEST_F(EncryptedStreamTest, DamagedEndsLoseOnlyTheirLastBlockOrTail) {
    std::string text48;
    for (int i = 0; i < 48; ++i) {
        text48 += static_cast<char>('A' + i % 26);
    }
    // Whole blocks, last block without valid padding (its last byte is 'V').
    EXPECT_EQ(join(read_lines(cipher_file(text48, "-nopad"), 1024)), text48.substr(0, 32));

    // Valid ciphertext cut to a length that is not a multiple of 16: every
    // complete block is handed out, the incomplete tail is lost.
    struct Cut {
        std::size_t plain_size;
        std::size_t cut_to;
        std::size_t yielded;
    };
    for (const Cut& cut : {Cut{40, 44, 32}, Cut{20, 24, 16}, Cut{2000, 2010, 2000}, Cut{5, 3, 0}}) {
        SCOPED_TRACE(cut.cut_to);
        std::string plain = text48;
        while (plain.size() < cut.plain_size) {
            plain += text48;
        }
        plain.resize(cut.plain_size);
        std::string path = cipher_file(plain);
        write_file(path, read_file(path).substr(0, cut.cut_to));
        EXPECT_EQ(join(read_lines(path, 1024)), plain.substr(0, cut.yielded));
    }
}

TEST_F(EncryptedStreamTest, AnotherKeyYieldsNoPlaintext) {
    std::string plain = "# Omvar Backup Schedule\nschedule=* * * * *\n";
    std::string path = install.file("other");
    std::string plain_path = install.file("plain");
    write_file(plain_path, plain);
    ASSERT_TRUE(openssl_encrypt(std::string(32, 'k'), plain_path, path));
    std::string seen = join(read_lines(path, 1024));
    EXPECT_EQ(seen.find("Omvar"), std::string::npos);
}

TEST_F(EncryptedStreamTest, EncryptingDirectionMatchesOpensslAndReadsBack) {
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

TEST(EncryptedStreamNoKey, OpenFailsAndLeavesTheRecordZeroed) {
    InstallDir install;
    ASSERT_EQ(rmdir(install.file("etc").c_str()), 0);
    write_file(install.file("x"), "0123456789abcdef");
    std::FILE* file = std::fopen(install.file("x").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    crypt::EncryptedStream stream;
    std::memset(&stream, 0x5a, sizeof stream);
    EXPECT_EQ(crypt::estream_open(&stream, file, 0), -1);
    EXPECT_EQ(stream.cipher_ctx, nullptr);
    EXPECT_EQ(stream.file, nullptr);
    char buf[16];
    EXPECT_EQ(crypt::estream_gets(&stream, buf, sizeof buf), nullptr);
    EXPECT_EQ(crypt::estream_close(&stream), 0);
    std::fclose(file);
}

}  // namespace
}  // namespace omvar::test
