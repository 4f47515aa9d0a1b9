/*
 * The view around a script's life, for scripts too short to watch:
 *
 *   ZSIM_VIEW_WAIT=seconds  the first call that sets an arm moving waits
 *                           until a page watches (an event stream is open),
 *                           at most that long;
 *   ZSIM_VIEW_HOLD=seconds  when the process exits, the view serves on with
 *                           the state marked "script ended", until the
 *                           pages that watched have all closed, at most
 *                           that long.
 *
 * Both do nothing unless the view runs; each says on standard error what it
 * waits for. A value that is not a number from 0 to kLongestWait is
 * reported and ignored.
 */
#ifndef ZSIM_VIEW_SESSION_H
#define ZSIM_VIEW_SESSION_H

#include <string>

namespace zsim {
namespace view {

constexpr double kLongestWait = 3600; /* s */

/* Called before every call that sets an arm moving: the first one waits as
 * ZSIM_VIEW_WAIT asks; later ones, and concurrent ones once it is done,
 * return at once. */
void before_first_motion();

/* Called once, when the view starts: the session's view is this one, and
 * the wait at exit that ZSIM_VIEW_HOLD asks for is arranged. */
class Sampler;
void view_started(Sampler &sampler, const std::string &url);

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_SESSION_H */
