#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/crypt/estream.h"
#include "crypt_test_portable.h"

namespace omvar::test {
namespace {

using Opened = OpenedStream;

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

    // The plaintext encrypted under the install's key (the writing direction
    // matches the openssl tool byte for byte: see the POSIX tests).
    std::string cipher_file(const std::string& plain) {
        std::string plain_path = install.file("plain");
        std::string cipher_path = install.file("cipher");
        write_file(plain_path, plain);
        EXPECT_TRUE(encrypt_file(key, plain_path, cipher_path));
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

// A plaintext whose padded ciphertext fills one 1024-byte chunk exactly, and one
// of many chunks read through a small buffer.
TEST_F(EncryptedStreamTest, PlaintextReadsBackWhole) {
    struct Case {
        const char* what;
        std::string plain;
        int size;
    };
    std::string one_chunk;
    for (int i = 0; one_chunk.size() < 1008; ++i) {
        one_chunk += "line " + std::to_string(i) + "\n";
    }
    one_chunk.resize(1008);
    std::string long_file;
    for (int i = 0; i < 5000; ++i) {
        long_file += std::string(static_cast<std::size_t>(i % 97), 'x') + std::to_string(i) + "\n";
    }
    const Case cases[] = {{"one whole chunk", one_chunk, 1024}, {"long file", long_file, 64}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = cipher_file(c.plain);
        EXPECT_EQ(read_file(path).size(), (c.plain.size() / 16 + 1) * 16);
        EXPECT_EQ(join(read_lines(path, c.size)), c.plain);
    }
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
    // Whole blocks, last block without valid padding (its last byte is 'V'): in
    // CBC the first 48 bytes of the padded ciphertext are the unpadded one.
    std::string unpadded = cipher_file(text48);
    ASSERT_EQ(read_file(unpadded).size(), 64u);
    write_file(unpadded, read_file(unpadded).substr(0, 48));
    EXPECT_EQ(join(read_lines(unpadded, 1024)), text48.substr(0, 32));

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
    ASSERT_TRUE(encrypt_file(std::string(32, 'k'), plain_path, path));
    std::string seen = join(read_lines(path, 1024));
    EXPECT_EQ(seen.find("Omvar"), std::string::npos);
}

TEST(EncryptedStreamNoKey, OpenFailsAndLeavesTheRecordZeroed) {
    InstallDir install;
    ASSERT_TRUE(std::filesystem::remove(install.file("etc")));
    write_file(install.file("x"), "0123456789abcdef");
    std::FILE* file = std::fopen(install.file("x").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    crypt::EncryptedStream stream;
    std::memset(&stream, 0x5a, sizeof stream);
    EXPECT_EQ(crypt::estream_open(&stream, file, 0, "."), -1);
    EXPECT_EQ(stream.cipher_ctx, nullptr);
    EXPECT_EQ(stream.file, nullptr);
    char buf[16];
    EXPECT_EQ(crypt::estream_gets(&stream, buf, sizeof buf), nullptr);
    EXPECT_EQ(crypt::estream_close(&stream), 0);
    std::fclose(file);
}

}  // namespace
}  // namespace omvar::test
