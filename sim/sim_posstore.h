/*
 * The controller's POS store: numbered POS files of a flight, listed, sent
 * record by record and deleted on the ground program's request.
 *
 * The store holds 14 files of a survey flight, recorded in the layout the
 * camera's serial number implies (32 or 52 bytes a record). Their content
 * depends only on the serial number, so a test can build the same store and
 * know every record the simulator will send.
 */
#ifndef Q7SIM_SIM_POSSTORE_H
#define Q7SIM_SIM_POSSTORE_H

#include "sim_frames.h"
#include "sim_options.h"

#include <array>
#include <optional>
#include <string>

namespace q7sim {

constexpr int kPosFiles = 14;
constexpr uint8_t kPosEndMarker = 255;

/* One POS file of the store. */
struct PosFile {
    uint8_t number = 0;
    uint32_t start_address = 0;
    uint32_t start_address2 = 0;
    std::array<uint8_t, 6> start_time{}; /* UTC: year - 2000, month, day, hour, minute, second */
    uint32_t end_address = 0;
    uint32_t end_address2 = 0;
    std::array<uint8_t, 6> end_time{};
    uint8_t download_count = 0;
    std::vector<Bytes> records; /* each of the store's record size */

    uint32_t size() const { return end_address - start_address; }
};

class PosStore {
public:
    explicit PosStore(const Options &options);

    /* Whether a command frame's sub-command belongs to the POS store. */
    static bool handles(uint8_t sub_command) { return sub_command >= 0x26 && sub_command <= 0x2F; }

    /* Record size a serial number implies: 32 or 52; 0 when it implies none. */
    static int record_size_for_serial(const std::string &serial);

    /* Immediate replies to one POS command frame. */
    std::vector<Bytes> on_command(const Bytes &frame);
    /* Record frames due by `seconds` while a download runs. */
    std::vector<Bytes> pump(double seconds);
    /* True while a download is sending records. */
    bool busy() const { return stream_.active; }

    int record_size() const { return record_size_; }
    /* Records sent in downloads so far. */
    long records_sent() const { return records_sent_; }
    /* File 1 to 14, or none when it was removed. */
    const PosFile *file(int number) const;

    Bytes entry_frame(const PosFile &file) const;
    static Bytes end_marker();
    /* A plain record frame ('O'): the first 31 bytes of the record. */
    static Bytes record_frame(const Bytes &record);
    /* An offset-tagged record frame ('Q'): offset, record length, the first 51 bytes. */
    static Bytes offset_record_frame(uint32_t offset, const Bytes &record);

private:
    struct Stream {
        bool active = false;
        bool tagged = false; /* 'Q' frames rather than 'O' */
        int file = 0;
        uint32_t offset = 0;
        double next_at = -1; /* when the next record is due; < 0: at the next pump */
    };

    void build_file(int number, uint32_t start_address);
    bool sends_end_marker_unasked() const;
    /* Bytes of a file the camera can send: all of it, or half for the short file. */
    uint32_t sendable(const PosFile &file) const;

    Options options_;
    int record_size_;
    std::array<std::optional<PosFile>, kPosFiles> files_;
    Stream stream_;
    long records_sent_ = 0;
};

} // namespace q7sim

#endif
