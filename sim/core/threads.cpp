/*
 * Threads that start from a plain C routine (threads.h).
 */
#include "threads.h"

#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace zsim {
namespace threads {

namespace {

struct Job {
    Routine routine;
    void *arg;
};

#if defined(_WIN32)
DWORD WINAPI run(void *job_memory)
#else
void *run(void *job_memory)
#endif
{
    Job *job = static_cast<Job *>(job_memory);
    const Job copy = *job;
    delete job;
    copy.routine(copy.arg); /* nothing in this frame to clean up */
#if defined(_WIN32)
    return 0;
#else
    return nullptr;
#endif
}

/* Starts a thread; its handle in *thread. */
#if defined(_WIN32)
bool start(Routine routine, void *arg, HANDLE *thread)
{
    Job *job = new (std::nothrow) Job{routine, arg};
    if (!job)
        return false;
    *thread = CreateThread(nullptr, 0, run, job, 0, nullptr);
    if (*thread)
        return true;
    delete job;
    return false;
}
#else
bool start(Routine routine, void *arg, pthread_t *thread)
{
    Job *job = new (std::nothrow) Job{routine, arg};
    if (!job)
        return false;
    if (pthread_create(thread, nullptr, run, job) == 0)
        return true;
    delete job;
    return false;
}
#endif

} // namespace

bool start_detached(Routine routine, void *arg)
{
#if defined(_WIN32)
    HANDLE thread;
    if (!start(routine, arg, &thread))
        return false;
    CloseHandle(thread);
#else
    pthread_t thread;
    if (!start(routine, arg, &thread))
        return false;
    pthread_detach(thread);
#endif
    return true;
}

bool run_joined(Routine routine, void *arg)
{
#if defined(_WIN32)
    HANDLE thread;
    if (!start(routine, arg, &thread))
        return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    pthread_t thread;
    if (!start(routine, arg, &thread))
        return false;
    pthread_join(thread, nullptr);
#endif
    return true;
}

} // namespace threads
} // namespace zsim
