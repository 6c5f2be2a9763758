/*
 * What the fuzz targets share: a scratch folder of their own for the parsers that read
 * files, and the check that ends a run when an invariant breaks, so that libFuzzer keeps
 * the input as a crash.
 */
#ifndef FUZZ_FUZZSUPPORT_H
#define FUZZ_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fuzz {

/*
 * This process's scratch folder, made on first use in $ORVEX_FUZZ_SCRATCH (scripts/fuzz.sh
 * sets it and removes it afterwards, also after a crash), else in /dev/shm (a tmpfs: the
 * parsers' fsync calls cost nothing there) or $TMPDIR or /tmp; removed at a normal exit.
 */
inline const std::string &scratchFolder()
{
    static const std::string folder = [] {
        const char *given = std::getenv("ORVEX_FUZZ_SCRATCH");
        const char *tmp = std::getenv("TMPDIR");
        std::string base = given && *given ? given : "/dev/shm";
        if (::access(base.c_str(), W_OK) != 0)
            base = tmp && *tmp ? tmp : "/tmp";
        std::string pattern = base + "/orvex-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("orvex fuzz: cannot make a scratch folder");
            std::abort();
        }
        static std::string made = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
        return pattern;
    }();
    return folder;
}

/* A file name in the scratch folder. */
inline std::string scratchPath(const char *name)
{
    return scratchFolder() + "/" + name;
}

/* `path` holds exactly the bytes; a disk that refuses them ends the run (no finding). */
inline void writeFile(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

} // namespace fuzz

/* An invariant of the parser under test; a broken one stops the run with its text. */
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

#endif
