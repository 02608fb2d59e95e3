// Stands in for the program in the updater's tests: appends "PID CWD" to started.log in its
// working directory, then runs for FAKE_VELMORA_SECONDS (default 0) unless a signal ends it.

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main()
{
    char cwd[4096] = {};
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return 1;
    if (FILE* log = std::fopen("started.log", "a")) {
        std::fprintf(log, "%d %s\n", static_cast<int>(getpid()), cwd);
        std::fclose(log);
    }
    const char* seconds = std::getenv("FAKE_VELMORA_SECONDS");
    for (int left = seconds ? std::atoi(seconds) : 0; left > 0; --left)
        sleep(1);
    return 0;
}
