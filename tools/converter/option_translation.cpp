#include "option_translation.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace converter {
namespace {

// "128kb" -> "128k": a trailing "b" after an SI prefix meant "bits" in the old syntax.
std::string TranslateRate(const std::string &value)
{
    if (value.size() >= 2 && value.back() == 'b') {
        const char prefix = value[value.size() - 2];
        if (std::strchr("kKmMgG", prefix) != nullptr)
            return value.substr(0, value.size() - 1);
    }
    return value;
}

// Splits "+4mv+trell-gray" into its signed parts: "+4mv", "+trell", "-gray". A part
// without a sign counts as "+".
std::vector<std::string> SplitFlags(const std::string &flags)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : flags) {
        if ((c == '+' || c == '-') && !current.empty()) {
            parts.push_back(current);
            current.clear();
        }
        current += c;
    }
    if (!current.empty())
        parts.push_back(current);
    for (std::string &p : parts) {
        if (p[0] != '+' && p[0] != '-')
            p.insert(p.begin(), '+');
    }
    return parts;
}

std::string Lowered(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "1200k" -> 1200000; 0 when it is no rate.
double RateValue(const std::string &value)
{
    char *end = nullptr;
    double rate = std::strtod(value.c_str(), &end);
    if (end == value.c_str())
        return 0;
    if (*end == 'k' || *end == 'K')
        rate *= 1e3;
    else if (*end == 'm' || *end == 'M')
        rate *= 1e6;
    return rate;
}

// "30000/1001" -> 29.97; 0 when it is no rate.
double FrameRateValue(const std::string &value)
{
    char *end = nullptr;
    const double num = std::strtod(value.c_str(), &end);
    if (end == value.c_str())
        return 0;
    if (*end == '/') {
        const double den = std::strtod(end + 1, nullptr);
        return den > 0 ? num / den : 0;
    }
    return num;
}

// "320x240" -> {320, 240}; {0, 0} when it is no size.
FrameSize SizeValue(const std::string &value)
{
    FrameSize size;
    char *end = nullptr;
    size.width = static_cast<int>(std::strtol(value.c_str(), &end, 10));
    if (end == value.c_str() || (*end != 'x' && *end != 'X'))
        return FrameSize{};
    size.height = static_cast<int>(std::strtol(end + 1, nullptr, 10));
    return size;
}

bool IsMp4Family(const std::string &path)
{
    const std::string lower = Lowered(path);
    for (const char *ext : {".mp4", ".m4v", ".mov", ".3gp"}) {
        const size_t n = std::strlen(ext);
        if (lower.size() >= n && lower.compare(lower.size() - n, n, ext) == 0)
            return true;
    }
    return false;
}

} // namespace

int SimpleProfileLevel(FrameSize size, double frameRate, double bitRate)
{
    // MPEG-4 Visual Simple Profile, lowest level first: the level's number as the encoder
    // writes it (9 is level 0b, 4 is 4a), macroblocks a frame, macroblocks a second, bit/s.
    struct Level
    {
        int number;
        double frameBlocks, blocksPerSecond, bits;
    };
    static constexpr Level kLevels[] = {{1, 99, 1485, 64e3},
                                        {9, 99, 1485, 128e3},
                                        {2, 396, 5940, 128e3},
                                        {3, 396, 11880, 384e3},
                                        {4, 1200, 36000, 4000e3},
                                        {5, 1620, 40500, 8000e3},
                                        {6, 3600, 108000, 12000e3}};
    if (size.width <= 0 || size.height <= 0)
        return 0;
    // In floating point: a size read from a file may be as large as an int holds.
    const double blocks = std::ceil(size.width / 16.0) * std::ceil(size.height / 16.0);
    for (const Level &level : kLevels) {
        if (blocks <= level.frameBlocks && blocks * frameRate <= level.blocksPerSecond
            && bitRate <= level.bits)
            return level.number;
    }
    return 0;
}

FrameSize AviFrameSize(const std::string &path)
{
    // RIFF 'AVI ' LIST 'hdrl' 'avih': the main header's width and height at 32 and 36.
    unsigned char head[72] = {};
    std::ifstream file(path, std::ios::binary);
    if (!file.read(reinterpret_cast<char *>(head), sizeof head) || std::memcmp(head, "RIFF", 4) != 0
        || std::memcmp(head + 8, "AVI ", 4) != 0 || std::memcmp(head + 24, "avih", 4) != 0)
        return FrameSize{};
    auto word = [&](int at) {
        return static_cast<int>(head[at] | head[at + 1] << 8 | head[at + 2] << 16
                                | static_cast<std::uint32_t>(head[at + 3]) << 24);
    };
    return FrameSize{word(32 + 32), word(32 + 36)};
}

