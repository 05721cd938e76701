// The kept threads: one pool for the process, made when first needed and
// never torn down (its threads wait in it until the process ends). A call
// opens its job to up to threads - 1 of them and works on it itself; a
// thread that joins a job is counted in it, and the call waits for those
// counted to finish, so that no thread touches a job once its call returns.
#include "support/workers.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <vector>

namespace {

// More threads than this add nothing on any machine this runs on.
constexpr int kMostWorkers = 64;

struct Job {
    void (*call)(void*, int);
    void* context;
    int count;
    int wanted;                // threads that may join besides the caller
    std::atomic<int> next{0};  // the next task to claim
    int joined = 0;            // under the pool's lock
    int active = 0;            // joined and not yet done, under the pool's lock
    std::mutex failure_lock;
    std::exception_ptr failure;
};

void work(Job& job) {
    for (int i = job.next++; i < job.count; i = job.next++) {
        try {
            job.call(job.context, i);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(job.failure_lock);
            if (!job.failure) job.failure = std::current_exception();
        }
    }
}

struct Pool {
    std::mutex lock;
    std::condition_variable work_to_do;
    std::condition_variable helper_done;
    std::vector<Job*> open;  // jobs threads may join
    int workers = 0;         // made or being made

    // A job some thread may still join, if any.
    Job* joinable() const {
        for (Job* job : open) {
            if (job->joined < job->wanted && job->next.load() < job->count) return job;
        }
        return nullptr;
    }
};

// A forked child has none of the threads: it starts a pool of its own.
std::atomic<Pool*> current{nullptr};

void forget_threads_in_child() { current.store(new Pool); }

Pool& pool() {
    static const bool registered = [] {
        current.store(new Pool);
        return pthread_atfork(nullptr, nullptr, forget_threads_in_child) == 0;
    }();
    (void)registered;
    return *current.load();
}

struct Start {
    Pool* pool;
    cpu_set_t cores;  // the creator's, to go back to
    bool moved;
};

// What a kept thread may be sent: the faults of its own code (SIGBUS from a
// file mapping among them) and the signals of its own writes (SIGPIPE,
// SIGXFSZ), which go to the thread that wrote. Signals meant for the
// process go to the threads of the program, as they did before these were
// made: a program that blocks them while it makes a file it must remove on
// them stays safe.
sigset_t worker_signals() {
    sigset_t blocked;
    sigfillset(&blocked);
    for (int sig : {SIGBUS, SIGSEGV, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGPIPE, SIGXFSZ})
        sigdelset(&blocked, sig);
    return blocked;
}

void* worker_main(void* argument) {
    const sigset_t blocked = worker_signals();
    pthread_sigmask(SIG_SETMASK, &blocked, nullptr);
    Start start = *static_cast<Start*>(argument);
    delete static_cast<Start*>(argument);
    if (start.moved) pthread_setaffinity_np(pthread_self(), sizeof start.cores, &start.cores);
    Pool& p = *start.pool;
    std::unique_lock<std::mutex> hold(p.lock);
    for (;;) {
        Job* job = nullptr;
        p.work_to_do.wait(hold, [&] { return (job = p.joinable()) != nullptr; });
        ++job->joined;
        ++job->active;
        hold.unlock();
        work(*job);
        hold.lock();
        if (--job->active == 0) p.helper_done.notify_all();
    }
}

// Starts a thread of the pool on a core other than this one where the
// process may use another, so that it runs now rather than once this busy
// core is balanced; it then goes back to every core it may use.
bool start_worker(Pool* p) {
    auto* start = new (std::nothrow) Start{p, {}, false};
    if (start == nullptr) return false;
    CPU_ZERO(&start->cores);
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        delete start;
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    const int here = sched_getcpu();
    if (here >= 0 && here < CPU_SETSIZE &&
        pthread_getaffinity_np(pthread_self(), sizeof start->cores, &start->cores) == 0) {
        cpu_set_t elsewhere = start->cores;
        CPU_CLR(here, &elsewhere);
        start->moved = CPU_COUNT(&elsewhere) > 0 &&
                       pthread_attr_setaffinity_np(&attributes, sizeof elsewhere, &elsewhere) == 0;
    }
    // Born with every signal blocked, until it takes its own mask.
    sigset_t all, kept;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &kept);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, worker_main, start) == 0;
    pthread_sigmask(SIG_SETMASK, &kept, nullptr);
    pthread_attr_destroy(&attributes);
    if (!started) delete start;
    return started;
}

}  // namespace

void run_on_workers(int count, int threads, void (*call)(void*, int), void* context) {
    Job job;
    job.call = call;
    job.context = context;
    job.count = count;
    job.wanted = std::min({threads, count, kMostWorkers + 1}) - 1;
    if (job.wanted <= 0) {
        work(job);
        if (job.failure) std::rethrow_exception(job.failure);
        return;
    }
    Pool& p = pool();
    int to_make = 0;
    {
        const std::lock_guard<std::mutex> hold(p.lock);
        p.open.push_back(&job);
        to_make = std::max(0, job.wanted - p.workers);
        p.workers += to_make;
    }
    p.work_to_do.notify_all();
    int made = 0;
    while (made < to_make && start_worker(&p)) ++made;
    work(job);
    {
        std::unique_lock<std::mutex> hold(p.lock);
        p.workers -= to_make - made;
        p.open.erase(std::find(p.open.begin(), p.open.end(), &job));
        p.helper_done.wait(hold, [&] { return job.active == 0; });
    }
    if (job.failure) std::rethrow_exception(job.failure);
}
