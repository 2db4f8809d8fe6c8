// korvelin_bench_spawn REPORT PROGRAM [ARGS...]: runs PROGRAM, waits for it and writes
// "EXIT-STATUS PEAK-KIB" to REPORT, the program's own peak resident memory from wait4().
//
// The benchmark starts its children through this small launcher because a child started
// directly from the benchmark (a large process) reports the benchmark's peak as its own: at
// exec, Linux counts the memory of the process image being replaced into the child's peak.
// Started from this launcher, a child's peak is its own plus at most the launcher's few
// hundred KiB.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: korvelin_bench_spawn REPORT PROGRAM [ARGS...]\n");
        return 2;
    }
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[2], nullptr, nullptr, argv + 2, environ) != 0) return 127;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return 127;
    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (FILE* report = std::fopen(argv[1], "w")) {
        std::fprintf(report, "%d %ld\n", exitStatus, usage.ru_maxrss);
        std::fclose(report);
    }
    return exitStatus;
}
