// How much more memory the process may take before something stops it: the
// machine running out, a memory cgroup's limit (where the kernel's answer is
// a kill, not a failed request), or the process's own resource limits.
// Everything is read from /proc and the cgroup files on each call.
#include "support/memory_limit.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "support/support.h"

namespace {

constexpr std::size_t kMiB = std::size_t(1) << 20;
// Left for the rest of the machine.
constexpr std::size_t kMachineMargin = 192 * kMiB;
// Left for what a cgroup charges beside the heap: page tables, kernel
// memory, stdio buffers.
constexpr std::size_t kCgroupMargin = 16 * kMiB;
// Left under an address-space or data limit for allocations outside the heap.
constexpr std::size_t kRlimitMargin = 16 * kMiB;
// A cgroup v1 "no limit" is close to 2^63; anything past 2^62 is none.
constexpr unsigned long long kNoLimit = 1ull << 62;

std::size_t less_margin(unsigned long long room, std::size_t margin) {
    if (room >= SIZE_MAX) return SIZE_MAX;
    return room > margin ? static_cast<std::size_t>(room - margin) : 0;
}

// The whole of a small text file; empty when it cannot be read.
std::string read_text(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

bool parse_unsigned(std::string_view text, unsigned long long* value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == text.size() || text[i] < '0' || text[i] > '9') return false;
    unsigned long long number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (number > (UINT64_MAX - 9) / 10) return false;
        number = number * 10 + static_cast<unsigned>(text[i] - '0');
    }
    *value = number;
    return true;
}

// The number after "key" at the start of a line ("key value" or "key: value").
bool find_value(std::string_view text, std::string_view key, unsigned long long* value) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(at, end - at);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            (line[key.size()] == ' ' || line[key.size()] == ':')) {
            std::string_view rest = line.substr(key.size() + 1);
            return parse_unsigned(rest, value);
        }
        at = end + 1;
    }
    return false;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t end = text.find(separator, at);
        parts.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
        if (end == std::string_view::npos) return parts;
        at = end + 1;
    }
}

