// Round trips: members packed by the compressor, extracted by the core's decoder,
// compared byte for byte. Every method and level, every edge size, many data kinds.
#include <gtest/gtest.h>

#include <tuple>

#include "archive/archive.h"
#include "support.h"

namespace {

const size_t SIZES[] = {0,     1,     2,     3,     255,       256,      257,
                        32767, 32768, 32769, 65537, 3u << 20};

// A long run, then stretches that repeat earlier bytes from just inside and just
// outside the 8 KiB, 32 KiB and 64 KiB windows.
std::vector<uint8_t> FarMatches(size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size < 40000 ? size : 40000, 0);
    const std::vector<uint8_t> noise = RandomBytes(size + 70000, seed);
    size_t used = 0;
    while (data.size() < size) {
        const size_t position = data.size();
        static const size_t DISTANCES[] = {8192, 8193, 32768, 32769, 65536, 65537};
        const size_t distance = DISTANCES[(position / 300) % 6];
        for (int k = 0; k < 300 && data.size() < size; ++k) {
            const size_t here = data.size();
            data.push_back(here >= distance && k % 50 != 0 ? data[here - distance]
                                                           : noise[used++]);
        }
    }
    data.resize(size);
    return data;
}

std::vector<uint8_t> Pattern(const std::string& kind, size_t size) {
    if (kind == "zero") return std::vector<uint8_t>(size, 0);
    if (kind == "onebyte") return std::vector<uint8_t>(size, 0xA5);
    if (kind == "random") return RandomBytes(size, 1234);
    if (kind == "text") return TextBytes(size, 99);
    if (kind == "far") return FarMatches(size, 7);
    // every byte value once, then again in another order
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(i < 256 ? i : (i * 167 + i / 256) & 0xFF);
    }
    return data;
}

class RoundTripTest
    : public ::testing::TestWithParam<std::tuple<std::string, char, bool>> {};

TEST_P(RoundTripTest, EverySizeComesBackExactly) {
    const std::string kind = std::get<0>(GetParam());
    EncodeOptions options;
    options.best = std::get<2>(GetParam());
    std::vector<NamedData> members;
    for (size_t size : SIZES) {
        if (options.best && size > (1u << 20) && kind != "text" && kind != "far") continue;
        members.push_back({"M" + std::to_string(size), Pattern(kind, size)});
    }
    TemporaryDirectory directory;
    ASSERT_EQ(1, RoundTrip(directory, members, options, std::get<1>(GetParam())))
        << "failure " << extractionFailure;
    for (const NamedData& member : members) {
        EXPECT_TRUE(member.data == ReadFile(directory.Join("out/" + member.name)))
            << member.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RoundTripTest,
    ::testing::Combine(::testing::Values("zero", "onebyte", "random", "text", "far", "bytes"),
                       ::testing::Values('5', '6', '7'), ::testing::Bool()),
    [](const ::testing::TestParamInfo<RoundTripTest::ParamType>& info) {
        return std::get<0>(info.param) + "_lh" + std::string(1, std::get<1>(info.param)) +
               (std::get<2>(info.param) ? "_best" : "_lazy");
    });

TEST(RoundTrip, ManyTinyBlocks) {
    for (uint32_t blockSymbols : {1u, 2u, 7u, 300u}) {
        for (bool best : {false, true}) {
            EncodeOptions options;
            options.maxBlockSymbols = blockSymbols;
            options.best = best;
            std::vector<uint8_t> mixed = TextBytes(40000, 5);
            const std::vector<uint8_t> random = RandomBytes(3000, 6);
            mixed.insert(mixed.end(), random.begin(), random.end());
            mixed.insert(mixed.end(), 700, 'z');
            TemporaryDirectory directory;
            ASSERT_EQ(1, RoundTrip(directory, {{"T", mixed}}, options, best ? '5' : '6'))
                << blockSymbols;
            EXPECT_TRUE(mixed == ReadFile(directory.Join("out/T"))) << blockSymbols;
        }
    }
}

TEST(RoundTrip, SingleSymbolCodes) {
    // 1 + 256k bytes of one value: one literal, then matches of 256 at distance 1
    // (a single length symbol after the literal; a single distance code).
    // Two members of one distinct symbol each in one archive: the first leaves the
    // window full of its byte.
    std::vector<NamedData> members = {{"A", std::vector<uint8_t>(1 + 256 * 40, 'a')},
                                      {"B", std::vector<uint8_t>(1, 'b')},
                                      {"C", std::vector<uint8_t>(4, 'c')}};
    for (char method : {'5', '6'}) {
        TemporaryDirectory directory;
        ASSERT_EQ(1, RoundTrip(directory, members, EncodeOptions(), method));
        for (const NamedData& member : members) {
            EXPECT_TRUE(member.data == ReadFile(directory.Join("out/" + member.name)));
        }
    }
}

TEST(RoundTrip, CompressionActuallyShrinks) {
    // Sanity of the figures: text shrinks well, and lh6 finds the matches beyond the
    // 8 KiB window that lh5 cannot reach.
    const std::vector<uint8_t> text = TextBytes(200000, 3);
    EncodeOptions options;
    options.method = '6';
    EXPECT_LT(CompressStream(text.data(), text.size(), options).size(), text.size() / 3);
    std::vector<uint8_t> repeated = RandomBytes(20000, 8);
    repeated.insert(repeated.end(), repeated.begin(), repeated.end());
    const size_t lh6 = CompressStream(repeated.data(), repeated.size(), options).size();
    options.method = '5';
    const size_t lh5 = CompressStream(repeated.data(), repeated.size(), options).size();
    EXPECT_LT(lh6, 21000u);
    EXPECT_GT(lh5, 39000u);
}

}  // namespace
