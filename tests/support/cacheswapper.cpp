// cache_swapper FOLDER NAME REPLACEMENT SECONDS: a second process with write access to a
// cache folder. It watches FOLDER (Linux inotify) and, the moment a file called NAME is
// stored there (renamed in or closed after writing), renames its own file REPLACEMENT over
// it. Prints "watching" once the watch is set, "swapped" after the rename; exits 0 after the
// swap, 1 when SECONDS pass without one.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

namespace {

long long nowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// True when the events in `buffer` include NAME stored in the folder.
bool namesStored(const char *buffer, ssize_t length, const char *name)
{
    for (ssize_t offset = 0; offset < length;) {
        const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
        if (event->len > 0 && std::strcmp(event->name, name) == 0 &&
            (event->mask & (IN_MOVED_TO | IN_CLOSE_WRITE)))
            return true;
        offset += ssize_t(sizeof(inotify_event)) + event->len;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5)
        return 2;
    const std::string target = std::string(argv[1]) + "/" + argv[2];
    const int watcher = inotify_init1(IN_CLOEXEC);
    if (watcher < 0 || inotify_add_watch(watcher, argv[1], IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
        return 1;
    std::printf("watching\n");
    std::fflush(stdout);
    const long long deadline = nowMs() + std::atoll(argv[4]) * 1000;
    alignas(inotify_event) char buffer[8192];
    while (nowMs() < deadline) {
        pollfd wait{watcher, POLLIN, 0};
        if (poll(&wait, 1, 100) <= 0)
            continue;
        const ssize_t length = read(watcher, buffer, sizeof buffer);
        if (length <= 0 || !namesStored(buffer, length, argv[2]))
            continue;
        if (std::rename(argv[3], target.c_str()) != 0) {
            std::printf("rename failed: %s\n", std::strerror(errno));
            return 1;
        }
        std::printf("swapped\n");
        std::fflush(stdout);
        return 0;
    }
    return 1;
}
