// A second local writer of a folder, as fast as the kernel lets one be: the moment the file
// NAME in FOLDER is written to (modified, or closed after writing), it renames its own copy
// of REPLACEMENT over it (Linux inotify). Prints "watching" once the watch is in place and
// "swapped" after each swap; ends when its standard input closes.
// Usage: swap_watcher FOLDER NAME REPLACEMENT
#include <sys/inotify.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

// Staged beside the target, so that the rename is one step on one file system.
bool stage(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return bool(out.flush());
}

bool namesTarget(const char *events, ssize_t size, const std::string &name)
{
    bool named = false;
    for (const char *at = events; at < events + size;) {
        const auto *event = reinterpret_cast<const inotify_event *>(at);
        named = named || (event->len > 0 && name == event->name);
        at += sizeof(inotify_event) + event->len;
    }
    return named;
}

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: swap_watcher FOLDER NAME REPLACEMENT\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string name = argv[2];
    std::ifstream in(argv[3], std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), {}};
    const std::string target = folder + '/' + name;
    const std::string staged = folder + "/." + name + ".swap";
    const int watch = inotify_init1(IN_CLOEXEC);
    if (!stage(staged, content) || watch < 0 ||
        inotify_add_watch(watch, folder.c_str(), IN_MODIFY | IN_CLOSE_WRITE) < 0) {
        std::perror("swap_watcher");
        return 1;
    }
    say("watching");
    pollfd waits[2] = {{watch, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    alignas(inotify_event) char events[64 * 1024];
    for (;;) {
        if (poll(waits, 2, -1) < 0 && errno != EINTR)
            return 1;
        char ignored;
        if (waits[1].revents != 0 && read(STDIN_FILENO, &ignored, 1) <= 0)
            return 0;
        if ((waits[0].revents & POLLIN) == 0)
            continue;
        const ssize_t size = read(watch, events, sizeof events);
        if (size <= 0 || !namesTarget(events, size, name))
            continue;
        if (std::rename(staged.c_str(), target.c_str()) == 0)
            say("swapped");
        stage(staged, content); // not checked: a failed stage shows as no further swap
    }
}
