// The bitstream functions on the malformed and unusual inputs that once broke them; the
// fuzz target (tests/fuzz/targets/BitstreamTarget.h) checks them on any bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/common/Bitstream.h"
#include "engine/common/H264Syntax.h"
#include "engine/common/MediaError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace {

using Bytes = std::vector<uint8_t>;

struct ParFree {
    void operator()(AVCodecParameters* par) const { avcodec_parameters_free(&par); }
};
using Par = std::unique_ptr<AVCodecParameters, ParFree>;

Par streamOf(AVCodecID codec, const Bytes& header) {
    Par par(avcodec_parameters_alloc());
    par->codec_id = codec;
    par->extradata = static_cast<uint8_t*>(av_mallocz(header.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(header.begin(), header.end(), par->extradata);
    par->extradata_size = int(header.size());
    return par;
}

// An avcC with one SPS and one PPS whose packets have length fields of `lengthSize` bytes.
Bytes avcC(int lengthSize, const Bytes& sps, const Bytes& pps) {
    Bytes out{1, 0x42, 0xc0, 0x0a, uint8_t(0xfc | (lengthSize - 1)), 0xe1, 0, uint8_t(sps.size())};
    out.insert(out.end(), sps.begin(), sps.end());
    out.insert(out.end(), {1, 0, uint8_t(pps.size())});
    out.insert(out.end(), pps.begin(), pps.end());
    return out;
}

// An hvcC head (23 bytes) saying `arrays` arrays follow, then `rest`.
Bytes hvcC(int lengthSize, int arrays, const Bytes& rest) {
    Bytes out(23, 0);
    out[0] = 1;
    out[21] = uint8_t(0xfc | (lengthSize - 1));
    out[22] = uint8_t(arrays);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

Bytes withStartCode(const Bytes& unit) {
    Bytes out{0, 0, 0, 1};
    out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

const Bytes kSps{0x67, 0x42, 0xc0, 0x0a, 0xf8, 0x41, 0xa2};  // the smallest headers make a 22-byte avcC
const Bytes kPps{0x68, 0xce, 0x38, 0x80};
const Bytes kIdr{0x65, 0x88, 0x84, 0x21};

}  // namespace

// An avcC shorter than 23 bytes (an hvcC's least) is still one: its packets carry length
// fields.
TEST(Bitstream, ShortConfigRecordsGiveLengthFields) {
    struct Case {
        const char* name;
        Bytes header, sourceForm;
    } cases[] = {
        {"22-byte avcC", avcC(4, kSps, kPps), {0, 0, 0, 4, 0x65, 0x88, 0x84, 0x21}},
        {"avcC, 2-byte fields", avcC(2, {0x67}, {0x68}), {0, 4, 0x65, 0x88, 0x84, 0x21}},
    };
    for (const Case& c : cases) {
        const Par par = streamOf(AV_CODEC_ID_H264, c.header);
        const Bytes encoded = withStartCode(kIdr);
        EXPECT_EQ(toSourceForm(par.get(), encoded.data(), int(encoded.size())), c.sourceForm) << c.name;
        EXPECT_TRUE(startsCleanly(par.get(), c.sourceForm.data(), int(c.sourceForm.size()))) << c.name;
    }
}

// A unit longer than the source's length fields can say is refused, not written with a
// length that wrapped around.
TEST(Bitstream, UnitsLongerThanTheLengthFieldsAreRefused) {
    struct Case {
        int lengthSize, unitSize;
        bool fits;
    } cases[] = {{1, 255, true}, {1, 256, false}, {2, 65535, true}, {2, 65536, false}, {3, 65536, true}};
    for (const Case& c : cases) {
        const Par par = streamOf(AV_CODEC_ID_H264, avcC(c.lengthSize, kSps, kPps));
        Bytes unit(size_t(c.unitSize), 0x41);
        unit[0] = 0x65;
        const Bytes encoded = withStartCode(unit);
        const auto form = [&] { return toSourceForm(par.get(), encoded.data(), int(encoded.size())); };
        if (c.fits)
            EXPECT_EQ(form().size(), size_t(c.lengthSize + c.unitSize)) << c.lengthSize << " " << c.unitSize;
        else
            EXPECT_THROW(form(), MediaError) << c.lengthSize << " " << c.unitSize;
    }
    Bytes array{0x20, 0, 1, 1, 0};  // one VPS of 256 bytes
    array.resize(array.size() + 256, 0x40);
    EXPECT_THROW(inBandHeader(streamOf(AV_CODEC_ID_HEVC, hvcC(1, 1, array)).get()), MediaError);
}

// A header that is broken gives nothing rather than part of its parameter sets or a header
// whose lengths are wrong.
TEST(Bitstream, BrokenHeadersGiveNothing) {
    const Bytes vps{0x40, 0x01, 0x0c, 0x01};
    Bytes oneArray{0x20, 0, 1, 0, 4};
    oneArray.insert(oneArray.end(), vps.begin(), vps.end());
    EXPECT_FALSE(inBandHeader(streamOf(AV_CODEC_ID_HEVC, hvcC(4, 1, oneArray)).get()).empty());
    for (const Bytes& header : {hvcC(4, 2, oneArray), hvcC(4, 1, {0x20, 0, 2, 0, 4, 0x40, 1, 0x0c, 1})})
        EXPECT_TRUE(inBandHeader(streamOf(AV_CODEC_ID_HEVC, header).get()).empty());

    const Par par = streamOf(AV_CODEC_ID_H264, avcC(4, kSps, kPps));
    Bytes sps(65536, 0x41);
    sps[0] = 0x67;
    const Bytes piece = withStartCode(sps);
    EXPECT_TRUE(withPieceParameterSets(par.get(), piece.data(), int(piece.size())).empty());
}

// Emulation prevention both ways, and Exp-Golomb numbers written and read back: the rewrite
// of copied H.264 slice headers stands on them.
TEST(Bitstream, H264PayloadsAndNumbersRoundTrip) {
    const struct {
        Bytes rbsp, escaped;
    } cases[] = {{{0x65, 0, 0, 0, 0, 1}, {0x65, 0, 0, 3, 0, 0, 3, 1}},
                 {{0x41, 0, 0, 4, 0, 0}, {0x41, 0, 0, 4, 0, 0, 3}},
                 {{0x41, 0, 3, 0, 0, 2}, {0x41, 0, 3, 0, 0, 3, 2}}};
    for (const auto& c : cases) {
        EXPECT_EQ(h264::escape(c.rbsp), c.escaped);
        EXPECT_EQ(h264::unescape(c.escaped.data(), int(c.escaped.size())), c.rbsp);
    }
    h264::BitWriter w;
    const uint32_t values[] = {0, 1, 2, 7, 255, 65535, 1u << 30};
    for (const uint32_t v : values) w.ue(v);
    w.put(5, 3);
    const Bytes written = w.bytes();
    h264::BitReader r(written);
    for (const uint32_t v : values) EXPECT_EQ(r.ue(), v);
    EXPECT_EQ(r.bits(3), 5u);
    EXPECT_FALSE(r.overrun());
}

// x264's own headers: the buffer model its HRD declares is read back; none without one.
TEST(Bitstream, DeclaredBufferModelOfX264Headers) {
    const struct {
        const char* hrd;
        int64_t rate, buffer;
    } cases[] = {{"nal-hrd=vbr", 2'000'000, 3'000'000}, {"nal-hrd=cbr", 1'500'000, 1'000'000}, {"", 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hrd);
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        ASSERT_NE(codec, nullptr);
        AVCodecContext* enc = avcodec_alloc_context3(codec);
        enc->width = 320;
        enc->height = 240;
        enc->pix_fmt = AV_PIX_FMT_YUV420P;
        enc->time_base = {1, 25};
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (c.rate > 0) {
            enc->bit_rate = c.rate;
            enc->rc_max_rate = c.rate;
            enc->rc_buffer_size = int(c.buffer);
        }
        av_opt_set(enc->priv_data, "x264-params", c.hrd, 0);
        ASSERT_EQ(avcodec_open2(enc, codec, nullptr), 0);
        const auto [rate, buffer] = h264DeclaredBufferModel(enc->extradata, enc->extradata_size);
        EXPECT_NEAR(double(rate), double(c.rate), c.rate * 0.01);
        EXPECT_NEAR(double(buffer), double(c.buffer), c.buffer * 0.01);
        avcodec_free_context(&enc);
    }
}
