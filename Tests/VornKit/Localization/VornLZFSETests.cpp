#include "VornLZFSE.h"
#include "VornTestSupport.h"

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::filesystem::path fixtureDir =
    std::filesystem::path(VORN_TEST_DATA_DIR) / "lzfse";

Bytes fixture(const std::string& name) {
    const std::string text = vornReadFile(fixtureDir / name);
    return Bytes(text.begin(), text.end());
}

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string asText(const Bytes& data) {
    return std::string(data.begin(), data.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void putU32(Bytes& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = std::uint8_t(value >> (8 * i));
    }
}

void putU16(Bytes& out, std::size_t at, std::uint16_t value) {
    out[at] = std::uint8_t(value);
    out[at + 1] = std::uint8_t(value >> 8);
}

std::uint32_t getU32(const Bytes& in, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | in[at + i];
    }
    return value;
}

std::uint64_t getU64(const Bytes& in, std::size_t at) {
    return std::uint64_t(getU32(in, at)) | std::uint64_t(getU32(in, at + 4)) << 32;
}

Bytes withHeader(std::string_view magic, std::initializer_list<std::uint32_t> fields) {
    Bytes out = bytes(magic);
    out.resize(4 + 4 * fields.size());
    std::size_t at = 4;
    for (const auto value : fields) {
        putU32(out, at, value);
        at += 4;
    }
    return out;
}

Bytes endBlock() {
    return bytes("bvx$");
}
Bytes rawBlock(std::string_view data) {
    return withHeader("bvx-", {std::uint32_t(data.size())}) + bytes(data);
}
Bytes lzvnBlock(std::uint32_t rawSize, const Bytes& payload) {
    return withHeader("bvxn", {rawSize, std::uint32_t(payload.size())}) + payload;
}
const Bytes lzvnEnd = {0x06, 0, 0, 0, 0, 0, 0, 0};

testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "\"" << text << "\" does not contain \"" << part << "\"";
}

enum class Outcome { decoded, rejected };

// Decodes hostile input: the only acceptable ways out are a result within the cap or our error.
Outcome decodeHostile(const Bytes& input, std::size_t cap = std::size_t{1} << 20) {
    try {
        const Bytes out = VornLZFSE::decode(input, cap);
        EXPECT_LE(out.size(), cap);
        return Outcome::decoded;
    } catch (const VornLZFSEError&) {
        return Outcome::rejected;
    }
}

std::string errorOf(const Bytes& input, std::size_t cap = VornLZFSE::defaultMaxOutput) {
    try {
        const Bytes out = VornLZFSE::decode(input, cap);
        return "decoded " + std::to_string(out.size()) + " bytes";
    } catch (const VornLZFSEError& error) {
        return error.what();
    }
}

// ---- A version-1 block (uncompressed tables) rebuilt from a version-2 fixture ----------------

struct V1Block {
    std::uint32_t rawBytes = 0, payloadBytes = 0, literals = 0, matches = 0;
    std::uint32_t literalPayload = 0, lmdPayload = 0;
    std::int32_t literalBits = 0;
    std::array<std::uint16_t, 4> literalStates{};
    std::int32_t lmdBits = 0;
    std::uint16_t lState = 0, mState = 0, dState = 0;
    std::array<std::uint16_t, 360> frequencies{};  // L (20), M (20), D (64), literals (256)
    Bytes payload;

    Bytes encode() const {
        Bytes out = bytes("bvx1");
        out.resize(772);
        const std::uint32_t fields[] = {rawBytes,
                                        payloadBytes,
                                        literals,
                                        matches,
                                        literalPayload,
                                        lmdPayload,
                                        std::uint32_t(literalBits)};
        for (std::size_t i = 0; i < 7; ++i) {
            putU32(out, 4 + 4 * i, fields[i]);
        }
        for (std::size_t i = 0; i < 4; ++i) {
            putU16(out, 32 + 2 * i, literalStates[i]);
        }
        putU32(out, 40, std::uint32_t(lmdBits));
        putU16(out, 44, lState);
        putU16(out, 46, mState);
        putU16(out, 48, dState);
        for (std::size_t i = 0; i < frequencies.size(); ++i) {
            putU16(out, 50 + 2 * i, frequencies[i]);
        }
        return out + payload;
    }
};

