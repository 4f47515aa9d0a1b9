/*
 * The files of the view's page, embedded in the library when it is built
 * (embed.cmake turns page/ and the vendored scripts into a generated source):
 * the page works with no network and nothing installed beside the library.
 */
#ifndef ZSIM_VIEW_ASSETS_H
#define ZSIM_VIEW_ASSETS_H

#include <cstddef>
#include <string>

namespace zsim {
namespace view {

struct Asset {
    const char *path;         /* "/view.js"; the page itself is "/" */
    const char *content_type;
    const unsigned char *data;
    std::size_t size;
};

/* The file served at `path`, or null. */
const Asset *find_asset(const std::string &path);

namespace embedded { /* defined by the generated source */
extern const Asset kAssets[];
extern const std::size_t kAssetCount;
} // namespace embedded

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_ASSETS_H */
