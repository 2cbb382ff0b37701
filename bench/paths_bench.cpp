// Path objects beside the system tools, each measured once on tmpfs:
//   - COrvikFilePath::GetFileChecksum of a 1 GiB file beside GNU cksum of the
//     same file (same polynomial, unreflected); ratio = cksum time / ours
//     (our share of cksum's throughput);
//   - CDirectoryManipulator::RemoveDirectoryAndContents of a 20,000-file tree
//     beside "rm -rf" of an identical tree; ratio = our time / rm's;
//   - the same of a chain of folders 100, 300 and 1,000 levels deep (one folder
//     "d" and one file "f" per level), which re-lists each subtree once per
//     level above it; ours runs in a child, whose peak memory is reported.
// The workspace is a tmpfs mounted in a private mount namespace when we may
// (root), so nothing shows on the host; otherwise a folder in /dev/shm.
// The checksum runs twice: on a plain tmpfs, and on one whose files sit in
// huge pages. On a virtual machine with shadow paging the first user read of
// each page of a fresh mapping traps to the host: 262,144 traps for 1 GiB of
// 4 KiB pages (most of our time there), far fewer with huge pages.
// Each tool runs once untimed before its measured run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "paths/Crc32.h"
#include "paths/Manipulators.h"
#include "paths/PathClasses.h"

extern char** environ;

namespace {

constexpr size_t kChecksumBytes = size_t{1} << 30;
constexpr int kTreeDirectories = 200;
constexpr int kFilesPerDirectory = 100;

std::string g_workspace;       // plain tmpfs (or /dev/shm)
std::string g_hugeWorkspace;   // tmpfs with huge=always, when mountable
double g_lastReference = 0;    // wall seconds of the last reference run
double g_lastOurs = 0;         // wall seconds of our last run
double g_lastReferenceCpu = 0; // CPU seconds (user + system) of the same runs,
double g_lastOursCpu = 0;      // steadier than wall time on a busy machine
double g_childCpu = 0;         // CPU seconds of the last child Run() waited for

double CpuSeconds(const struct rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double OwnCpuSeconds() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs argv with stdout to /dev/null; true when it exits 0.
bool Run(const std::vector<const char*>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const char* a : argv)
        args.push_back(const_cast<char*>(a));
    args.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    struct rusage usage;
    bool waited = wait4(pid, &status, 0, &usage) == pid;
    g_childCpu = waited ? CpuSeconds(usage) : 0;
    return waited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool MakeWorkspaces() {
    if (geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
        char plain[] = "/tmp/orvik-bench-XXXXXX";
        char huge[] = "/tmp/orvik-bench-huge-XXXXXX";
        if (mkdtemp(plain) && mount("tmpfs", plain, "tmpfs", 0, "size=3g") == 0)
            g_workspace = plain;
        if (mkdtemp(huge) && mount("tmpfs", huge, "tmpfs", 0, "size=2g,huge=always") == 0)
            g_hugeWorkspace = huge;
    }
    if (g_workspace.empty()) {
        char shm[] = "/dev/shm/orvik-bench-XXXXXX";
        if (!mkdtemp(shm))
            return false;
        g_workspace = shm;
    }
    return true;
}

void WriteRandomFile(const std::string& path, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::mt19937_64 random(42);
    std::vector<uint64_t> block(1 << 17);
    for (size_t done = 0; done < size; done += block.size() * 8) {
        for (auto& v : block)
            v = random();
        if (write(fd, block.data(), block.size() * 8) < 0)
            break;
    }
    close(fd);
}

void BuildTree(const std::string& top) {
    mkdir(top.c_str(), 0755);
    for (int d = 0; d < kTreeDirectories; ++d) {
        std::string dir = top + "/group" + std::to_string(d / 20) + "/dir" + std::to_string(d);
        mkdir((top + "/group" + std::to_string(d / 20)).c_str(), 0755);
        mkdir(dir.c_str(), 0755);
        for (int f = 0; f < kFilesPerDirectory; ++f) {
            int fd = open((dir + "/file" + std::to_string(f) + ".dat").c_str(), O_WRONLY | O_CREAT,
                          0644);
            if (fd != -1) {
                if (write(fd, "data", 4) < 0)
                    perror("write");
                close(fd);
            }
        }
    }
}

// "rm -rf" of what build(top) lays out, timed beside our last run.
template <class Build>
void RemoveWithRm(benchmark::State& state, const std::string& top, Build build) {
    for (auto _ : state) {
        state.PauseTiming();
        build(top);
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        if (!Run({"/bin/rm", "-rf", top.c_str()}))
            state.SkipWithError("rm failed");
        g_lastReference = Seconds(start);
        g_lastReferenceCpu = g_childCpu;
        state.SetIterationTime(g_lastReference);
    }
    state.counters["ours_vs_rm_time"] = g_lastOurs / g_lastReference;
}

void BuildChain(const std::string& top, int levels) {
    mkdir(top.c_str(), 0755);
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < levels && fd >= 0; ++level) {
        int file = openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (file >= 0)
            close(file);
        mkdirat(fd, "d", 0755);
        int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    if (fd >= 0)
        close(fd);
}

// Our removal of the chain in a child process: its wall time, CPU and peak memory.
void RemoveChainOurs(benchmark::State& state) {
    const int levels = int(state.range(0));
    std::string top = g_workspace + "/chain-ours";
    long peakKiB = 0;
    for (auto _ : state) {
        state.PauseTiming();
        BuildChain(top, levels);
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        pid_t child = fork();
        if (child == 0) {
            BOOL removed = CDirectoryManipulator::RemoveDirectoryAndContents(
                COrvikDirectoryPath(CAtlString(top.c_str())));
            _exit(removed ? 0 : 1);
        }
        int status = 0;
        struct rusage usage {};
        wait4(child, &status, 0, &usage);
        g_lastOurs = Seconds(start);
        g_lastOursCpu = CpuSeconds(usage);
        peakKiB = usage.ru_maxrss;
        state.SetIterationTime(g_lastOurs);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("the chain survived");
    }
    state.counters["levels"] = levels;
    state.counters["peak_MiB"] = double(peakKiB) / 1024;
}

void RemoveChainRm(benchmark::State& state) {
    const int levels = int(state.range(0));
    RemoveWithRm(state, g_workspace + "/chain-rm",
                 [&](const std::string& top) { BuildChain(top, levels); });
}

void ChecksumOurs(benchmark::State& state, const std::string* workspace) {
    if (workspace->empty()) {
        state.SkipWithError("no workspace of this kind");
        return;
    }
    std::string file = *workspace + "/one-gib";
    WriteRandomFile(file, kChecksumBytes);
    COrvikFilePath path(CAtlString(file.c_str()));
    // One untimed pass first, for both tools: the first mapping of a freshly
    // written file costs this virtual machine a fault per page, once.
    uint32_t crc = path.GetFileChecksum();
    for (auto _ : state) {
        double cpu = OwnCpuSeconds();
        auto start = std::chrono::steady_clock::now();
        crc = path.GetFileChecksum();
        g_lastOurs = Seconds(start);
        g_lastOursCpu = OwnCpuSeconds() - cpu;
        state.SetIterationTime(g_lastOurs);
    }
    state.counters["GiB_per_s"] = 1.0 / g_lastOurs;
    state.counters["crc"] = crc;
}

void ChecksumCksum(benchmark::State& state, const std::string* workspace) {
    if (workspace->empty()) {
        state.SkipWithError("no workspace of this kind");
        return;
    }
    std::string file = *workspace + "/one-gib";
    Run({"/usr/bin/cksum", file.c_str()});
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!Run({"/usr/bin/cksum", file.c_str()}))
            state.SkipWithError("cksum failed");
        g_lastReference = Seconds(start);
        g_lastReferenceCpu = g_childCpu;
        state.SetIterationTime(g_lastReference);
    }
    state.counters["GiB_per_s"] = 1.0 / g_lastReference;
    state.counters["ours_vs_cksum_throughput"] = g_lastReference / g_lastOurs;
    state.counters["ours_vs_cksum_cpu"] = g_lastReferenceCpu / g_lastOursCpu;
    unlink(file.c_str());
}

