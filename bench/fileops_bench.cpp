// Deleting a tree and copying a big file, beside rm -rf and cp doing the same on an
// identical copy in the same run, on tmpfs (/dev/shm). Both sides run as a child process
// started the same way (this program re-runs itself with --delete or --copy), so the
// ratio compares like with like. The counter "ratio" is our CPU time over the tool's, each
// less the CPU time the same program takes to do nothing ("raw_ratio" without that
// correction, "wall_ratio" for wall time, which a busy machine makes noisy).
//
//   build/bin/fileops_bench                      (or: ./dev.sh bench)
//   FILEOPS_BENCH_DIR=/some/tmpfs build/bin/fileops_bench
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "win32compat/FileCopy.h"
#include "win32compat/FileSystem.h"

extern char** environ;

namespace {

std::u16string Wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

std::string BaseDir() {
    const char* dir = std::getenv("FILEOPS_BENCH_DIR");
    return dir != nullptr ? dir : "/dev/shm";
}

std::string SelfPath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// Runs a program; gives its wall time and the CPU time (user + system) it used, in seconds.
// The CPU time is what the ratio is taken from: on a shared machine the wall time mostly
// measures the other processes. Returns false when the program failed.
bool TimeRun(const std::vector<std::string>& args, double* wall, double* cpu) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    *wall = elapsed.count();
    *cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Times for one side of a comparison.
struct Side {
    double wall = 0;
    double cpu = 0;
    bool Run(const std::vector<std::string>& args) {
        double w = 0;
        double c = 0;
        const bool ok = TimeRun(args, &w, &c);
        wall += w;
        cpu += c;
        return ok;
    }
};

// Runs both sides, alternating which goes first so that neither always finds a warmer
// system; false when either failed.
bool RunPair(benchmark::State& state, Side& ours, const std::vector<std::string>& oursArgs,
             Side& theirs, const std::vector<std::string>& theirsArgs) {
    const double before = ours.cpu;
    bool ok;
    if (state.iterations() % 2 == 0)
        ok = ours.Run(oursArgs) && theirs.Run(theirsArgs);
    else
        ok = theirs.Run(theirsArgs) && ours.Run(oursArgs);
    state.SetIterationTime(ours.cpu - before);
    return ok;
}

// The CPU time a side needs to start and end with nothing to do (this program loads ICU
// and the rest of the library; rm and cp start in a fraction of that), so that the ratio
// compares the deleting and copying, not the program loaders.
double StartupCpu(const std::vector<std::string>& args) {
    Side idle;
    constexpr int kRuns = 10;
    for (int i = 0; i < kRuns; ++i)
        idle.Run(args);
    return idle.cpu / kRuns;
}

void Report(benchmark::State& state, const char* tool, const Side& ours, double oursStartup,
            const Side& theirs, double theirsStartup) {
    const double n = static_cast<double>(state.iterations());
    const double oursNet = ours.cpu / n - oursStartup;
    const double theirsNet = theirs.cpu / n - theirsStartup;
    state.counters[std::string(tool) + "_cpu_ms"] = theirs.cpu * 1000 / n;
    state.counters["ours_cpu_ms"] = ours.cpu * 1000 / n;
    state.counters["startup_ms"] = oursStartup * 1000;
    state.counters[std::string(tool) + "_startup_ms"] = theirsStartup * 1000;
    state.counters["ratio"] = theirsNet > 0 ? oursNet / theirsNet : 0;
    state.counters["raw_ratio"] = theirs.cpu > 0 ? ours.cpu / theirs.cpu : 0;
    state.counters["wall_ratio"] = theirs.wall > 0 ? ours.wall / theirs.wall : 0;
}

// 2,000 folders (40 top-level folders of 49 subfolders each, plus the tops and the
// root itself) holding 21,560 small files in all.
void MakeTree(const std::string& root) {
    mkdir(root.c_str(), 0755);
    for (int top = 0; top < 40; ++top) {
        const std::string t = root + "/top" + std::to_string(top);
        mkdir(t.c_str(), 0755);
        for (int sub = 0; sub < 49; ++sub) {
            const std::string s = t + "/sub" + std::to_string(sub);
            mkdir(s.c_str(), 0755);
            for (int f = 0; f < 11; ++f) {
                const int fd = open((s + "/file" + std::to_string(f)).c_str(),
                                    O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
                if (fd >= 0) {
                    if (write(fd, "content", 7) != 7)
                        std::abort();
                    close(fd);
                }
            }
        }
    }
}

void MakeFile(const std::string& path, size_t size) {
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    std::vector<char> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<char>(i * 7);
    for (size_t done = 0; done < size; done += chunk.size())
        if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size()))
            std::abort();
    close(fd);
}

void BM_DeleteTreeVersusRm(benchmark::State& state) {
    const std::string self = SelfPath();
    const std::string ours = BaseDir() + "/fileops_bench_ours";
    const std::string theirs = BaseDir() + "/fileops_bench_rm";
    Side oursSide;
    Side rmSide;
    for (auto _ : state) {
        MakeTree(ours);
        MakeTree(theirs);
        if (!RunPair(state, oursSide, {self, "--delete", ours}, rmSide,
                     {"/bin/rm", "-rf", theirs})) {
            state.SkipWithError("a deletion failed");
            break;
        }
    }
    const std::string missing = BaseDir() + "/fileops_bench_missing";
    Report(state, "rm", oursSide, StartupCpu({self, "--delete", missing}), rmSide,
           StartupCpu({"/bin/rm", "-rf", missing}));
}
BENCHMARK(BM_DeleteTreeVersusRm)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_CopyFileVersusCp(benchmark::State& state) {
    const std::string self = SelfPath();
    const std::string source = BaseDir() + "/fileops_bench_source";
    const std::string ours = BaseDir() + "/fileops_bench_copy_ours";
    const std::string theirs = BaseDir() + "/fileops_bench_copy_cp";
    MakeFile(source, 256u << 20);
    Side oursSide;
    Side cpSide;
    for (auto _ : state) {
        unlink(ours.c_str());
        unlink(theirs.c_str());
        if (!RunPair(state, oursSide, {self, "--copy", source, ours}, cpSide,
                     {"/bin/cp", source, theirs})) {
            state.SkipWithError("a copy failed");
            break;
        }
    }
    unlink(ours.c_str());
    unlink(theirs.c_str());
    // An empty file: the copy itself costs nothing beside starting the program.
    MakeFile(source, 0);
    Report(state, "cp", oursSide, StartupCpu({self, "--copy", source, ours}), cpSide,
           StartupCpu({"/bin/cp", source, theirs}));
    unlink(ours.c_str());
    unlink(theirs.c_str());
    unlink(source.c_str());
}
BENCHMARK(BM_CopyFileVersusCp)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The measured side of each comparison: one operation in a fresh process, as the
    // reference tool runs.
    if (argc == 3 && std::strcmp(argv[1], "--delete") == 0)
        return DeleteFile(Wide(argv[2]).c_str()) ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "--copy") == 0)
        return CopyFile(Wide(argv[2]).c_str(), Wide(argv[3]).c_str(), false) ? 0 : 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
