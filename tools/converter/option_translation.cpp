#include "option_translation.h"

#include <cctype>
#include <cstring>

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

} // namespace

std::vector<std::string> TranslateArguments(const std::vector<std::string> &arguments)
{
    std::vector<std::string> out;
    std::string videoFlags;
    bool trellis = false;
    const size_t n = arguments.size();
    for (size_t i = 0; i < n; ++i) {
        const std::string &a = arguments[i];
        const bool hasValue = i + 1 < n;
        if (a == "-ab" && hasValue) {
            out.insert(out.end(), {"-b:a", TranslateRate(arguments[++i])});
        } else if (a == "-b" && hasValue) {
            out.insert(out.end(), {"-b:v", TranslateRate(arguments[++i])});
        } else if (a == "-flags" && hasValue) {
            for (const std::string &part : SplitFlags(arguments[++i])) {
                const std::string name = part.substr(1);
                if (name == "trell")
                    trellis = part[0] == '+';
                else if (name == "4mv")
                    videoFlags += part[0] + std::string("mv4");
                else
                    videoFlags += part;
            }
        } else if (a == "-aic" && hasValue) {
            if (arguments[++i] != "0")
                videoFlags += "+aic";
        } else if (a == "-s" && hasValue) {
            out.insert(out.end(), {"-s", Lowered(arguments[++i])});
        } else {
            out.push_back(a);
        }
    }
    if (!videoFlags.empty() || trellis) {
        // Before the output file, the last argument (or at the end when there is none).
        const auto where = out.empty() ? out.end() : out.end() - 1;
        std::vector<std::string> extra;
        if (!videoFlags.empty())
            extra.insert(extra.end(), {"-flags:v", videoFlags});
        if (trellis)
            extra.insert(extra.end(), {"-trellis", "1"});
        out.insert(where, extra.begin(), extra.end());
    }
    return out;
}

} // namespace converter
