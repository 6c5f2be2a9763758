/*
 * The controller's loader, reached with addressed frames of message id 0xF1:
 * it takes a firmware image block by block and checks it.
 */
#ifndef Q7SIM_SIM_LOADER_H
#define Q7SIM_SIM_LOADER_H

#include "sim_frames.h"

#include <string>
#include <utility>

namespace q7sim {

constexpr uint8_t kLoaderMessageId = 0xF1;

/* CRC-16/ARC, computed bit by bit (the library uses a table). */
uint16_t loader_crc16(const uint8_t *data, size_t n);

class Loader {
public:
    Loader() = default;
    /* `image_path`: where a complete image with the announced length and CRC is written. */
    explicit Loader(std::string image_path) : image_path_(std::move(image_path)) {}
    /*
     * A loader that stalls: once `stall_at` bytes of an image have arrived it
     * answers nothing more, as a controller that hangs mid-upgrade (< 0: never).
     */
    Loader(std::string image_path, long stall_at)
        : image_path_(std::move(image_path)), stall_at_(stall_at)
    {
    }

    /* Replies to one addressed frame for the loader. */
    std::vector<Bytes> on_frame(const Bytes &frame);

    bool active() const { return active_; }
    /* The bytes received in order so far for the announced image. */
    const Bytes &image() const { return image_; }
    /* Images found complete and correct on upgrade-over. */
    int images_accepted() const { return accepted_; }
    /* True once the stalling loader has fallen silent. */
    bool stalled() const
    {
        return announced_ && stall_at_ >= 0 && long(image_.size()) >= stall_at_;
    }

private:
    Bytes reply(const Bytes &payload) const;
    std::vector<Bytes> on_announce(const Bytes &frame);
    std::vector<Bytes> on_block(const Bytes &frame);
    std::vector<Bytes> on_over();
    bool write_image() const;

    std::string image_path_;
    long stall_at_ = -1;
    bool active_ = false;
    bool announced_ = false;
    uint32_t expected_length_ = 0;
    uint32_t expected_crc_ = 0;
    Bytes image_;
    bool stall_reported_ = false;
    bool judged_ = false; /* upgrade-over seen for this image: accepted or reported */
    bool good_ = false;
    int accepted_ = 0;
};

} // namespace q7sim

#endif
