#include "VornLZFSE.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <concepts>
#include <cstring>
#include <string>

// Every length and offset taken from the input is checked against what is actually there before
// it is used: sizes are compared by subtraction from known-good bounds (never by adding untrusted
// values), the output only grows by bytes that are really produced, and every block's output is
// held to its declared size, which itself has to fit under the caller's cap.

namespace {

constexpr std::uint32_t magicOf(const char (&tag)[5]) {
    return std::uint32_t(std::uint8_t(tag[0])) | std::uint32_t(std::uint8_t(tag[1])) << 8 |
           std::uint32_t(std::uint8_t(tag[2])) << 16 | std::uint32_t(std::uint8_t(tag[3])) << 24;
}

constexpr std::uint32_t endOfStreamMagic = magicOf("bvx$");
constexpr std::uint32_t rawMagic = magicOf("bvx-");
constexpr std::uint32_t lzvnMagic = magicOf("bvxn");
constexpr std::uint32_t fseV1Magic = magicOf("bvx1");
constexpr std::uint32_t fseV2Magic = magicOf("bvx2");

// Limits of one entropy-coded block, as every encoder sizes its buffers.
constexpr std::uint32_t maxMatchesPerBlock = 10000;
constexpr std::uint32_t maxLiteralsPerBlock = 4 * maxMatchesPerBlock;

constexpr int literalStates = 1024;
constexpr int lengthStates = 64;  // for both the literal-run (L) and match (M) lengths
constexpr int distanceStates = 256;

constexpr std::size_t literalSymbols = 256;
constexpr std::size_t lengthSymbols = 20;
constexpr std::size_t distanceSymbols = 64;
constexpr std::size_t frequencyCount = 2 * lengthSymbols + distanceSymbols + literalSymbols;

// L, M and D symbols stand for a base value plus that many raw bits.
constexpr std::array<std::uint8_t, lengthSymbols> literalRunExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 5, 8};
constexpr std::array<std::uint8_t, lengthSymbols> matchLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 5, 8, 11};
// Base values follow from the extra bits: each symbol starts where the previous one's range ends.
template <std::size_t N>
constexpr std::array<std::uint32_t, N> basesFromExtraBits(const std::array<std::uint8_t, N>& bits) {
    std::array<std::uint32_t, N> bases{};
    std::uint32_t next = 0;
    for (std::size_t i = 0; i < N; ++i) {
        bases[i] = next;
        next += std::uint32_t{1} << bits[i];
    }
    return bases;
}

// Distances come in groups of four symbols sharing an extra-bit count: 0,0,0,0,1,1,1,1,...,15.
constexpr std::array<std::uint8_t, distanceSymbols> makeDistanceExtraBits() {
    std::array<std::uint8_t, distanceSymbols> bits{};
    for (std::size_t i = 0; i < distanceSymbols; ++i) {
        bits[i] = std::uint8_t(i / 4);
    }
    return bits;
}

constexpr auto distanceExtra = makeDistanceExtraBits();
constexpr auto literalRunBase = basesFromExtraBits(literalRunExtraBits);
constexpr auto matchLengthBase = basesFromExtraBits(matchLengthExtraBits);
constexpr auto distanceBase = basesFromExtraBits(distanceExtra);

static_assert(literalRunBase[16] == 16 && literalRunBase[19] == 60);
static_assert(matchLengthBase[16] == 16 && matchLengthBase[19] == 312);
static_assert(distanceBase[4] == 4 && distanceBase[63] == 229372);

// A value shown in hexadecimal in an error message.
struct Hex {
    std::uint32_t value;
    int digits;
};

void appendPiece(std::string& text, const char* piece) {
    text += piece;
}

void appendPiece(std::string& text, Hex hex) {
    char digits[8];
    const auto end = std::to_chars(digits, digits + 8, hex.value, 16).ptr;
    text += "0x";
    text.append(std::size_t(std::max<std::ptrdiff_t>(0, hex.digits - (end - digits))), '0');
    text.append(digits, end);
}

