// Deleting a tree and copying a big file, beside rm -rf and cp doing the same on an
// identical copy in the same run, on tmpfs (/dev/shm). Both sides run as a child process
// started the same way (this program re-runs itself with --delete or --copy), so the
// ratio compares like with like. The counter "ratio" is our time over the tool's.
//
//   build/bin/fileops_bench                      (or: ./dev.sh bench)
//   FILEOPS_BENCH_DIR=/some/tmpfs build/bin/fileops_bench
#include <fcntl.h>
#include <spawn.h>
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

// Runs a program and returns its wall time in seconds (negative when it failed).
double TimeRun(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed.count() : -1;
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
    double oursTotal = 0;
    double theirsTotal = 0;
    for (auto _ : state) {
        MakeTree(ours);
        MakeTree(theirs);
        // Alternate which side runs first so that neither always finds a warmer system.
        double t1;
        double t2;
        if (state.iterations() % 2 == 0) {
            t1 = TimeRun({self, "--delete", ours});
            t2 = TimeRun({"/bin/rm", "-rf", theirs});
        } else {
            t2 = TimeRun({"/bin/rm", "-rf", theirs});
            t1 = TimeRun({self, "--delete", ours});
        }
        if (t1 < 0 || t2 < 0) {
            state.SkipWithError("a deletion failed");
            break;
        }
        oursTotal += t1;
        theirsTotal += t2;
        state.SetIterationTime(t1);
    }
    state.counters["rm_ms"] = theirsTotal * 1000 / static_cast<double>(state.iterations());
    state.counters["ours_ms"] = oursTotal * 1000 / static_cast<double>(state.iterations());
    state.counters["ratio"] = theirsTotal > 0 ? oursTotal / theirsTotal : 0;
}
BENCHMARK(BM_DeleteTreeVersusRm)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

void BM_CopyFileVersusCp(benchmark::State& state) {
    const std::string self = SelfPath();
    const std::string source = BaseDir() + "/fileops_bench_source";
    const std::string ours = BaseDir() + "/fileops_bench_copy_ours";
    const std::string theirs = BaseDir() + "/fileops_bench_copy_cp";
    MakeFile(source, 256u << 20);
    double oursTotal = 0;
    double theirsTotal = 0;
    for (auto _ : state) {
        unlink(ours.c_str());
        unlink(theirs.c_str());
        double t1;
        double t2;
        if (state.iterations() % 2 == 0) {
            t1 = TimeRun({self, "--copy", source, ours});
            t2 = TimeRun({"/bin/cp", source, theirs});
        } else {
            t2 = TimeRun({"/bin/cp", source, theirs});
            t1 = TimeRun({self, "--copy", source, ours});
        }
        if (t1 < 0 || t2 < 0) {
            state.SkipWithError("a copy failed");
            break;
        }
        oursTotal += t1;
        theirsTotal += t2;
        state.SetIterationTime(t1);
    }
    unlink(ours.c_str());
    unlink(theirs.c_str());
    unlink(source.c_str());
    state.counters["cp_ms"] = theirsTotal * 1000 / static_cast<double>(state.iterations());
    state.counters["ours_ms"] = oursTotal * 1000 / static_cast<double>(state.iterations());
    state.counters["ratio"] = theirsTotal > 0 ? oursTotal / theirsTotal : 0;
}
BENCHMARK(BM_CopyFileVersusCp)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

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
