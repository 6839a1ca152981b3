#include "zoomsteps.h"

#include <array>

namespace {
constexpr std::array<double, 17> levels{0.25, 0.33, 0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                        1.25, 1.5,  1.75, 2.0,  2.5,  3.0, 4.0, 5.0};
// Levels closer than this are one: a factor read back from the engine is not exact.
constexpr double tolerance = 0.005;
} // namespace

double zoomStep(double current, int step)
{
    if (step == 0) {
        return 1.0;
    }
    if (step > 0) {
        for (const double level : levels) {
            if (level > current + tolerance) {
                return level;
            }
        }
        return levels.back();
    }
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
        if (*level < current - tolerance) {
            return *level;
        }
    }
    return levels.front();
}