void appendPiece(std::string& text, std::integral auto number) {
    char digits[24];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

// Error messages are built without the process locale: sizes and offsets print as plain digits.
template <typename... Pieces>
[[noreturn]] void fail(const Pieces&... pieces) {
    std::string text = "LZFSE: ";
    (appendPiece(text, pieces), ...);
    throw VornLZFSEError(text);
}

std::uint32_t loadU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint64_t loadU64(const std::uint8_t* p) {
    return std::uint64_t(loadU32(p)) | std::uint64_t(loadU32(p + 4)) << 32;
}

std::uint32_t field(std::uint64_t word, unsigned offset, unsigned width) {
    return std::uint32_t((word >> offset) & ((std::uint64_t{1} << width) - 1));
}

// The decoded bytes. Each block opens a window of its declared size (already checked against the
// cap); nothing can be written past it, and the block must fill it exactly.
class Output {
public:
    explicit Output(std::size_t cap) : cap_(cap) {}

    void openBlock(std::uint32_t declaredSize, const char* kind) {
        if (declaredSize > cap_ - bytes_.size()) {
            fail(kind, " block of ", declaredSize, " bytes would exceed the output limit of ", cap_,
                 " bytes");
        }
        blockStart_ = bytes_.size();
        blockEnd_ = blockStart_ + declaredSize;
    }

    void closeBlock(const char* kind) const {
        if (bytes_.size() != blockEnd_) {
            fail(kind, " block decodes to ", bytes_.size() - blockStart_,
                 " bytes, not the declared ", blockEnd_ - blockStart_);
        }
    }

    std::size_t room() const { return blockEnd_ - bytes_.size(); }

    void append(const std::uint8_t* data, std::size_t count) {
        requireRoom(count);
        bytes_.insert(bytes_.end(), data, data + count);
    }

    // Copies `length` bytes from `distance` bytes back; the source may overlap what is being
    // written, which repeats the last `distance` bytes.
    void copyMatch(std::uint32_t distance, std::size_t length) {
        if (length == 0) {
            return;
        }
        if (distance == 0 || distance > bytes_.size()) {
            fail("match distance ", distance, " reaches before the start of the output (",
                 bytes_.size(), " bytes decoded)");
        }
        requireRoom(length);
        const std::size_t start = bytes_.size();
        bytes_.resize(start + length);
        std::uint8_t* out = bytes_.data() + start;
        const std::uint8_t* from = out - distance;
        if (distance >= length) {
            std::memcpy(out, from, length);
        } else {
            for (std::size_t i = 0; i < length; ++i) {
                out[i] = from[i];
            }
        }
    }

    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    void requireRoom(std::size_t count) const {
        if (count > room()) {
            fail("block produces more than its declared ", blockEnd_ - blockStart_, " bytes");
        }
    }

    std::vector<std::uint8_t> bytes_;
    std::size_t cap_;
    std::size_t blockStart_ = 0;
    std::size_t blockEnd_ = 0;
};

// ---- Raw and LZVN blocks -------------------------------------------------------------------

// LZVN: byte-aligned opcodes, each optionally carrying literal bytes and then a match.
void decodeLZVN(std::span<const std::uint8_t> payload, Output& out) {
    const std::uint8_t* p = payload.data();
    std::size_t left = payload.size();
    std::uint32_t distance = 0;  // the previous match distance, reused by some opcodes

    auto need = [&](std::size_t count) {
        if (left < count) {
            fail("LZVN payload is truncated");
        }
    };

    for (;;) {
        need(1);
        const std::uint8_t op = p[0];
        std::size_t opcodeSize = 1;
        std::size_t literals = 0;
        std::size_t match = 0;

        if (op == 0x06) {  // end of stream: the opcode and seven zero bytes
            need(8);
            if (std::any_of(p + 1, p + 8, [](std::uint8_t b) { return b != 0; })) {
                fail("LZVN end-of-stream marker is damaged");
            }
            p += 8;
            left -= 8;
            break;
        }
        if (op == 0x0e || op == 0x16) {  // no-operation
            ++p;
            --left;
            continue;
        }
        if (op >= 0xf0) {  // match reusing the previous distance, no literals
            if (op == 0xf0) {
                need(2);
                opcodeSize = 2;
                match = std::size_t{p[1]} + 16;
            } else {
                match = op & 0x0f;
            }
        } else if (op >= 0xe0) {  // literals only
            if (op == 0xe0) {
                need(2);
                opcodeSize = 2;
                literals = std::size_t{p[1]} + 16;
            } else {
                literals = op & 0x0f;
            }
        } else if (op >= 0xa0 && op < 0xc0) {  // medium distance: 101LLMMM DDDDDDMM DDDDDDDD
            need(3);
            opcodeSize = 3;
            const std::uint32_t word = std::uint32_t{p[1]} | std::uint32_t{p[2]} << 8;
            literals = (op >> 3) & 3;
            match = (std::size_t(op & 7) << 2 | (word & 3)) + 3;
            distance = word >> 2;
        } else if ((op & 0xf0) == 0x70 || (op < 0x40 && (op & 7) == 6)) {
            fail("LZVN payload holds the undefined opcode ", Hex{op, 2});
        } else {  // LLMMMDDD: small, large or previous distance
            literals = op >> 6;
            match = ((op >> 3) & 7) + 3;
            switch (op & 7) {
                case 7:
                    need(3);
                    opcodeSize = 3;
                    distance = std::uint32_t{p[1]} | std::uint32_t{p[2]} << 8;
                    break;
                case 6:
                    break;
                default:
                    need(2);
                    opcodeSize = 2;
                    distance = std::uint32_t(op & 7) << 8 | p[1];
                    break;
            }
        }

        need(opcodeSize + literals);
        out.append(p + opcodeSize, literals);
        p += opcodeSize + literals;
        left -= opcodeSize + literals;
        out.copyMatch(distance, match);
    }

    if (left != 0) {
        fail("LZVN payload has ", left, " bytes after its end-of-stream marker");
    }
}

// ---- Entropy-coded blocks ------------------------------------------------------------------

// Bits are written forwards and read backwards: reading starts at the end of the payload and
// takes each byte from its most significant bit down. The encoder pads the final byte with up
// to seven zero bits, which come first.
class BackwardBits {
public:
    BackwardBits(std::span<const std::uint8_t> bytes, unsigned padding, const char* stream)
        : begin_(bytes.data()), cursor_(bytes.data() + bytes.size()), stream_(stream) {
        if (pull(padding) != 0) {
            fail(stream_, " stream has non-zero padding bits");
        }
    }

    // Up to 32 bits, the first one read being the most significant.
    std::uint32_t pull(unsigned count) {
        if (count > held_) {
            // Keep held_ at most 63 so that every shift below stays within the word.
            while (held_ <= 55 && cursor_ != begin_) {
                bits_ = bits_ << 8 | *--cursor_;
                held_ += 8;
            }
            if (count > held_) {
                fail(stream_, " stream is truncated");
            }
        }
        held_ -= count;
        const auto value = std::uint32_t(bits_ >> held_);
        bits_ &= (std::uint64_t{1} << held_) - 1;
        return value;
    }

    // The encoder leaves at most eight bytes of zero padding before the first bits it wrote;
    // anything else unread means the stream and the counts in the header disagree.
    void finish() const {
        const auto unreadBytes = std::size_t(cursor_ - begin_);
        if (unreadBytes > 8 || std::size_t{held_} + 8 * unreadBytes > 64 || bits_ != 0 ||
            std::any_of(begin_, cursor_, [](std::uint8_t b) { return b != 0; })) {
            fail(stream_, " stream has data left over after the last symbol");
        }
    }

private:
    const std::uint8_t* begin_;
    const std::uint8_t* cursor_;
    std::uint64_t bits_ = 0;
    unsigned held_ = 0;
    const char* stream_;
};

// One state of a tabled-ANS decoder: the symbol it emits, how many bits to read for the next
// state and the base the bits are added to. For L/M/D the symbol's extra value bits are read
// together with the state bits (state bits first).
struct DecoderEntry {
    std::uint16_t nextBase = 0;
    std::uint8_t stateBits = 0;
    std::uint8_t valueBits = 0;
    std::uint32_t value = 0;  // the literal byte, or the base value of an L/M/D symbol
};

// Spreads each symbol over `frequency` consecutive states. The frequencies must add up to the
// number of states exactly: otherwise part of the table would be undefined.
void buildDecoder(std::span<const std::uint16_t> frequencies, int states,
                  std::span<const std::uint8_t> extraBits, std::span<const std::uint32_t> bases,
                  std::span<DecoderEntry> table, const char* name) {
    std::uint32_t total = 0;
    for (const auto f : frequencies) {
        total += f;
    }
    if (total != std::uint32_t(states)) {
        fail(name, " frequencies add up to ", total, ", not ", states);
    }
    const int stateZeros = std::countl_zero(std::uint32_t(states));
    std::size_t next = 0;
    for (std::size_t symbol = 0; symbol < frequencies.size(); ++symbol) {
        const int f = frequencies[symbol];
        if (f == 0) {
            continue;
        }
        // k is the shift that brings f into [states, 2*states); the first j0 states of this
        // symbol read k bits, the rest k-1 (k is 0 only when f == states, and then j0 == f).
        const int k = std::countl_zero(std::uint32_t(f)) - stateZeros;
        const int j0 = ((2 * states) >> k) - f;
        for (int j = 0; j < f; ++j) {
            DecoderEntry& entry = table[next++];
            if (j < j0) {
                entry.stateBits = std::uint8_t(k);
                entry.nextBase = std::uint16_t(((f + j) << k) - states);
            } else {
                entry.stateBits = std::uint8_t(k - 1);
                entry.nextBase = std::uint16_t((j - j0) << (k - 1));
            }
            entry.valueBits = extraBits.empty() ? 0 : extraBits[symbol];
            entry.value = bases.empty() ? std::uint32_t(symbol) : bases[symbol];
        }
    }
}

// Emits the current state's value and moves to the next state.
std::uint32_t decodeSymbol(std::uint32_t& state, std::span<const DecoderEntry> table,
                           BackwardBits& bits) {
    const DecoderEntry& entry = table[state];
    const std::uint32_t read = bits.pull(entry.stateBits + entry.valueBits);
    state = entry.nextBase + (read >> entry.valueBits);
    return entry.value + (read & ((std::uint32_t{1} << entry.valueBits) - 1));
}

// The fields of an entropy-coded block header, whichever version carried them.
struct FSEHeader {
    std::uint32_t rawBytes = 0;
    std::uint32_t literalCount = 0;
    std::uint32_t matchCount = 0;
    std::uint32_t literalPayloadBytes = 0;
    std::uint32_t lmdPayloadBytes = 0;
    int literalBits = 0;  // -7..0: minus the number of padding bits of each stream
    int lmdBits = 0;
    std::array<std::uint32_t, 4> literalStates{};
    std::uint32_t lState = 0;
    std::uint32_t mState = 0;
    std::uint32_t dState = 0;
    // L, M, D, then literal frequencies, in this order in both header versions.
    std::array<std::uint16_t, frequencyCount> frequencies{};
};

constexpr std::size_t v1HeaderSize = 772;
constexpr std::size_t v2FixedSize = 32;

FSEHeader parseV1Header(std::span<const std::uint8_t> in) {
    if (in.size() < v1HeaderSize) {
        fail("LZFSE v1 block header is truncated");
    }
    const std::uint8_t* p = in.data();
    FSEHeader h;
    h.rawBytes = loadU32(p + 4);
    const std::uint32_t payloadBytes = loadU32(p + 8);
    h.literalCount = loadU32(p + 12);
    h.matchCount = loadU32(p + 16);
    h.literalPayloadBytes = loadU32(p + 20);
    h.lmdPayloadBytes = loadU32(p + 24);
    h.literalBits = std::int32_t(loadU32(p + 28));
    for (std::size_t i = 0; i < 4; ++i) {
        h.literalStates[i] = std::uint32_t{p[32 + 2 * i]} | std::uint32_t{p[33 + 2 * i]} << 8;
    }
    h.lmdBits = std::int32_t(loadU32(p + 40));
    auto u16 = [p](std::size_t at) {
        return std::uint16_t(std::uint32_t{p[at]} | std::uint32_t{p[at + 1]} << 8);
    };
    h.lState = u16(44);
    h.mState = u16(46);
    h.dState = u16(48);
    for (std::size_t i = 0; i < frequencyCount; ++i) {
        h.frequencies[i] = u16(50 + 2 * i);
    }
    if (std::uint64_t{h.literalPayloadBytes} + h.lmdPayloadBytes != payloadBytes) {
        fail("LZFSE v1 payload of ", payloadBytes, " bytes is not its literal (",
             h.literalPayloadBytes, ") and match (", h.lmdPayloadBytes, ") parts");
    }
    return h;
}

// The frequency tables of a v2 header are a little-endian bit string of variable-length codes,
// told apart by their low bits: ..0 is 2 bits, ..01 3 bits, ..011 5 bits, ..0111 8 bits and
// ..1111 14 bits long.
std::uint16_t decodeFrequency(std::uint32_t bits, unsigned& length) {
    if ((bits & 1) == 0) {
        length = 2;
        return std::uint16_t((bits >> 1) & 1);
    }
    if ((bits & 3) == 1) {
        length = 3;
        return std::uint16_t(2 + ((bits >> 2) & 1));
    }
    if ((bits & 7) == 3) {
        length = 5;
        return std::uint16_t(4 + ((bits >> 3) & 3));
    }
    if ((bits & 15) == 7) {
        length = 8;
        return std::uint16_t(8 + ((bits >> 4) & 0x0f));
    }
    length = 14;
    return std::uint16_t(24 + ((bits >> 4) & 0x3ff));
}

FSEHeader parseV2Header(std::span<const std::uint8_t> in, std::size_t& headerSize) {
    if (in.size() < v2FixedSize) {
        fail("LZFSE v2 block header is truncated");
    }
    const std::uint8_t* p = in.data();
    const std::uint64_t w0 = loadU64(p + 8);
    const std::uint64_t w1 = loadU64(p + 16);
    const std::uint64_t w2 = loadU64(p + 24);
    FSEHeader h;
    h.rawBytes = loadU32(p + 4);
    h.literalCount = field(w0, 0, 20);
    h.literalPayloadBytes = field(w0, 20, 20);
    h.matchCount = field(w0, 40, 20);
    h.literalBits = int(field(w0, 60, 3)) - 7;
    for (unsigned i = 0; i < 4; ++i) {
        h.literalStates[i] = field(w1, 10 * i, 10);
    }
    h.lmdPayloadBytes = field(w1, 40, 20);
    h.lmdBits = int(field(w1, 60, 3)) - 7;
    headerSize = field(w2, 0, 32);
    h.lState = field(w2, 32, 10);
    h.mState = field(w2, 42, 10);
    h.dState = field(w2, 52, 10);
    if (field(w0, 63, 1) != 0 || field(w1, 63, 1) != 0 || field(w2, 62, 2) != 0) {
        fail("LZFSE v2 block header has reserved bits set");
    }
    if (headerSize < v2FixedSize || headerSize > in.size()) {
        fail("LZFSE v2 header size ", headerSize, " does not fit the ", in.size(), " bytes left");
    }

    const std::uint8_t* src = p + v2FixedSize;
    const std::uint8_t* const end = p + headerSize;
    std::uint32_t accumulator = 0;
    unsigned held = 0;
    for (auto& frequency : h.frequencies) {
        while (src != end && held + 8 <= 32) {
            accumulator |= std::uint32_t{*src++} << held;
            held += 8;
        }
        unsigned length = 0;
        frequency = decodeFrequency(accumulator, length);
        if (length > held) {
            fail("LZFSE v2 frequency tables are truncated");
        }
        accumulator >>= length;  // length <= 14
        held -= length;
    }
    if (src != end || held >= 8) {
        fail("LZFSE v2 frequency tables do not fill the header exactly");
    }
    return h;
}

struct FSETables {
    std::array<DecoderEntry, literalStates> literal;
    std::array<DecoderEntry, lengthStates> l;
    std::array<DecoderEntry, lengthStates> m;
    std::array<DecoderEntry, distanceStates> d;
};

void decodeFSEBlock(const FSEHeader& h, std::span<const std::uint8_t> payload, Output& out,
                    FSETables& tables, std::vector<std::uint8_t>& literals) {
    if (h.literalCount > maxLiteralsPerBlock || h.matchCount > maxMatchesPerBlock) {
        fail("LZFSE block declares ", h.literalCount, " literals and ", h.matchCount,
             " matches, more than a block holds");
    }
    if (h.literalBits < -7 || h.literalBits > 0 || h.lmdBits < -7 || h.lmdBits > 0) {
        fail("LZFSE block has invalid stream padding");
    }
    const auto& lit = h.literalStates;
    if (std::any_of(lit.begin(), lit.end(), [](auto s) { return s >= literalStates; }) ||
        h.lState >= lengthStates || h.mState >= lengthStates || h.dState >= distanceStates) {
        fail("LZFSE block has an initial state out of range");
    }

    const std::span<const std::uint16_t> freq(h.frequencies);
    buildDecoder(freq.subspan(0, lengthSymbols), lengthStates, literalRunExtraBits, literalRunBase,
                 tables.l, "literal-run length");
    buildDecoder(freq.subspan(lengthSymbols, lengthSymbols), lengthStates, matchLengthExtraBits,
                 matchLengthBase, tables.m, "match length");
    buildDecoder(freq.subspan(2 * lengthSymbols, distanceSymbols), distanceStates, distanceExtra,
                 distanceBase, tables.d, "match distance");
    buildDecoder(freq.subspan(2 * lengthSymbols + distanceSymbols, literalSymbols), literalStates,
                 {}, {}, tables.literal, "literal");

    // Literals come in groups of four, one interleaved state each; the count is padded to a
    // multiple of four.
    const std::size_t literalSlots = (std::size_t{h.literalCount} + 3) & ~std::size_t{3};
    literals.resize(literalSlots);
    {
        BackwardBits bits(payload.subspan(0, h.literalPayloadBytes), unsigned(-h.literalBits),
                          "literal");
        std::array<std::uint32_t, 4> states = lit;
        for (std::size_t i = 0; i < literalSlots; i += 4) {
            for (std::size_t lane = 0; lane < 4; ++lane) {
                literals[i + lane] = std::uint8_t(decodeSymbol(states[lane], tables.literal, bits));
            }
        }
        bits.finish();
    }

    BackwardBits bits(payload.subspan(h.literalPayloadBytes, h.lmdPayloadBytes),
                      unsigned(-h.lmdBits), "match");
    std::uint32_t lState = h.lState;
    std::uint32_t mState = h.mState;
    std::uint32_t dState = h.dState;
    std::uint32_t distance = 0;
    std::size_t nextLiteral = 0;
    for (std::uint32_t i = 0; i < h.matchCount; ++i) {
        const std::uint32_t runLength = decodeSymbol(lState, tables.l, bits);
        const std::uint32_t matchLength = decodeSymbol(mState, tables.m, bits);
        // A zero distance means "the same distance as the previous match".
        if (const std::uint32_t d = decodeSymbol(dState, tables.d, bits); d != 0) {
            distance = d;
        }
        if (runLength > h.literalCount - nextLiteral) {
            fail("LZFSE block uses more than its ", h.literalCount, " literals");
        }
        out.append(literals.data() + nextLiteral, runLength);
        nextLiteral += runLength;
        out.copyMatch(distance, matchLength);
    }
    bits.finish();
    // The literal count is rounded up to whole groups of four; more unused literals than that
    // padding means the count is wrong.
    if (h.literalCount - nextLiteral >= 4) {
        fail("LZFSE block uses ", nextLiteral, " of its ", h.literalCount, " literals");
    }
}

void decodeFSE(std::span<const std::uint8_t> rest, bool version2, Output& out, FSETables& tables,
               std::vector<std::uint8_t>& literals, std::size_t& consumed) {
    std::size_t headerSize = v1HeaderSize;
    const FSEHeader h = version2 ? parseV2Header(rest, headerSize) : parseV1Header(rest);
    const std::size_t available = rest.size() - headerSize;
    if (h.literalPayloadBytes > available ||
        h.lmdPayloadBytes > available - h.literalPayloadBytes) {
        fail("LZFSE block payload is truncated");
    }
    const char* kind = version2 ? "LZFSE v2" : "LZFSE v1";
    out.openBlock(h.rawBytes, kind);
    decodeFSEBlock(h, rest.subspan(headerSize, h.literalPayloadBytes + h.lmdPayloadBytes), out,
                   tables, literals);
    out.closeBlock(kind);
    consumed = headerSize + h.literalPayloadBytes + h.lmdPayloadBytes;
}

}  // namespace

