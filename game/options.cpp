#include "game/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// Whole decimal numbers only: "12abc", "", "-3" and out-of-range values are refused.
bool parseCount(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > max) return false;
    value = static_cast<unsigned long>(parsed);
    return true;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The options freeglut's glutInit understands, and whether each takes a value.
bool isGlutOption(const std::string& option, bool& takesValue) {
    takesValue = option == "-display" || option == "-geometry";
    return takesValue || option == "-direct" || option == "-indirect" || option == "-iconic" ||
           option == "-gldebug" || option == "-sync";
}

}  // namespace

OptionsStatus parseOptions(int argc, const char* const* argv, GameOptions& options,
                           std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options.showUsage = true;
            continue;
        }
        if (option == "--no-culling") {
            options.culling = false;
            continue;
        }
        if (option == "--terrain-only") {
            options.terrainOnly = true;
            continue;
        }
        bool glutValue = false;
        if (isGlutOption(option, glutValue)) {
            if (glutValue && i + 1 >= argc) {
                error = option + " needs a value";
                return OptionsStatus::Invalid;
            }
            options.glutArgs.push_back(option);
            if (glutValue) options.glutArgs.push_back(argv[++i]);
            if (option == "-display") options.displayName = options.glutArgs.back();
            continue;
        }
        const bool takesValue = option == "--timedemo" || option == "--screenshot" ||
                                option == "--seed" || option == "--data";
        if (!takesValue) {
            error = "unknown option: " + option;
            return OptionsStatus::Invalid;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return OptionsStatus::Invalid;
        }
        const std::string value = argv[++i];
        unsigned long number = 0;
        if (option == "--timedemo") {
            if (!parseCount(value, LONG_MAX, number) || number == 0) {
                error = "--timedemo needs a frame count of at least 1, not '" + value + "'";
                return OptionsStatus::Invalid;
            }
            options.timedemoFrames = static_cast<long>(number);
        } else if (option == "--seed") {
            if (!parseCount(value, UINT_MAX, number)) {
                error = "--seed needs a whole number from 0 to " + std::to_string(UINT_MAX) +
                        ", not '" + value + "'";
                return OptionsStatus::Invalid;
            }
            options.seedGiven = true;
            options.seed = static_cast<unsigned>(number);
        } else if (option == "--data") {
            if (value.empty()) {
                error = "--data needs a folder name";
                return OptionsStatus::Invalid;
            }
            options.dataDir = value;
        } else {
            if (!endsWith(value, ".bmp") || value.size() == 4) {
                error = "--screenshot needs a file name ending in .bmp, not '" + value + "'";
                return OptionsStatus::Invalid;
            }
            options.screenshotPath = value;
        }
    }
    return options.showUsage ? OptionsStatus::Usage : OptionsStatus::Play;
}

std::string usageText(const std::string& program) {
    return "usage: " + program + " [options]\n"
           "Steer a submarine through the valley; press h in the game for the keys.\n"
           "The game reads valleyDepth.bmp, valleyTex.bmp and in.conf from the working directory\n"
           "(or the --data folder). It needs an X display: set DISPLAY, or run it under xvfb-run -a.\n"
           "\n"
           "options:\n"
           "  --help               show this text and exit\n"
           "  --timedemo N         run N frames with a fixed 16 ms step, print frames per\n"
           "                       second and the mean world-step and drawing times, exit\n"
           "  --no-culling         draw every terrain tile and object, not only those in view\n"
           "  --terrain-only       draw the terrain alone, without objects and overlay: the\n"
           "                       bare frame a --timedemo of the whole one compares with\n"
           "  --screenshot F.bmp   save the last drawn frame as a 24-bit BMP when the game ends\n"
           "  --seed S             seed the random generator with S (0 to 4294967295)\n"
           "                       instead of the clock, so a run can be repeated\n"
           "  --data DIR           change to DIR before reading the data files\n"
           "\n"
           "GLUT's own options are passed to it: -display NAME, -geometry WxH+X+Y, -iconic,\n"
           "-sync, -direct, -indirect, -gldebug.\n";
}
