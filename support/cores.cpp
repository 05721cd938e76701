// The cores a process may use: those its CPU affinity allows, fewer when its
// cgroup's CPU quota grants less time than that.
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "support/support.h"

namespace {

// The process's cgroup directory under the unified (v2) or cpu (v1)
// hierarchy, as /proc/self/cgroup names it; "" when not found.
std::string cgroup_dir(bool v2) {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (v2 && line.compare(0, 2, "0:") == 0 && controllers.empty()) {
            return "/sys/fs/cgroup" + path;
        }
        if (!v2 && (controllers == "cpu" || controllers.find("cpu,") != std::string::npos ||
                    controllers.find(",cpu") != std::string::npos)) {
            for (const char* mount : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"}) {
                const std::string dir = std::string(mount) + path;
                if (std::ifstream(dir + "/cpu.cfs_quota_us")) return dir;
            }
        }
    }
    return "";
}

// Cores' worth of CPU time the cgroup grants, 0 when it sets no quota.
double cgroup_quota() {
    if (const std::string dir = cgroup_dir(true); !dir.empty()) {
        std::ifstream in(dir + "/cpu.max");
        std::string quota;
        double period = 0;
        if (in >> quota >> period && quota != "max" && period > 0) return std::stod(quota) / period;
    }
    if (const std::string dir = cgroup_dir(false); !dir.empty()) {
        double quota = -1, period = 0;
        std::ifstream(dir + "/cpu.cfs_quota_us") >> quota;
        std::ifstream(dir + "/cpu.cfs_period_us") >> period;
        if (quota > 0 && period > 0) return quota / period;
    }
    return 0;
}

}  // namespace

int usable_cores() {
    int cores = 0;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) cores = CPU_COUNT(&set);
    if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
    if (cores <= 0) cores = 1;
    try {
        const double quota = cgroup_quota();
        if (quota > 0) cores = std::max(1, std::min(cores, static_cast<int>(std::ceil(quota))));
    } catch (const std::exception&) {
        // An unreadable quota limits nothing.
    }
    return cores;
}