namespace {

// What the old options said about the video, needed once all of them are read.
struct VideoSettings
{
    std::string flags; // "-flags:v" for the output
    bool trellis = false;
    bool mpeg4 = false;
    FrameSize size;
    double frameRate = 0;
    double bitRate = 200e3; // ffmpeg's own default video rate
};

// "+4mv+trell": trellis quantisation became an option of its own and "4mv" is "mv4" now.
void CollectFlags(const std::string &flags, VideoSettings *video)
{
    for (const std::string &part : SplitFlags(flags)) {
        const std::string name = part.substr(1);
        if (name == "trell")
            video->trellis = part[0] == '+';
        else if (name == "4mv")
            video->flags += part[0] + std::string("mv4");
        else
            video->flags += part;
    }
}

using Arguments = std::vector<std::string>;

// An old option that takes a value, and what it becomes.
struct OptionRule
{
    const char *name;
    void (*translate)(const std::string &value, Arguments *out, VideoSettings *video);
};

constexpr OptionRule kOptionRules[] = {
    {"-ab",
     [](const std::string &value, Arguments *out, VideoSettings *) {
         out->insert(out->end(), {"-b:a", TranslateRate(value)});
     }},
    {"-b",
     [](const std::string &value, Arguments *out, VideoSettings *video) {
         out->insert(out->end(), {"-b:v", TranslateRate(value)});
         video->bitRate = RateValue(out->back());
     }},
    {"-flags",
     [](const std::string &value, Arguments *, VideoSettings *video) {
         CollectFlags(value, video);
     }},
    {"-aic",
     [](const std::string &value, Arguments *, VideoSettings *video) {
         if (value != "0")
             video->flags += "+aic";
     }},
    {"-s",
     [](const std::string &value, Arguments *out, VideoSettings *video) {
         out->insert(out->end(), {"-s", Lowered(value)});
         video->size = SizeValue(out->back());
     }},
    {"-r",
     [](const std::string &value, Arguments *out, VideoSettings *video) {
         out->insert(out->end(), {"-r", value});
         video->frameRate = FrameRateValue(value);
     }},
    {"-vcodec",
     [](const std::string &value, Arguments *out, VideoSettings *video) {
         out->insert(out->end(), {"-vcodec", value});
         video->mpeg4 = value == "mpeg4";
     }},
};

const OptionRule *FindRule(const std::string &option)
{
    for (const OptionRule &rule : kOptionRules) {
        if (option == rule.name)
            return &rule;
    }
    return nullptr;
}

// The options that apply to the output file as a whole, from what the old ones said.
Arguments OutputOptions(const VideoSettings &video, const std::string &outputFile)
{
    Arguments extra;
    if (!video.flags.empty())
        extra.insert(extra.end(), {"-flags:v", video.flags});
    if (video.trellis)
        extra.insert(extra.end(), {"-trellis", "1"});
    // ffmpeg labels an MPEG-4 stream Simple Profile level 1 whatever it carries, and a
    // strict player refuses a stream beyond its label: name the level that admits it.
    const double frameRate = video.frameRate > 0 ? video.frameRate : 30;
    const int level = SimpleProfileLevel(video.size, frameRate, video.bitRate);
    if (video.mpeg4 && level > 0)
        extra.insert(extra.end(), {"-profile:v", "0", "-level:v", std::to_string(level)});
    // The index before the media data, so that a player can start the movie at once.
    if (IsMp4Family(outputFile))
        extra.insert(extra.end(), {"-movflags", "+faststart"});
    return extra;
}

} // namespace

std::vector<std::string> TranslateArguments(const std::vector<std::string> &arguments,
                                            FrameSize inputSize)
{
    Arguments out;
    VideoSettings video;
    video.size = inputSize;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const OptionRule *rule = FindRule(arguments[i]);
        if (rule && i + 1 < arguments.size())
            rule->translate(arguments[++i], &out, &video);
        else
            out.push_back(arguments[i]);
    }
    // Before the output file, the last argument (or at the end when there is none).
    const Arguments extra = OutputOptions(video, out.empty() ? std::string() : out.back());
    out.insert(out.empty() ? out.end() : out.end() - 1, extra.begin(), extra.end());
    return out;
}

} // namespace converter
