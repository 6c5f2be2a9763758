#include "LoopVolume.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

/* The full path of a program, searched in $PATH and the usual system folders; empty if none. */
std::string find_program(const std::string &name)
{
    std::string dirs;
    if (const char *path = std::getenv("PATH"))
        dirs = path;
    dirs += ":/usr/local/sbin:/usr/sbin:/sbin:/usr/local/bin:/usr/bin:/bin";
    std::istringstream folders(dirs);
    std::string dir;
    while (std::getline(folders, dir, ':')) {
        if (dir.empty())
            continue;
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

std::string read_all(int fd)
{
    std::string text;
    if (lseek(fd, 0, SEEK_SET) != 0)
        return text;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    return text;
}

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

struct Outcome {
    bool ok = false;
    std::string out;
    std::string why; // the command and its message, when it failed
};

/*
 * Run a program with its arguments (no shell) and wait for it, at most `timeout`. Output is
 * caught in memory files rather than pipes: a FUSE daemon forked off by the program may hold
 * them long after the program itself is done.
 */
Outcome run(const std::vector<std::string> &args, std::chrono::milliseconds timeout = 60s)
{
    Outcome outcome;
    std::string what = args.front();
    for (size_t i = 1; i < args.size(); ++i)
        what += " " + args[i];

    const std::string program = find_program(args.front());
    if (program.empty()) {
        outcome.why = args.front() + " not found";
        return outcome;
    }
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = memfd_create("loopvolume-out", MFD_CLOEXEC);
    const int err = memfd_create("loopvolume-err", MFD_CLOEXEC);
    pid_t pid = -1;
    if (in >= 0 && out >= 0 && err >= 0)
        pid = fork();
    if (pid == 0) {
        /* Only async-signal-safe calls from here on. */
        if (dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
            dup2(err, STDERR_FILENO) < 0)
            _exit(126);
        close_range(3, ~0U, 0);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pid < 0) {
        outcome.why = what + ": " + std::strerror(errno);
    } else {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        pid_t done;
        while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        if (done == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            outcome.why = what + ": no answer within " + std::to_string(timeout.count()) + " ms";
        } else if (done < 0) {
            outcome.why = what + ": " + std::strerror(errno);
        } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            const std::string message = trimmed(read_all(err));
            outcome.why = what + ": " +
                          (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                             : "signal " + std::to_string(WTERMSIG(status))) +
                          (message.empty() ? std::string() : ": " + message);
        } else {
            outcome.ok = true;
            outcome.out = read_all(out);
        }
    }
    for (int fd : {in, out, err}) {
        if (fd >= 0)
            close(fd);
    }
    return outcome;
}

/* A field of /proc/self/mounts with its octal escapes (\040...) decoded. */
std::string decode_mount_field(const std::string &field)
{
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            text +=
                char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

bool is_mount_point(const std::string &path)
{
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, where;
        if (fields >> device >> where && decode_mount_field(where) == path)
            return true;
    }
    return false;
}

/* Whether the process holds CAP_SYS_ADMIN, which mounting and loop devices need. */
bool has_sys_admin()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) == 0) {
            const unsigned long long caps = std::strtoull(line.c_str() + 7, nullptr, 16);
            return (caps >> 21) & 1; // CAP_SYS_ADMIN
        }
    }
    return false;
}

} // namespace

std::string LoopVolume::unavailableReason()
{
    if (geteuid() != 0)
        return "loop volumes need root";
    if (!has_sys_admin())
        return "loop volumes need CAP_SYS_ADMIN to mount";
    if (access("/dev/fuse", R_OK | W_OK) != 0)
        return std::string("no usable /dev/fuse: ") + std::strerror(errno);
    if (access("/dev/loop-control", R_OK | W_OK) != 0)
        return std::string("no usable /dev/loop-control: ") + std::strerror(errno);
    for (const char *program :
         {"mkfs.exfat", "exfatlabel", "mount.exfat-fuse", "losetup", "umount"}) {
        if (find_program(program).empty())
            return std::string(program) + " is not installed";
    }
    return {};
}

