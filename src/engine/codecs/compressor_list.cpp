#include "engine/codecs/compressor_list.h"

#include "platform/registry.h"

namespace engine {

namespace {

std::vector<CompressorDescription> BuiltInCompressors(CompressorKind kind)
{
    if (kind == CompressorKind::Video) {
        // Both are coded by our own encoders (frame_encoder.h); libavcodec's, with these
        // options (one strip, no extra codebook passes: a third of its default time), code
        // only the sizes ours cannot.
        return {{kind,
                 QStringLiteral("Cinepak Codec by Radius"),
                 QStringLiteral("cinepak"),
                 QStringLiteral("max_extra_cb_iterations=0:max_strips=1")},
                {kind, QStringLiteral("Microsoft Video 1"), QStringLiteral("msvideo1"), {}}};
    }
    return {{kind,
             QStringLiteral("MPEG Layer-3"),
             QStringLiteral("libmp3lame"),
             QStringLiteral("b=128000")}};
}

} // namespace

// How an installed entry becomes a compressor: the encoder named by "Encoder" with the
// options of "Options". The entry that the codec installer writes for the preferred
// video compressor is our intermediate encoder: libavcodec's mpeg4 at a constant
// quantiser of 2 ("q=2"). Measured on an 84-second 640x480 slideshow it encodes at about
// 1,500 frames per second, writes a quarter of MJPEG's bytes, gives the fastest whole
// conversion of the candidates tried (6.3 s against 7.3 s for libx264 ultrafast at
// CRF 10 and 8.7 s for MJPEG) and a final movie only about 1 dB PSNR below one made from
// a lossless intermediate (46.2 against 47.3 dB). It codes no B-frames, which the AVI's
// one-time-per-chunk timing cannot carry (the compressor refuses encoders that do).
// Cinepak and Microsoft Video 1 are far slower or far worse and remain only fallbacks.
std::vector<CompressorDescription> ListCompressors(CompressorKind kind)
{
    std::vector<CompressorDescription> list = BuiltInCompressors(kind);
    const QString &key
        = kind == CompressorKind::Video ? kCompressorListKeyVideo : kCompressorListKeyAudio;
    const platform::Registry &registry = platform::TheRegistry();
    const auto root = platform::RegistryRoot::LocalMachine;
    for (const QString &id : registry.SubKeys(root, key)) {
        const QString entry = key + u'\\' + id;
        const auto name = registry.ReadValue(root, entry);
        const auto encoder = registry.ReadValue(root, entry, kCompressorEncoderValue);
        if (!name || name->isEmpty() || !encoder || encoder->isEmpty())
            continue;
        const auto options = registry.ReadValue(root, entry, kCompressorOptionsValue);
        list.push_back({kind, *name, *encoder, options.value_or(QString())});
    }
    return list;
}

} // namespace engine
