// Feeds arbitrary bytes to the scenario parser: it must never crash, and every
// record it keeps must be one the game can place.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "game/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const tide::ScenarioFile file = tide::parseScenario(in);
    for (const tide::ScenarioRecord& r : file.records) {
        const bool placeable = r.x >= 0 && r.x <= 100 && r.z >= 0 && r.z <= 100 &&
                               (r.kind != tide::ScenarioKind::ball || (r.number >= 0 && r.number <= 255));
        if (!placeable) std::abort();
    }
    return 0;
}
