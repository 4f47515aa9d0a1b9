/*
 * What the C++ benchmark programs share: a thread's processor time, and
 * percentiles of repeated measurements printed on one line.
 */
#ifndef BENCH_STATS_H
#define BENCH_STATS_H

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <vector>

namespace bench {

/* Processor time of the calling thread, s: the motion thread idles in manual time. */
inline double thread_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

/* The p-th quantile (0 to 1) of v, interpolated between neighbours. */
inline double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const double at = p * static_cast<double>(v.size() - 1);
    const std::size_t i = static_cast<std::size_t>(at);
    const double frac = at - static_cast<double>(i);
    return i + 1 < v.size() ? v[i] * (1 - frac) + v[i + 1] * frac : v[i];
}

/* "name median p25 p75 unit". */
inline void report(const char *name, const std::vector<double> &v, const char *unit)
{
    std::printf("%s %.4g %.4g %.4g %s\n", name, percentile(v, 0.5), percentile(v, 0.25), percentile(v, 0.75), unit);
}

} // namespace bench

#endif /* BENCH_STATS_H */
