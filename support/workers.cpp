// The kept threads: one pool for the process, made when first needed and
// never torn down (its threads wait in it until the process ends). A call
// takes the idle threads it wants (making more when none is idle, up to
// kMostWorkers in all), hands each its job and a core, works on the job
// itself, and waits for the threads it took, so that no thread touches a job
// once its call returns.
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
    std::atomic<int> next{0};  // the next task to claim
    int helpers = 0;           // threads taken and not yet done, under the pool's lock
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

struct Worker {
    pthread_t thread{};
    std::condition_variable woken;
    Job* job = nullptr;  // under the pool's lock
};

struct Pool {
    std::mutex lock;
    std::condition_variable helper_done;
    std::vector<Worker*> idle;
    int workers = 0;  // made or being made
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

// Where a call sends its threads: the cores its caller may use, the
// caller's own last, starting after it, so that each thread gets a core
// of its own while there are cores to spare.
class Cores {
  public:
    Cores() {
        CPU_ZERO(&allowed_);
        if (sched_getaffinity(0, sizeof allowed_, &allowed_) != 0) return;
        const int here = sched_getcpu();
        for (int step = 1; step <= CPU_SETSIZE; ++step) {
            const int cpu = ((here < 0 ? 0 : here) + step) % CPU_SETSIZE;
            if (CPU_ISSET(cpu, &allowed_)) order_.push_back(cpu);
        }
    }
    // The cores for the n-th thread taken: one of them, or all the caller
    // may use when it may use one alone.
    cpu_set_t for_thread(std::size_t n) const {
        if (order_.size() < 2) return allowed_;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(order_[n % (order_.size() - 1)], &one);
        return one;
    }

  private:
    cpu_set_t allowed_;
    std::vector<int> order_;
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

struct Start {
    Pool* pool;
    Job* job;
};

void* worker_main(void* argument) {
    const sigset_t blocked = worker_signals();
    pthread_sigmask(SIG_SETMASK, &blocked, nullptr);
    const Start start = *static_cast<Start*>(argument);
    delete static_cast<Start*>(argument);
    Pool& p = *start.pool;
    Worker self;
    self.thread = pthread_self();
    self.job = start.job;
    std::unique_lock<std::mutex> hold(p.lock);
    for (;;) {
        Job* job = self.job;
        hold.unlock();
        work(*job);
        hold.lock();
        self.job = nullptr;
        if (--job->helpers == 0) p.helper_done.notify_all();
        p.idle.push_back(&self);
        self.woken.wait(hold, [&] { return self.job != nullptr; });
    }
}

// Starts a thread of the pool on the given cores with the job to do first.
bool start_worker(Pool* p, Job* job, const cpu_set_t& cores) {
    auto* start = new (std::nothrow) Start{p, job};
    if (start == nullptr) return false;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        delete start;
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setaffinity_np(&attributes, sizeof cores, &cores);
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
    const int wanted = std::min({threads, count, kMostWorkers + 1}) - 1;
    if (wanted > 0) {
        Pool& p = pool();
        const Cores cores;
        std::vector<Worker*> taken;
        taken.reserve(static_cast<std::size_t>(wanted));
        int to_make = 0;
        {
            const std::lock_guard<std::mutex> hold(p.lock);
            while (static_cast<int>(taken.size()) < wanted && !p.idle.empty()) {
                taken.push_back(p.idle.back());
                p.idle.pop_back();
            }
            // Threads busy with other calls (or with the task that made
            // this call) are not waited for: more are made.
            to_make = std::min(wanted - static_cast<int>(taken.size()),
                               std::max(0, kMostWorkers - p.workers));
            p.workers += to_make;
            job.helpers = static_cast<int>(taken.size()) + to_make;
        }
        // Pointed at its core before it is woken, so that it wakes there.
        for (std::size_t n = 0; n < taken.size(); ++n) {
            const cpu_set_t core = cores.for_thread(n);
            pthread_setaffinity_np(taken[n]->thread, sizeof core, &core);
            const std::lock_guard<std::mutex> hold(p.lock);
            taken[n]->job = &job;
            taken[n]->woken.notify_one();
        }
        for (int k = 0; k < to_make; ++k) {
            if (start_worker(&p, &job, cores.for_thread(taken.size() + std::size_t(k)))) continue;
            const std::lock_guard<std::mutex> hold(p.lock);
            p.workers -= to_make - k;
            job.helpers -= to_make - k;
            break;
        }
        work(job);
        std::unique_lock<std::mutex> hold(p.lock);
        p.helper_done.wait(hold, [&] { return job.helpers == 0; });
    } else {
        work(job);
    }
    if (job.failure) std::rethrow_exception(job.failure);
}