// Reads the v2 header of the block at the start of `stream`: the frequencies are a string of
// prefix codes read least significant bit first (a run of up to four 1 bits picks the length).
V1Block fromVersion2(const Bytes& stream) {
    EXPECT_EQ(asText(Bytes(stream.begin(), stream.begin() + 4)), "bvx2");
    auto bitsOf = [](std::uint64_t word, int offset, int width) {
        return std::uint32_t((word >> offset) & ((std::uint64_t{1} << width) - 1));
    };
    const std::uint64_t w0 = getU64(stream, 8), w1 = getU64(stream, 16), w2 = getU64(stream, 24);
    V1Block b;
    b.rawBytes = getU32(stream, 4);
    b.literals = bitsOf(w0, 0, 20);
    b.literalPayload = bitsOf(w0, 20, 20);
    b.matches = bitsOf(w0, 40, 20);
    b.literalBits = std::int32_t(bitsOf(w0, 60, 3)) - 7;
    for (int i = 0; i < 4; ++i) {
        b.literalStates[i] = std::uint16_t(bitsOf(w1, 10 * i, 10));
    }
    b.lmdPayload = bitsOf(w1, 40, 20);
    b.lmdBits = std::int32_t(bitsOf(w1, 60, 3)) - 7;
    const std::uint32_t headerSize = bitsOf(w2, 0, 32);
    b.lState = std::uint16_t(bitsOf(w2, 32, 10));
    b.mState = std::uint16_t(bitsOf(w2, 42, 10));
    b.dState = std::uint16_t(bitsOf(w2, 52, 10));
    b.payloadBytes = b.literalPayload + b.lmdPayload;

    std::size_t bit = 32 * 8;
    auto next = [&](int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++bit) {
            value |= std::uint32_t((stream[bit / 8] >> (bit % 8)) & 1) << i;
        }
        return value;
    };
    for (auto& f : b.frequencies) {
        int ones = 0;
        while (ones < 4 && next(1) == 1) {
            ++ones;
        }
        static constexpr int valueBits[] = {1, 1, 2, 4, 10};
        static constexpr int base[] = {0, 2, 4, 8, 24};
        f = std::uint16_t(base[ones] + next(valueBits[ones]));
    }
    EXPECT_EQ((bit + 7) / 8, headerSize);
    b.payload.assign(stream.begin() + headerSize, stream.begin() + headerSize + b.payloadBytes);
    return b;
}

std::size_t v2BlockSize(const Bytes& stream) {
    const V1Block b = fromVersion2(stream);
    return std::size_t(getU64(stream, 24) & 0xffffffff) + b.payloadBytes;
}

}  // namespace

TEST(VornLZFSE, FixturesDecodeToTheirOriginals) {
    // Raw, LZVN, single and multi-block v2 streams made by the reference encoder.
    for (const std::string name : {"empty.json", "de.json", "fr.json", "ja.json", "ru.json"}) {
        SCOPED_TRACE(name);
        const Bytes original = fixture(name);
        EXPECT_EQ(VornLZFSE::decode(fixture(name + ".lzfse")), original);
    }
}