void RemoveOurs(benchmark::State& state) {
    std::string top = g_workspace + "/tree-ours";
    for (auto _ : state) {
        state.PauseTiming();
        BuildTree(top);
        state.ResumeTiming();
        double cpu = OwnCpuSeconds();
        auto start = std::chrono::steady_clock::now();
        BOOL removed = CDirectoryManipulator::RemoveDirectoryAndContents(
            COrvikDirectoryPath(CAtlString(top.c_str())));
        g_lastOurs = Seconds(start);
        g_lastOursCpu = OwnCpuSeconds() - cpu;
        state.SetIterationTime(g_lastOurs);
        if (!removed)
            state.SkipWithError("the tree survived");
    }
    state.counters["files"] = kTreeDirectories * kFilesPerDirectory;
}

void RemoveRm(benchmark::State& state) {
    RemoveWithRm(state, g_workspace + "/tree-rm", BuildTree);
    state.counters["ours_vs_rm_cpu"] = g_lastOursCpu / g_lastReferenceCpu;
}

} // namespace

int main(int argc, char** argv) {
    if (!MakeWorkspaces()) {
        fprintf(stderr, "paths_bench: no tmpfs workspace\n");
        return 1;
    }
    benchmark::RegisterBenchmark("GetFileChecksum_1GiB/tmpfs", ChecksumOurs, &g_workspace)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("cksum_1GiB/tmpfs", ChecksumCksum, &g_workspace)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("GetFileChecksum_1GiB/tmpfs_huge_pages", ChecksumOurs,
                                 &g_hugeWorkspace)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("cksum_1GiB/tmpfs_huge_pages", ChecksumCksum, &g_hugeWorkspace)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RemoveDirectoryAndContents_20000_files", RemoveOurs)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("rm_rf_20000_files", RemoveRm)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    for (int levels : {100, 300, 1000}) {
        benchmark::RegisterBenchmark("RemoveDirectoryAndContents_chain", RemoveChainOurs)
            ->Arg(levels)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("rm_rf_chain", RemoveChainRm)
            ->Arg(levels)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const std::string* workspace : {&g_workspace, &g_hugeWorkspace}) {
        if (workspace->empty())
            continue;
        if (workspace->rfind("/dev/shm/", 0) == 0) {
            Run({"/bin/rm", "-rf", workspace->c_str()});
        } else {
            umount2(workspace->c_str(), MNT_DETACH); // the mount lives only in our namespace
            rmdir(workspace->c_str());
        }
    }
    return 0;
}
