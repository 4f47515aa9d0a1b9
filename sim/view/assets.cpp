/*
 * Looking up the embedded files (assets.h).
 */
#include "view/assets.h"

namespace zsim {
namespace view {

const Asset *find_asset(const std::string &path)
{
    for (std::size_t n = 0; n < embedded::kAssetCount; ++n)
        if (path == embedded::kAssets[n].path)
            return &embedded::kAssets[n];
    return nullptr;
}

} // namespace view
} // namespace zsim