TEST(VornLZFSE, HandMadeBlocksDecode) {
    struct Case {
        const char* name;
        Bytes stream;
        std::string expected;
    };
    const Bytes abc = {0xe3, 'a', 'b', 'c'};
    const std::vector<Case> cases = {
        {"empty stream", endBlock(), ""},
        {"empty raw block", rawBlock("") + endBlock(), ""},
        {"raw blocks in a row", rawBlock("hello ") + rawBlock("world") + endBlock(), "hello world"},
        {"short literals", lzvnBlock(3, abc + lzvnEnd) + endBlock(), "abc"},
        {"long literals",
         lzvnBlock(17, Bytes{0xe0, 0x01} + bytes("0123456789abcdefg") + lzvnEnd) + endBlock(),
         "0123456789abcdefg"},
        {"small distance with literal, overlapping",
         lzvnBlock(4, Bytes{0x40, 0x01, 'x'} + lzvnEnd) + endBlock(), "xxxx"},
        {"previous distance, short match and no-ops",
         lzvnBlock(10, Bytes{0x40, 0x01, 'x', 0x0e, 0xf2, 0x16, 0x46, 'y'} + lzvnEnd) + endBlock(),
         "xxxxxxyyyy"},
        {"medium distance", lzvnBlock(7, abc + Bytes{0xa0, 0x0d, 0x00} + lzvnEnd) + endBlock(),
         "abcabca"},
        {"large distance then long match",
         lzvnBlock(21, Bytes{0xe2, 'a', 'b', 0x07, 0x02, 0x00, 0xf0, 0x00} + lzvnEnd) + endBlock(),
         "ababababababababababa"},
        {"match into the previous block",
         rawBlock("hello ") + lzvnBlock(6, Bytes{0x17, 0x06, 0x00, 0xe1, '!'} + lzvnEnd) +
             endBlock(),
         "hello hello!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(asText(VornLZFSE::decode(c.stream)), c.expected);
    }
}

TEST(VornLZFSE, MalformedLZVNIsRejected) {
    struct Case {
        const char* name;
        std::uint32_t rawSize;
        Bytes payload;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"match before the output start", 4, Bytes{0x40, 0x02, 'x'} + lzvnEnd,
         "match distance 2 reaches before the start of the output (1 bytes decoded)"},
        {"match at distance zero", 4, Bytes{0x40, 0x00, 'x'} + lzvnEnd, "match distance 0"},
        {"previous distance before any", 4, Bytes{0xe1, 'x', 0xf3} + lzvnEnd, "match distance 0"},
        {"undefined opcode 0x1e", 1, Bytes{0x1e} + lzvnEnd, "undefined opcode 0x1e"},
        {"undefined opcode 0x70", 1, Bytes{0x70} + lzvnEnd, "undefined opcode 0x70"},
        {"undefined opcode 0x7f", 1, Bytes{0x7f} + lzvnEnd, "undefined opcode 0x7f"},
        {"no end marker", 1, Bytes{0xe1, 'x'}, "LZVN payload is truncated"},
        {"cut end marker", 1, Bytes{0xe1, 'x', 0x06, 0, 0}, "LZVN payload is truncated"},
        {"literals overrun the payload", 5, Bytes{0xe5, 'a'}, "LZVN payload is truncated"},
        {"cut distance", 5, Bytes{0xe1, 'a', 0x07, 0x01}, "LZVN payload is truncated"},
        {"damaged end marker", 1, Bytes{0xe1, 'x', 0x06, 0, 0, 0, 1, 0, 0, 0},
         "end-of-stream marker is damaged"},
        {"bytes after the end marker", 1, Bytes{0xe1, 'x'} + lzvnEnd + Bytes{0},
         "1 bytes after its end-of-stream marker"},
        {"more output than declared", 2, Bytes{0xe3, 'a', 'b', 'c'} + lzvnEnd,
         "more than its declared 2 bytes"},
        {"match overruns the declared size", 3, Bytes{0x40, 0x01, 'x'} + lzvnEnd,
         "more than its declared 3 bytes"},
        {"less output than declared", 4, Bytes{0xe3, 'a', 'b', 'c'} + lzvnEnd,
         "LZVN block decodes to 3 bytes, not the declared 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(contains(errorOf(lzvnBlock(c.rawSize, c.payload) + endBlock()), c.error));
    }
}

TEST(VornLZFSE, Version1BlocksDecodeAndEveryInconsistencyIsRejected) {
    const Bytes ja = fixture("ja.json.lzfse");
    const std::string original = asText(fixture("ja.json"));
    const V1Block valid = fromVersion2(ja);
    ASSERT_EQ(v2BlockSize(ja) + 4, ja.size());
    EXPECT_EQ(asText(VornLZFSE::decode(valid.encode() + endBlock())), original);
    // Both versions mixed in one stream.
    EXPECT_EQ(asText(VornLZFSE::decode(valid.encode() + ja)), original + original);

    struct Case {
        const char* name;
        std::function<void(V1Block&)> change;
        const char* error;  // empty: any of our errors
    };
    const std::vector<Case> cases = {
        {"literal table over", [](V1Block& b) { b.frequencies[104] += 1; },
         "literal frequencies add up to 1025, not 1024"},
        {"distance table under", [](V1Block& b) { b.frequencies[40] = 0; },
         "match distance frequencies add up to"},
        {"length table over", [](V1Block& b) { b.frequencies[0] += 64; },
         "literal-run length frequencies add up to"},
        {"payload size not the sum of its parts", [](V1Block& b) { b.payloadBytes += 1; },
         "is not its literal"},
        {"raw size too big", [](V1Block& b) { b.rawBytes += 1; },
         "LZFSE v1 block decodes to 34936 bytes, not the declared 34937"},
        {"raw size too small", [](V1Block& b) { b.rawBytes -= 1; }, "more than its declared"},
        {"too few literals", [](V1Block& b) { b.literals = 4; },
         "literal stream has data left over"},
        {"more literals than a block holds", [](V1Block& b) { b.literals = 0xffffffff; },
         "more than a block holds"},
        {"more matches than a block holds", [](V1Block& b) { b.matches = 10001; },
         "more than a block holds"},
        {"one match too few", [](V1Block& b) { b.matches -= 1; }, ""},
        {"more literals than used", [](V1Block& b) { b.literals += 4; }, ""},
        {"literal padding out of range", [](V1Block& b) { b.literalBits = 1; },
         "invalid stream padding"},
        {"match padding out of range", [](V1Block& b) { b.lmdBits = -8; },
         "invalid stream padding"},
        {"literal state out of range", [](V1Block& b) { b.literalStates[2] = 1024; },
         "initial state out of range"},
        {"distance state out of range", [](V1Block& b) { b.dState = 256; },
         "initial state out of range"},
        {"literal payload longer",
         [](V1Block& b) {
             b.literalPayload += 1;
             b.lmdPayload -= 1;
         },
         ""},
        {"payload split moved",
         [](V1Block& b) {
             b.literalPayload -= 1;
             b.lmdPayload += 1;
         },
         ""},
        {"payload cut short", [](V1Block& b) { b.payload.pop_back(); }, ""},
        {"huge payload claimed",
         [](V1Block& b) {
             b.lmdPayload = 0x7ffffff0;
             b.payloadBytes = b.literalPayload + b.lmdPayload;
         },
         "LZFSE block payload is truncated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        V1Block changed = valid;
        c.change(changed);
        const Bytes stream = changed.encode() + endBlock();
        try {
            VornLZFSE::decode(stream);
            ADD_FAILURE() << "decoded";
        } catch (const VornLZFSEError& error) {
            EXPECT_TRUE(contains(error.what(), c.error));
        }
    }
}

TEST(VornLZFSE, StreamLevelErrorsAreClear) {
    const Bytes de = fixture("de.json.lzfse");
    const Bytes ja = fixture("ja.json.lzfse");
    Bytes hugeHeader = ja;
    putU32(hugeHeader, 24, 0xffffffff);  // v2 header size
    Bytes hugeLiteralPayload = ja;
    hugeLiteralPayload[10] |= 0xf0;  // top bits of the 20-bit literal payload size
    hugeLiteralPayload[11] = 0xff;
    hugeLiteralPayload[12] = 0xff;
    Bytes reserved = ja;
    reserved[31] |= 0x80;

    struct Case {
        const char* name;
        Bytes stream;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"empty input", {}, "input ends without an end-of-stream block"},
        {"no end block", rawBlock("abc"), "input ends without an end-of-stream block"},
        {"unknown magic", bytes("bvx3") + endBlock(), "unknown block magic 0x33787662 at offset 0"},
        {"not a stream", bytes("{\"a\":1}"), "unknown block magic"},
        {"trailing garbage", de + Bytes{0}, "1 bytes follow the end-of-stream block"},
        {"second stream appended", de + de, "follow the end-of-stream block"},
        {"raw size beyond the input", withHeader("bvx-", {0xffffffff}) + bytes("abc") + endBlock(),
         "raw block is truncated"},
        {"LZVN size beyond the cap", lzvnBlock(0xffffffff, lzvnEnd) + endBlock(),
         "LZVN block of 4294967295 bytes would exceed the output limit of 67108864 bytes"},
        {"LZVN payload beyond the input", withHeader("bvxn", {3, 0xffffffff}) + endBlock(),
         "LZVN block payload is truncated"},
        {"v2 header size beyond the input", hugeHeader, "LZFSE v2 header size 4294967295"},
        {"v2 literal payload beyond the input", hugeLiteralPayload,
         "LZFSE block payload is truncated"},
        {"v2 reserved bits", reserved, "reserved bits set"},
        {"cut headers", bytes("bvx-\x01"), "raw block header is truncated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(contains(errorOf(c.stream), c.error));
    }
    // A declared size is never trusted for allocation, even when the cap would allow it.
    EXPECT_TRUE(contains(errorOf(lzvnBlock(0xffffffff, lzvnEnd) + endBlock(), SIZE_MAX),
                         "decodes to 0 bytes, not the declared 4294967295"));
}

TEST(VornLZFSE, OutputCapIsEnforced) {
    const Bytes ja = fixture("ja.json.lzfse");
    const std::size_t size = fixture("ja.json").size();
    EXPECT_EQ(VornLZFSE::decode(ja, size).size(), size);
    EXPECT_TRUE(contains(errorOf(ja, size - 1), "would exceed the output limit of"));
    EXPECT_TRUE(contains(errorOf(fixture("ru.json.lzfse"), std::size_t{1} << 20),
                         "would exceed the output limit of 1048576 bytes"));
    EXPECT_TRUE(contains(errorOf(rawBlock("ab") + rawBlock("c") + endBlock(), 2),
                         "raw block of 1 bytes would exceed"));
}

TEST(VornLZFSE, EveryTruncationIsRejected) {
    for (const std::string name : {"empty.json", "de.json", "fr.json", "ja.json", "ru.json"}) {
        SCOPED_TRACE(name);
        const Bytes full = fixture(name + ".lzfse");
        // Every prefix of the small files; for the big one, a spread of cuts plus the last bytes.
        const std::size_t step = full.size() > 10000 ? full.size() / 40 : 1;
        std::vector<std::size_t> cuts;
        for (std::size_t cut = 0; cut < full.size(); cut += step) {
            cuts.push_back(cut);
        }
        for (std::size_t back = 1; back <= 12 && back <= full.size(); ++back) {
            cuts.push_back(full.size() - back);
        }
        for (const std::size_t cut : cuts) {
            const Bytes prefix(full.begin(), full.begin() + std::ptrdiff_t(cut));
            EXPECT_EQ(decodeHostile(prefix, VornLZFSE::defaultMaxOutput), Outcome::rejected)
                << "prefix of " << cut << " bytes";
        }
    }
}

TEST(VornLZFSE, SingleByteCorruptionsNeverCrash) {
    const Bytes v1 = fromVersion2(fixture("ja.json.lzfse")).encode() + endBlock();
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"de", fixture("de.json.lzfse")},
        {"fr", fixture("fr.json.lzfse")},
        {"empty", fixture("empty.json.lzfse")},
        {"ja", fixture("ja.json.lzfse")},
        {"ja v1", v1},
    };
    for (const auto& [name, original] : inputs) {
        SCOPED_TRACE(name);
        // Every position of the small inputs, a deterministic spread of the larger ones, and
        // always the whole of the headers.
        const std::size_t step = original.size() > 2000 ? 5 : 1;
        int rejected = 0;
        for (std::size_t at = 0; at < original.size(); ++at) {
            if (at >= 800 && at % step != 0) {
                continue;
            }
            for (const std::uint8_t flip :
                 {std::uint8_t{0x01}, std::uint8_t{0x80}, std::uint8_t{0xff}}) {
                Bytes changed = original;
                changed[at] ^= flip;
                rejected += decodeHostile(changed) == Outcome::rejected;
            }
        }
        EXPECT_GT(rejected, 0);
    }
}