LoopVolume::LoopVolume(std::string label, unsigned megabytes) : label_(std::move(label))
{
    if (const std::string why = unavailableReason(); !why.empty()) {
        fail(why);
        return;
    }

    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvex-card-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        fail("mkdtemp " + pattern + ": " + std::strerror(errno));
        return;
    }
    dir_ = pattern;

    /* A sparse image: only what mkfs writes takes room. */
    const std::string image = dir_ + "/card.img";
    const int fd = open(image.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        fail("create " + image + ": " + std::strerror(errno));
        return;
    }
    image_ = image;
    const bool sized = ftruncate(fd, off_t(megabytes) * 1024 * 1024) == 0;
    const int size_error = errno;
    close(fd);
    if (!sized) {
        fail("size " + image_ + ": " + std::strerror(size_error));
        return;
    }

    if (const Outcome made = run({"mkfs.exfat", "-L", label_, image_}); !made.ok) {
        fail(made.why);
        return;
    }

    /* Tests running side by side may reach for the same free loop device: try again then. */
    Outcome attached;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        attached = run({"losetup", "-f", "--show", image_});
        if (attached.ok)
            break;
        std::this_thread::sleep_for(attempt * 100ms);
    }
    if (!attached.ok) {
        fail(attached.why);
        return;
    }
    device_ = trimmed(attached.out);
    if (device_.rfind("/dev/", 0) != 0) {
        const std::string said = device_;
        device_.clear();
        fail("losetup named no device: " + said);
        return;
    }

    const std::string where = dir_ + "/" + (label_.empty() ? "volume" : label_);
    if (mkdir(where.c_str(), 0755) != 0) {
        fail("mkdir " + where + ": " + std::strerror(errno));
        return;
    }
    mountPath_ = where;
    if (!mount())
        return;
    ok_ = true;
}

LoopVolume::~LoopVolume()
{
    if (!mountPath_.empty() && mounted() && !unmount())
        run({"umount", "-l", mountPath_}, 10s); // busy: let it go as soon as it is free
    if (!device_.empty())
        run({"losetup", "-d", device_}, 10s);
    if (!image_.empty())
        unlink(image_.c_str());
    /* Never a recursive removal: a folder still mounted keeps what is on the card. */
    if (!mountPath_.empty() && !is_mount_point(mountPath_))
        rmdir(mountPath_.c_str());
    if (!dir_.empty())
        rmdir(dir_.c_str());
}

bool LoopVolume::mounted() const
{
    return !mountPath_.empty() && is_mount_point(mountPath_);
}

bool LoopVolume::unmount()
{
    if (!mounted())
        return true;
    Outcome outcome;
    for (int attempt = 0; attempt < 20; ++attempt) {
        outcome = run({"umount", mountPath_}, 10s);
        if (outcome.ok || !mounted())
            return mounted() ? fail(mountPath_ + " stays mounted") : released();
        std::this_thread::sleep_for(100ms); // busy for a moment, e.g. a scan still reading it
    }
    return fail(outcome.why);
}

/*
 * umount returns before the FUSE daemon has written its last blocks (the
 * volume's state in the boot sector) and closed the device; the image is
 * whole only once the device can be opened exclusively again.
 */
bool LoopVolume::released()
{
    for (int waited = 0; waited < 15000; waited += 20) {
        const int fd = open(device_.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        if (errno != EBUSY)
            return fail(device_ + ": " + std::strerror(errno));
        std::this_thread::sleep_for(20ms);
    }
    return fail(device_ + " is still held after unmounting " + mountPath_);
}

bool LoopVolume::mount(const std::string &options)
{
    if (device_.empty() || mountPath_.empty())
        return fail("nothing to mount");
    if (mounted())
        return true;
    /* The daemon of the previous mount may still be letting go of the device. */
    Outcome outcome;
    for (int attempt = 1; attempt <= 10; ++attempt) {
        outcome = options.empty()
                      ? run({"mount.exfat-fuse", device_, mountPath_}, 20s)
                      : run({"mount.exfat-fuse", "-o", options, device_, mountPath_}, 20s);
        if (outcome.ok)
            break;
        std::this_thread::sleep_for(100ms);
    }
    if (!outcome.ok)
        return fail(outcome.why);
    if (!mounted())
        return fail("mount.exfat-fuse succeeded but " + mountPath_ + " is not in the mount table");
    return true;
}

bool LoopVolume::relabel(const std::string &label)
{
    if (device_.empty())
        return fail("nothing to relabel");
    if (mounted())
        return fail("relabel " + mountPath_ + ": still mounted");
    if (const Outcome outcome = run({"exfatlabel", device_, label}); !outcome.ok)
        return fail(outcome.why);
    label_ = label;
    return true;
}

bool LoopVolume::fail(const std::string &why)
{
    whyNot_ = why;
    return false;
}
