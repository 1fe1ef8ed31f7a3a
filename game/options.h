#pragma once

#include <string>
#include <vector>

// Command-line options. Without any, the game plays exactly as it always does.
struct GameOptions {
    bool showUsage = false;        // --help
    long timedemoFrames = 0;       // --timedemo N; 0 means play normally
    std::string screenshotPath;    // --screenshot FILE.bmp; empty means none
    bool seedGiven = false;        // --seed S
    unsigned seed = 0;
    bool culling = true;           // --no-culling draws every terrain tile and object
    bool terrainOnly = false;      // --terrain-only draws the terrain tiles and nothing else
    std::string dataDir;           // --data DIR; empty means the working directory
    // GLUT's own options (-display, -geometry, ...) with their values, in
    // order, for glutInit after the program name.
    std::vector<std::string> glutArgs;
    std::string displayName;       // -display NAME; empty means $DISPLAY
};

enum class OptionsStatus { Play, Usage, Invalid };

// Parses argv[1..argc-1]. Invalid fills `error` with a one-line reason.
OptionsStatus parseOptions(int argc, const char* const* argv, GameOptions& options,
                           std::string& error);

// The --help text, naming the program as `program`.
std::string usageText(const std::string& program);
