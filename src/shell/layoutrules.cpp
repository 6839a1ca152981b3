#include "layoutrules.h"

#include <cmath>

std::optional<float> browserHeightTwips(float innerHeight, float coolBarHeight,
                                        float statusBarHeight, float allowance)
{
    const float height = innerHeight - coolBarHeight - statusBarHeight - allowance;
    if (!std::isfinite(height) || height < 0.0f) {
        return std::nullopt;
    }
    return height;
}
