#include <kvel/build_info.h>

namespace KVEL {

BuildInfo buildInfo() {
#if defined(__OPTIMIZE__) && !defined(__OPTIMIZE_SIZE__)
    constexpr bool optimised = true;
#else
    constexpr bool optimised = false;
#endif
    return {KVEL_BUILD_TYPE, KVEL_COMPILE_FLAGS, optimised};
}

}  // namespace KVEL