// mountinfo writes blanks, tabs, newlines and backslashes in paths as \ooo.
std::string unescape(std::string_view text) {
    const auto octal = [](char ch) { return ch >= '0' && ch <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && octal(text[i + 1]) && octal(text[i + 2]) &&
            octal(text[i + 3])) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                     (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The page cache of files is what the kernel reclaims before it kills: clean
// pages are dropped, mapped or not (an input read in place is such pages),
// and dirty ones written back first. tmpfs pages are not on these lists.
struct CgroupFiles {
    const char* limit;
    const char* usage;
    const char* file_pages[2];  // the memory.stat keys of the file page lists
};
constexpr CgroupFiles kVersion1{
    "memory.limit_in_bytes", "memory.usage_in_bytes", {"total_active_file", "total_inactive_file"}};
constexpr CgroupFiles kVersion2{"memory.max", "memory.current", {"active_file", "inactive_file"}};

// Room under the limits of the cgroup at dir and of each ancestor up to the
// mount point: limit less usage, not counting the page cache of files, which
// the kernel reclaims before it kills.
unsigned long long cgroup_tree_room(std::string dir, const std::string& mount,
                                    const CgroupFiles& files) {
    unsigned long long room = UINT64_MAX;
    for (;;) {
        unsigned long long limit = 0;
        unsigned long long usage = 0;
        if (parse_unsigned(read_text(dir + "/" + files.limit), &limit) && limit < kNoLimit &&
            parse_unsigned(read_text(dir + "/" + files.usage), &usage)) {
            const std::string stat = read_text(dir + "/memory.stat");
            unsigned long long reclaimable = 0;
            for (const char* key : files.file_pages) {
                unsigned long long pages = 0;
                if (find_value(stat, key, &pages)) reclaimable += pages;
            }
            if (reclaimable > usage) reclaimable = 0;
            const unsigned long long in_use = usage - reclaimable;
            room = std::min(room, limit > in_use ? limit - in_use : 0);
        }
        if (dir.size() <= mount.size()) return room;
        const std::size_t slash = dir.rfind('/');
        if (slash == std::string::npos || slash < mount.size()) return room;
        dir.resize(slash);
    }
}

// The process's memory cgroups, v1 and v2, found through /proc/self/cgroup
// and the cgroup mounts; the room under the tightest of their limits.
unsigned long long cgroup_room() {
    std::string v1_path;
    std::string v2_path;
    bool has_v1 = false;
    bool has_v2 = false;
    const std::string cgroups = read_text("/proc/self/cgroup");
    for (std::string_view line : split(cgroups, '\n')) {
        // hierarchy-id:controllers:path
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (line.substr(0, first) == "0" && controllers.empty()) {
            v2_path = path;
            has_v2 = true;
        }
        for (std::string_view controller : split(controllers, ','))
            if (controller == "memory") {
                v1_path = path;
                has_v1 = true;
            }
    }
    if (!has_v1 && !has_v2) return UINT64_MAX;

    unsigned long long room = UINT64_MAX;
    const std::string mounts = read_text("/proc/self/mountinfo");
    for (std::string_view line : split(mounts, '\n')) {
        // id parent major:minor root mount-point options [tags] - type source super-options
        const std::size_t dash = line.find(" - ");
        if (dash == std::string_view::npos) continue;
        const std::vector<std::string_view> fields = split(line.substr(0, dash), ' ');
        const std::vector<std::string_view> tail = split(line.substr(dash + 3), ' ');
        if (fields.size() < 5 || tail.size() < 3) continue;
        const CgroupFiles* files = nullptr;
        const std::string* path = nullptr;
        if (tail[0] == "cgroup2" && has_v2) {
            files = &kVersion2;
            path = &v2_path;
        } else if (tail[0] == "cgroup" && has_v1) {
            for (std::string_view option : split(tail[2], ','))
                if (option == "memory") files = &kVersion1;
            path = &v1_path;
        }
        if (files == nullptr) continue;
        const std::string root = unescape(fields[3]);
        const std::string mount = unescape(fields[4]);
        // The mount shows the hierarchy from root down; a process path outside
        // it (another namespace's view) is taken as the mount's top.
        std::string dir = mount;
        if (root == "/") {
            dir += *path == "/" ? "" : *path;
        } else if (path->compare(0, root.size(), root) == 0 &&
                   (path->size() == root.size() || (*path)[root.size()] == '/')) {
            dir += path->substr(root.size());
        }
        room = std::min(room, cgroup_tree_room(dir, mount, *files));
    }
    return room;
}

unsigned long long machine_room() {
    const std::string meminfo = read_text("/proc/meminfo");
    unsigned long long available = 0;
    if (!find_value(meminfo, "MemAvailable", &available)) return UINT64_MAX;
    unsigned long long swap = 0;
    if (find_value(meminfo, "SwapFree", &swap)) available += swap;
    return available * 1024;
}

struct Statm {
    unsigned long long size = 0;  // bytes mapped
    unsigned long long data = 0;  // private writable bytes mapped, stack included
    unsigned long long resident_anon = 0;
    bool known = false;
};

Statm read_statm() {
    Statm statm;
    const std::string text = read_text("/proc/self/statm");
    const std::vector<std::string_view> fields = split(text, ' ');
    unsigned long long pages[6] = {};
    if (fields.size() < 6) return statm;
    for (int i = 0; i < 6; ++i)
        if (!parse_unsigned(fields[i], &pages[i])) return statm;
    const auto page = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
    statm.size = pages[0] * page;
    statm.resident_anon = (pages[1] > pages[2] ? pages[1] - pages[2] : 0) * page;
    statm.data = pages[5] * page;
    statm.known = true;
    return statm;
}

unsigned long long rlimit_room(int resource, unsigned long long used) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

}  // namespace

MemoryRoom measure_memory_room() {
    const Statm statm = read_statm();
    MemoryRoom room{};
    room.in_use_room = std::min(less_margin(machine_room(), kMachineMargin),
                                less_margin(cgroup_room(), kCgroupMargin));
    unsigned long long mapped = UINT64_MAX;
    if (statm.known) {
        mapped = std::min(rlimit_room(RLIMIT_AS, statm.size), rlimit_room(RLIMIT_DATA, statm.data));
    }
    room.mapped_room = less_margin(mapped, kRlimitMargin);
    room.resident_anon = static_cast<std::size_t>(statm.resident_anon);
    room.untouched = statm.data > statm.resident_anon
                         ? static_cast<std::size_t>(statm.data - statm.resident_anon)
                         : 0;
    return room;
}

std::size_t memory_headroom() {
    const MemoryRoom room = measure_memory_room();
    return std::min(room.in_use_room, room.mapped_room);
}

bool memory_can_back(std::size_t bytes) { return bytes <= memory_headroom(); }

namespace {

std::atomic<std::size_t> handed_out_since_look{0};
// What may go out before the next look. The first look waits for a whole
// one: a small image then costs no look at all (each reads a dozen files).
std::atomic<std::size_t> allowance{kBudgetLook};
std::atomic<std::size_t> mapped_by_heap{0};

}  // namespace

bool memory_budget_allows(std::size_t bytes) {
    const std::size_t before = handed_out_since_look.fetch_add(bytes, std::memory_order_relaxed);
    const std::size_t allowed = allowance.load(std::memory_order_relaxed);
    if (before <= allowed && bytes <= allowed - before) return true;
    handed_out_since_look.store(0, std::memory_order_relaxed);
    const MemoryRoom room = measure_memory_room();
    // The heap's mappings not touched yet: what it maps beyond all the
    // anonymous memory resident (most of which is its), and no more than
    // all the kernel sees untouched (which counts every thread's stack too).
    const std::size_t mapped = mapped_by_heap.load(std::memory_order_relaxed);
    const std::size_t untouched =
        std::min(room.untouched, mapped > room.resident_anon ? mapped - room.resident_anon : 0);
    const std::size_t in_use_room = room.in_use_room > untouched ? room.in_use_room - untouched : 0;
    const std::size_t left = std::min(room.mapped_room, in_use_room);
    if (bytes > left) {
        allowance.store(0, std::memory_order_relaxed);
        return false;
    }
    // Until the next look, at most half of what is left then goes out
    // unweighed (on every thread together), so it can never carry the
    // process past a limit; near one, looks come more often.
    allowance.store(std::min(kBudgetLook, (left - bytes) / 2), std::memory_order_relaxed);
    return true;
}

void memory_budget_mapped(std::ptrdiff_t bytes) {
    mapped_by_heap.fetch_add(static_cast<std::size_t>(bytes), std::memory_order_relaxed);
}

std::size_t page_headroom() { return measure_memory_room().in_use_room; }
