/*
 * The library lock (library_lock.h).
 */
#include "library_lock.h"

namespace zsim {

std::mutex &library_mutex()
{
    static std::mutex *m = new std::mutex; /* leaked on purpose, see the header */
    return *m;
}

} // namespace zsim
