// The kept threads: every task runs exactly once however many threads are
// asked for, however many callers come at once and whether tasks call in
// again; a failure is thrown once every task has ended; and a forked child,
// which has none of the threads, still gets its tasks done.
#include "support/workers.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/sanitized.h"

namespace {

// Runs count tasks on `threads` threads; each task adds its index + 1 to its
// own slot, and, asked to, runs a nested call of its own.
std::vector<int> run_counting(int count, int threads, bool nested) {
    std::vector<int> ran(static_cast<std::size_t>(count), 0);
    run_on_workers(count, threads, [&](int i) {
        ran[static_cast<std::size_t>(i)] += i + 1;
        if (nested) {
            std::vector<int> inner = run_counting(5, 3, false);
            for (int k = 0; k < 5; ++k) ASSERT_EQ(inner[static_cast<std::size_t>(k)], k + 1);
        }
    });
    return ran;
}

TEST(Workers, EveryTaskRunsOnce) {
    struct Case {
        int count, threads;
        bool nested;
    };
    for (const Case c : {Case{0, 4, false}, Case{1, 4, false}, Case{7, 1, false}, Case{7, 0, false},
                         Case{100, 3, false}, Case{3, 100, false}, Case{20, 4, true}}) {
        const std::vector<int> ran = run_counting(c.count, c.threads, c.nested);
        for (int i = 0; i < c.count; ++i)
            ASSERT_EQ(ran[static_cast<std::size_t>(i)], i + 1)
                << c.count << " tasks on " << c.threads << " threads, task " << i;
    }
}

TEST(Workers, CallersAtOnceEachGetTheirOwnTasksDone) {
    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t) {
        callers.emplace_back([&, t] {
            for (int round = 0; round < 30; ++round) {
                const std::vector<int> ran = run_counting(10 + t, 2 + t % 3, round % 5 == 0);
                for (int i = 0; i < 10 + t; ++i) wrong += ran[static_cast<std::size_t>(i)] != i + 1;
            }
        });
    }
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(wrong, 0);
}

TEST(Workers, FailureIsThrownOnceEveryTaskHasEnded) {
    std::atomic<int> ended{0};
    try {
        run_on_workers(50, 4, [&](int i) {
            ended++;
            if (i % 10 == 3) throw std::runtime_error("task failed");
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "task failed");
    }
    EXPECT_EQ(ended, 50);
}

// A call made from inside a task, while the other tasks of the outer call
// keep the kept threads busy, still gets a thread beside its caller: the
// labelling of one input band runs inside a call beside the reading of the
// next.
TEST(Workers, CallFromInsideATaskGetsAThreadOfItsOwn) {
    std::atomic<bool> met{false};
    run_on_workers(2, 2, [&](int outer) {
        if (outer == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return;
        }
        std::atomic<int> arrived{0};
        run_on_workers(2, 2, [&](int) {
            // The first to arrive waits for the other, which comes at once
            // from another thread or, from the same one, only after it.
            if (++arrived > 1) return;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (arrived < 2 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            met = arrived == 2;
        });
    });
    EXPECT_TRUE(met) << "the inner call's tasks ran one after the other";
}

// Signals sent to the process reach the program's own threads, never a kept
// one; the faults and the write signals of a kept thread's own work reach it.
TEST(Workers, KeptThreadsTakeNoSignalsMeantForTheProcess) {
    const pthread_t caller = pthread_self();
    std::mutex lock;
    std::vector<sigset_t> masks;
    for (int call = 0; call < 200 && masks.empty(); ++call) {
        run_on_workers(2, 2, [&](int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (pthread_equal(pthread_self(), caller)) return;
            sigset_t mask;
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            const std::lock_guard<std::mutex> hold(lock);
            masks.push_back(mask);
        });
    }
    ASSERT_FALSE(masks.empty()) << "no task ran on a kept thread";
    for (const sigset_t& mask : masks) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGCHLD})
            EXPECT_EQ(sigismember(&mask, sig), 1) << sigabbrev_np(sig);
        for (int sig : {SIGPIPE, SIGXFSZ, SIGBUS, SIGSEGV})
            EXPECT_EQ(sigismember(&mask, sig), 0) << sigabbrev_np(sig);
    }
}

TEST(Workers, ForkedChildGetsItsTasksDone) {
    if (kThreadSanitized) GTEST_SKIP() << "ThreadSanitizer starts no thread in a forked child";
    run_counting(8, 4, false);  // threads made in the parent
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::vector<int> ran = run_counting(8, 4, false);
        for (int i = 0; i < 8; ++i)
            if (ran[static_cast<std::size_t>(i)] != i + 1) _exit(1);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