std::vector<std::uint8_t> VornLZFSE::decode(std::span<const std::uint8_t> input,
                                            std::size_t maxOutput) {
    Output out(maxOutput);
    FSETables tables{};
    std::vector<std::uint8_t> literals;
    std::size_t at = 0;

    for (;;) {
        const std::span<const std::uint8_t> rest = input.subspan(at);
        if (rest.size() < 4) {
            fail("input ends without an end-of-stream block");
        }
        const std::uint32_t magic = loadU32(rest.data());
        if (magic == endOfStreamMagic) {
            at += 4;
            break;
        }
        std::size_t consumed = 0;
        if (magic == rawMagic) {
            if (rest.size() < 8) {
                fail("raw block header is truncated");
            }
            const std::uint32_t size = loadU32(rest.data() + 4);
            if (size > rest.size() - 8) {
                fail("raw block is truncated");
            }
            out.openBlock(size, "raw");
            out.append(rest.data() + 8, size);
            consumed = 8 + std::size_t{size};
        } else if (magic == lzvnMagic) {
            if (rest.size() < 12) {
                fail("LZVN block header is truncated");
            }
            const std::uint32_t rawBytes = loadU32(rest.data() + 4);
            const std::uint32_t payloadBytes = loadU32(rest.data() + 8);
            if (payloadBytes > rest.size() - 12) {
                fail("LZVN block payload is truncated");
            }
            out.openBlock(rawBytes, "LZVN");
            decodeLZVN(rest.subspan(12, payloadBytes), out);
            out.closeBlock("LZVN");
            consumed = 12 + std::size_t{payloadBytes};
        } else if (magic == fseV1Magic || magic == fseV2Magic) {
            decodeFSE(rest, magic == fseV2Magic, out, tables, literals, consumed);
        } else {
            fail("unknown block magic ", Hex{magic, 8}, " at offset ", at);
        }
        at += consumed;
    }

    // A stream is exactly its blocks: anything after the end marker means the buffer is not
    // what was written (a second stream appended, or damage), so it is refused rather than
    // silently dropped.
    if (at != input.size()) {
        fail(input.size() - at, " bytes follow the end-of-stream block");
    }
    return out.take();
}
