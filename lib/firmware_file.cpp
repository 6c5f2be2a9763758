/*
 * Firmware files: length and CRC-16/ARC of a plain file, recognition of an
 * encrypted file by its magic "OVRE", and decryption of such a file (8-byte
 * header, then AES-128-CBC chunks of 256 bytes, each from the fixed vector)
 * into a plain one, written beside the destination and renamed on success.
 */
#include "aes128.h"
#include "crc16.h"
#include "tavrin/tavrin.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libgen.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t ENCRYPTED_HEADER = 8;
constexpr size_t ENCRYPTED_CHUNK = 256;
constexpr char ENCRYPTED_MAGIC[4] = {'O', 'V', 'R', 'E'};

/* Cipher key and initialisation vector of encrypted firmware files. */
constexpr uint8_t FIRMWARE_KEY[AES128_KEY] = {0x7c, 0x2e, 0x91, 0xa4, 0xd0, 0x5b, 0x3f, 0x68,
                                              0xe1, 0x4a, 0x9b, 0x2c, 0x6d, 0x8f, 0x03, 0x75};
constexpr uint8_t FIRMWARE_IV[AES128_BLOCK] = {0x4b, 0x90, 0xc3, 0xe1, 0x7a, 0x2d, 0x5f, 0x86,
                                               0xb1, 0xe0, 0x9c, 0x4d, 0x3a, 0x7f, 0x6e, 0x28};

} // namespace

extern "C" {

/*
 * Length and CRC-16/ARC of a plain firmware file. @return 0; -1 when the file
 * cannot be opened or read, is not a regular file, is 4 GiB or larger, or is
 * encrypted ("OVRE").
 */
TAVRIN_API int rvupgrader_get_fileinfo(const char *path, rvupgrader_fileinfo_t *info)
{
    if (!path || !info) {
        printf("rvupgrader_get_fileinfo error: no file name or no result\n");
        return -1;
    }
    FILE *file = fopen(path, "rb");
    if (!file) {
        printf("rvupgrader_get_fileinfo error: cannot open file %s\n", path);
        return -1;
    }
    int result = -1;
    struct stat st {};
    uint8_t head[4] = {};
    uint64_t total = 0;
    uint16_t crc = 0;
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        printf("rvupgrader_get_fileinfo error: %s is not a regular file\n", path);
        goto done;
    }
    /* Streamed: no whole-file buffer, whatever the size. */
    for (;;) {
        uint8_t buf[16384];
        const size_t n = fread(buf, 1, sizeof buf, file);
        for (size_t i = 0; i < n && total + i < sizeof head; ++i)
            head[total + i] = buf[i];
        crc = crc16_arc(buf, n, crc);
        total += n;
        if (n < sizeof buf)
            break;
    }
    if (ferror(file)) {
        printf("rvupgrader_get_fileinfo error: cannot read file %s\n", path);
        goto done;
    }
    if (total > UINT32_MAX) {
        printf("rvupgrader_get_fileinfo error: %s is too large for an upgrade\n", path);
        goto done;
    }
    if (total >= sizeof head && std::memcmp(head, ENCRYPTED_MAGIC, sizeof head) == 0) {
        printf("rvupgrader_get_fileinfo error: %s is encrypted; decrypt it first\n", path);
        goto done;
    }
    info->length = static_cast<uint32_t>(total);
    info->crc = crc;
    result = 0;
done:
    fclose(file);
    return result;
}

/* @return 1 when the file starts with "OVRE", 0 when not, -1 when it cannot be opened. */
TAVRIN_API int rvupgrader_file_is_encrypt(const char *path)
{
    FILE *file = path ? fopen(path, "rb") : nullptr;
    if (!file) {
        printf("rvupgrader_file_is_encrypt: cannot open file %s\n", path ? path : "(null)");
        return -1;
    }
    uint8_t header[ENCRYPTED_HEADER] = {};
    const size_t n = fread(header, 1, sizeof header, file);
    fclose(file);
    return n >= sizeof ENCRYPTED_MAGIC &&
                   std::memcmp(header, ENCRYPTED_MAGIC, sizeof ENCRYPTED_MAGIC) == 0
               ? 1
               : 0;
}

/*
 * Decrypt an encrypted firmware file (8-byte header, then AES-128-CBC chunks
 * of 256 bytes, each chained from the fixed initialisation vector) into
 * `dst_path`. The result is written to a temporary file beside the
 * destination, committed to disk and renamed over it, so on failure the
 * destination is left as it was. @return 1 on success, -1 on failure.
 */