TEST(VornLZFSE, RandomBlocksWithValidHeadersNeverCrash) {
    std::mt19937 random(20240917);  // fixed: the same inputs on every run
    auto noise = [&](std::size_t count) {
        Bytes out(count);
        for (auto& b : out) {
            b = std::uint8_t(random());
        }
        return out;
    };

    // Any magic followed by garbage.
    for (const char* magic : {"bvx-", "bvxn", "bvx1", "bvx2", "bvx$"}) {
        for (int i = 0; i < 200; ++i) {
            const Bytes stream = bytes(magic) + noise(random() % 64);
            const Outcome outcome = decodeHostile(stream);
            if (std::string_view(magic) == "bvx$" && stream.size() > 4) {
                EXPECT_EQ(outcome, Outcome::rejected);
            }
        }
    }

    // Well-formed LZVN headers over random opcodes.
    for (int i = 0; i < 400; ++i) {
        const Bytes payload = noise(1 + random() % 200);
        decodeHostile(lzvnBlock(std::uint32_t(random() % 4096), payload) + endBlock());
    }

    // Real v2 and v1 tables over random bit streams of the declared sizes.
    const Bytes ja = fixture("ja.json.lzfse");
    const std::size_t headerSize = std::size_t(getU64(ja, 24) & 0xffffffff);
    V1Block v1 = fromVersion2(ja);
    for (int i = 0; i < 60; ++i) {
        Bytes v2 = ja;
        const Bytes payload = noise(v1.payloadBytes);
        std::copy(payload.begin(), payload.end(), v2.begin() + std::ptrdiff_t(headerSize));
        decodeHostile(v2);
        v1.payload = payload;
        decodeHostile(v1.encode() + endBlock());
    }
}
