/*
 * A firmware file as the device page and orvex-cli take it: recognised as encrypted or
 * plain (rvupgrader_file_is_encrypt), measured (rvupgrader_get_fileinfo), decrypted when
 * encrypted (rvupgrader_file_decrypt, AES-128-CBC) and the result measured again, and
 * recorded by the upgrader (rvupgrader_prepare_firmware).
 *
 * Invariants: a file is encrypted exactly when it starts with "OVRE"; a plain file measures
 * its size and the CRC-16/ARC of its bytes, an encrypted one is refused; an encrypted file
 * of at least its 8-byte header decrypts into its size less the header.
 */
#include "FuzzSupport.h"
#include "crc16.h"
#include "tavrin/tavrin.h"

#include <cstring>
#include <sys/stat.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string input = fuzz::scratchPath("firmware.bin");
    static const std::string decrypted = fuzz::scratchPath("tempfile.bin");
    fuzz::writeFile(input, data, size);
    ::unlink(decrypted.c_str());

    const bool encrypted = size >= 4 && std::memcmp(data, "OVRE", 4) == 0;
    FUZZ_CHECK(rvupgrader_file_is_encrypt(input.c_str()) == (encrypted ? 1 : 0));

    rvupgrader_fileinfo_t info{};
    const int measured = rvupgrader_get_fileinfo(input.c_str(), &info);
    if (encrypted) {
        FUZZ_CHECK(measured == -1);
    } else {
        FUZZ_CHECK(measured == 0);
        FUZZ_CHECK(info.length == size);
        FUZZ_CHECK(info.crc == crc16_arc(data, size));
    }

    rvupgrader_t *upgrader = rvupgrader_request(nullptr, 0);
    FUZZ_CHECK(rvupgrader_prepare_firmware(upgrader, input.c_str(), 0, 0, "0") == 0);

    if (encrypted) {
        const int result = rvupgrader_file_decrypt(input.c_str(), decrypted.c_str());
        struct stat st {};
        if (size < 8) {
            FUZZ_CHECK(result == -1);
            FUZZ_CHECK(::stat(decrypted.c_str(), &st) != 0);
        } else {
            FUZZ_CHECK(result == 1);
            FUZZ_CHECK(::stat(decrypted.c_str(), &st) == 0);
            FUZZ_CHECK(static_cast<size_t>(st.st_size) == size - 8);
            rvupgrader_fileinfo_t plain{};
            rvupgrader_get_fileinfo(decrypted.c_str(), &plain);
        }
    }
    return 0;
}