TAVRIN_API int rvupgrader_file_decrypt(const char *src_path, const char *dst_path)
{
    if (!src_path || !dst_path) {
        printf("rvupgrader_file_decrypt: no source or no destination\n");
        return -1;
    }
    static std::atomic<unsigned> temp_counter{0};
    int result = -1;
    FILE *in = fopen(src_path, "rb");
    FILE *out = nullptr;
    uint8_t *body = nullptr;
    std::string temp;
    struct stat st {};
    long size = 0;
    size_t body_len = 0;
    Aes128Key key;

    if (!in) {
        printf("rvupgrader_file_decrypt: cannot open %s\n", src_path);
        return -1;
    }
    if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) {
        printf("rvupgrader_file_decrypt: %s is not a regular file\n", src_path);
        goto done;
    }
    if (fseek(in, 0, SEEK_END) != 0 || (size = ftell(in)) < 0) {
        printf("fseek SEEK_END error.\n");
        goto done;
    }
    if (static_cast<unsigned long>(size) < ENCRYPTED_HEADER) {
        printf("rvupgrader_file_decrypt: %s is shorter than its %zu-byte header\n", src_path,
               ENCRYPTED_HEADER);
        goto done;
    }
    if (fseek(in, ENCRYPTED_HEADER, SEEK_SET) != 0) {
        printf("fseek SEEK_END error.\n");
        goto done;
    }
    body_len = static_cast<size_t>(size) - ENCRYPTED_HEADER;
    body = static_cast<uint8_t *>(malloc(body_len ? body_len : 1));
    if (!body) {
        printf("malloc ptmp error.\n");
        goto done;
    }
    if (fread(body, 1, body_len, in) != body_len) {
        printf("maybe some error occur when fread fcs.bin\n");
        goto done;
    }
    printf("fread success.\n");

    /* A unique name in the destination's directory, so that the rename is atomic. */
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = std::string(dst_path) + "." + std::to_string(getpid()) + "-" +
               std::to_string(temp_counter.fetch_add(1, std::memory_order_relaxed)) + ".part";
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            out = fdopen(fd, "wb");
            if (!out)
                close(fd);
            break;
        }
        if (errno != EEXIST)
            break;
    }
    if (!out) {
        printf("rvupgrader_file_decrypt: cannot create %s: %s\n", temp.c_str(),
               std::strerror(errno));
        temp.clear(); /* nothing of ours to remove */
        goto done;
    }

    aes128_expand_key(&key, FIRMWARE_KEY);
    for (size_t at = 0; at < body_len; at += ENCRYPTED_CHUNK) {
        const size_t n = body_len - at < ENCRYPTED_CHUNK ? body_len - at : ENCRYPTED_CHUNK;
        /* A short last block is deciphered as a whole block padded with zeros. */
        uint8_t input[ENCRYPTED_CHUNK] = {};
        uint8_t output[ENCRYPTED_CHUNK] = {};
        std::memcpy(input, body + at, n);
        const size_t whole = (n + AES128_BLOCK - 1) / AES128_BLOCK * AES128_BLOCK;
        aes128_cbc_decrypt(&key, FIRMWARE_IV, input, output, whole);
        if (fwrite(output, 1, n, out) != n) {
            printf("rvupgrader_file_decrypt: cannot write %s: %s\n", temp.c_str(),
                   std::strerror(errno));
            goto done;
        }
    }
    if (fflush(out) != 0 || fsync(fileno(out)) != 0) {
        printf("rvupgrader_file_decrypt: cannot write %s: %s\n", temp.c_str(),
               std::strerror(errno));
        goto done;
    }
    {
        const int closed = fclose(out);
        out = nullptr;
        if (closed != 0) {
            printf("rvupgrader_file_decrypt: cannot write %s: %s\n", temp.c_str(),
                   std::strerror(errno));
            goto done;
        }
    }
    if (rename(temp.c_str(), dst_path) != 0) {
        printf("rvupgrader_file_decrypt: cannot replace %s: %s\n", dst_path, std::strerror(errno));
        goto done;
    }
    temp.clear();
    {
        /* Make the rename itself durable. */
        std::string dir_copy(dst_path);
        const int dir = open(dirname(dir_copy.data()), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);
            close(dir);
        }
    }
    result = 1;

done:
    if (out)
        fclose(out);
    if (!temp.empty())
        unlink(temp.c_str());
    free(body);
    fclose(in);
    return result;
}

} // extern "C"
