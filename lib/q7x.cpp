/*
 * The camera handle: decodes the camera's configuration ('A'), position ('B'),
 * status ('C') and identity ('R') frames into the shared q7x_t record on the
 * receive thread, and sends the camera its commands from the caller's thread.
 *
 * The program reads the record field by field without a lock, so every field
 * written here is stored whole with a relaxed atomic store, text fields byte
 * by byte; the getters load the same way.
 */
#include "rvtele_frame.h"
#include "rvtele_internal.h"
#include "tavrin/tavrin.h"

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <type_traits>

static_assert(sizeof(q7x_work_param_t) == 24, "the work-parameter record is 24 bytes on the wire");
static_assert(offsetof(q7x_work_param_t, power_on_delay) == 6);
static_assert(offsetof(q7x_work_param_t, activation_height) == 8);
static_assert(offsetof(q7x_work_param_t, manual_delay) == 10);
static_assert(offsetof(q7x_work_param_t, pwm_pulse_time) == 12);
static_assert(offsetof(q7x_work_param_t, pwm_duration) == 14);
static_assert(offsetof(q7x_work_param_t, io_level) == 16);
static_assert(offsetof(q7x_work_param_t, io_duration) == 18);
static_assert(offsetof(q7x_work_param_t, timed_interval) == 20);
static_assert(offsetof(q7x_work_param_t, distance_interval) == 22);

namespace {

/* Letters of the camera's frames that the handle decodes. */
constexpr uint8_t LETTER_CONFIG = 'A';
constexpr uint8_t LETTER_POSITION = 'B';
constexpr uint8_t LETTER_STATUS = 'C';
constexpr uint8_t LETTER_IDENTITY = 'R';
constexpr uint8_t CAMERA_LETTERS[] = {LETTER_CONFIG, LETTER_POSITION, LETTER_STATUS,
                                      LETTER_IDENTITY};

/* Sub-commands of the frames sent to the camera (bytes 4 and 5). */
constexpr uint8_t SUB_SHUTTER = 0x31;
constexpr uint8_t SUB_WORK_OFF = 0x32;
constexpr uint8_t SUB_WORK_ON = 0x33;
constexpr uint8_t SUB_WORK_PARAM = 0x34;
constexpr uint8_t SUB_RELEASE_DATE = 0xFD;
constexpr uint8_t SUB_IDENTITY = 0xFE;

/* Offset of the work-parameter record in 'A' frames and in the frame we send. */
constexpr int CONFIG_PARAM_AT = 8;
constexpr int SEND_PARAM_AT = 6;

constexpr int SERIAL_AT = 14;
constexpr int SERIAL_LEN = 15;
constexpr int RELEASE_DATE_AT = 10;
constexpr int RELEASE_DATE_LEN = 10;

constexpr int CAMERAS = 5;

template <typename T> void put(T &field, T value)
{
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

template <typename T> T get(T &field)
{
    return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

uint16_t be16(const uint8_t *frame, int at)
{
    return static_cast<uint16_t>(frame[at] << 8 | frame[at + 1]);
}

uint32_t be32(const uint8_t *frame, int at)
{
    return static_cast<uint32_t>(frame[at]) << 24 | static_cast<uint32_t>(frame[at + 1]) << 16 |
           static_cast<uint32_t>(frame[at + 2]) << 8 | frame[at + 3];
}

uint16_t le16(const uint8_t *bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

/* The camera's scaling of its tenths: a single-precision multiplication. */
double tenths(uint16_t raw)
{
    return static_cast<double>(static_cast<float>(raw) * 0.1f);
}

/*
 * Firmware 4.41 and later reports the cameras' own state in status byte 25.
 * Versions read as decimal numbers (minor 5 is 4.5, later than 4.41), so the
 * minor is compared as a fraction: minor / 10^digits >= 0.41.
 */
bool firmware_reports_state(q7x_t *cam)
{
    const unsigned major = get(cam->version_major);
    const unsigned minor = get(cam->version_minor);
    if (major != 4)
        return major > 4;
    unsigned scale = 10;
    while (minor >= scale)
        scale *= 10;
    return minor * 100 >= 41 * scale;
}

void store_text(char *field, const uint8_t *bytes, int length)
{
    for (int i = 0; i < length; ++i)
        put(field[i], static_cast<char>(bytes[i]));
    put(field[length], '\0');
}

/* Store a 24-byte wire record field by field, so that no 16-bit field is torn. */
void store_work_param(q7x_work_param_t &dst, const uint8_t *wire)
{
    put(dst.strategy, wire[0]);
    put(dst.activation, wire[1]);
    put(dst.reserved2[0], wire[2]);
    put(dst.reserved2[1], wire[3]);
    put(dst.external_level, wire[4]);
    put(dst.reserved5, wire[5]);
    put(dst.power_on_delay, le16(wire, 6));
    put(dst.activation_height, le16(wire, 8));
    put(dst.manual_delay, le16(wire, 10));
    put(dst.pwm_pulse_time, wire[12]);
    put(dst.pwm_period, wire[13]);
    put(dst.pwm_duration, le16(wire, 14));
    put(dst.io_level, wire[16]);
    put(dst.edge, wire[17]);
    put(dst.io_duration, le16(wire, 18));
    put(dst.timed_interval, le16(wire, 20));
    put(dst.distance_interval, le16(wire, 22));
}

void load_work_param(q7x_work_param_t &dst, q7x_work_param_t &src)
{
    dst.strategy = get(src.strategy);
    dst.activation = get(src.activation);
    dst.reserved2[0] = get(src.reserved2[0]);
    dst.reserved2[1] = get(src.reserved2[1]);
    dst.external_level = get(src.external_level);
    dst.reserved5 = get(src.reserved5);
    dst.power_on_delay = get(src.power_on_delay);
    dst.activation_height = get(src.activation_height);
    dst.manual_delay = get(src.manual_delay);
    dst.pwm_pulse_time = get(src.pwm_pulse_time);
    dst.pwm_period = get(src.pwm_period);
    dst.pwm_duration = get(src.pwm_duration);
    dst.io_level = get(src.io_level);
    dst.edge = get(src.edge);
    dst.io_duration = get(src.io_duration);
    dst.timed_interval = get(src.timed_interval);
    dst.distance_interval = get(src.distance_interval);
}

/* Every camera frame the handle reads is a 36-byte command frame. */
bool long_enough(const uint8_t *frame, int length)
{
    if (length >= RVTELE_COMMAND_FRAME_LEN)
        return true;
    printf("Error: q7x: '%c' frame of %d bytes is too short for a camera message, ignored.\n",
           frame[3], length);
    return false;
}

void mark_valid(q7x_t *cam)
{
    std::atomic_ref<uint32_t>(cam->flags).fetch_or(Q7X_FLAG_VALID, std::memory_order_relaxed);
}

/* The handle and what the program reads only through getters: frames decoded per letter. */
struct Q7xHandle {
    q7x_t pub; /* must stay first: the program holds &pub */
    uint32_t frames[std::size(CAMERA_LETTERS)];
};
static_assert(std::is_standard_layout_v<Q7xHandle>, "the public record must be at offset 0");

/* Count a decoded frame of CAMERA_LETTERS[k]. */
void count_letter(q7x_t *cam, size_t k)
{
    std::atomic_ref<uint32_t>(reinterpret_cast<Q7xHandle *>(cam)->frames[k])
        .fetch_add(1, std::memory_order_relaxed);
}

/* Count a decoded 'A', 'B' or 'C' frame (CAMERA_LETTERS[k]). */
void count_frame(q7x_t *cam, size_t k)
{
    std::atomic_ref<uint32_t>(cam->index).fetch_add(1, std::memory_order_relaxed);
    count_letter(cam, k);
}

int on_config(void *context, const uint8_t *frame, int length)
{
    if (!long_enough(frame, length))
        return -1;
    auto *cam = static_cast<q7x_t *>(context);
    put(cam->mode, static_cast<uint16_t>(frame[4]));
    put(cam->config_byte5, frame[5]);
    put(cam->config_word6, be16(frame, 6));
    store_work_param(cam->reported_param, frame + CONFIG_PARAM_AT);
    put(cam->config_byte34, frame[34]);
    mark_valid(cam);
    count_frame(cam, 0);
    return 0;
}

int on_position(void *context, const uint8_t *frame, int length)
{
    if (!long_enough(frame, length))
        return -1;
    auto *cam = static_cast<q7x_t *>(context);
    mark_valid(cam);
    put(cam->position_byte34, frame[34]);
    put(cam->coordinate1, static_cast<int32_t>(be32(frame, 4)) * 0.000001);
    put(cam->coordinate2, static_cast<int32_t>(be32(frame, 8)) * 0.000001);
    put(cam->height, static_cast<double>(be16(frame, 14)));
    put(cam->satellites, static_cast<uint32_t>(frame[16]));
    put(cam->position_byte17, static_cast<uint32_t>(frame[17]));
    put(cam->position_value18, be16(frame, 18) / 5.0f);
    put(cam->position_value20, be16(frame, 20) / 5.0f);
    put(cam->position_value22, frame[22] / 5.0f);
    std::atomic_ref<uint32_t> flags(cam->flags);
    if (frame[33] != 0)
        flags.fetch_or(Q7X_FLAG_GPS_FIX, std::memory_order_relaxed);
    else
        flags.fetch_and(~Q7X_FLAG_GPS_FIX, std::memory_order_relaxed);
    count_frame(cam, 1);
    return 0;
}

int on_status(void *context, const uint8_t *frame, int length)
{
    if (!long_enough(frame, length))
        return -1;
    auto *cam = static_cast<q7x_t *>(context);
    mark_valid(cam);
    put(cam->status_byte34, static_cast<uint32_t>(frame[34]));
    const uint32_t total = be16(frame, 5);
    put(cam->total_exposures, total);
    put(cam->status_word8, static_cast<uint32_t>(be16(frame, 8)));
    put(cam->status_byte12, static_cast<uint32_t>(frame[12]));
    put(cam->status_value13, tenths(be16(frame, 13)));
    put(cam->status_byte29, static_cast<uint32_t>(frame[29]));
    put(cam->status_value30, tenths(be16(frame, 30)));

    /*
     * Firmware 4.41 and later sets bit i of byte 25 while camera i + 1 is in
     * order, and bit 7 once its self-check is done. Older firmware has no such
     * byte: a camera whose count lags the total has missed exposures.
     */
    const bool reports_state = firmware_reports_state(cam);
    if (reports_state)
        put(cam->self_check, static_cast<uint8_t>(frame[25] & 0x80 ? 1 : 0));
    uint8_t mask = 0;
    for (int i = 0; i < CAMERAS; ++i) {
        const uint16_t count = be16(frame, 15 + 2 * i);
        put(cam->exposure_counts[i], count);
        const bool bit = reports_state ? (frame[25] >> i & 1) != 0 : count != total;
        if (bit)
            mask = static_cast<uint8_t>(mask | 1u << i);
    }
    put(cam->fault_mask, mask);

    put(cam->option_word, be16(frame, 27));
    put(cam->status_byte32, frame[32]);
    put(cam->status_byte34_copy, frame[34]);
    count_frame(cam, 2);
    return 0;
}

int on_identity(void *context, const uint8_t *frame, int length)
{
    if (!long_enough(frame, length))
        return -1;
    auto *cam = static_cast<q7x_t *>(context);
    if (frame[4] == SUB_IDENTITY) {
        put(cam->version_major, frame[12]);
        put(cam->version_minor, frame[13]);
        store_text(cam->serial_number, frame + SERIAL_AT, SERIAL_LEN);
        const uint8_t third = frame[SERIAL_AT + 2];
        put(cam->model_flag, static_cast<uint8_t>(third == 'X' || third == 'x' ? 2 : 1));
        char serial[SERIAL_LEN + 1] = {};
        std::memcpy(serial, frame + SERIAL_AT, SERIAL_LEN);
        printf("Get SN: %s\n", serial);
        /*
         * Bytes 10-19 of this frame hold the version and the start of the
         * serial number, not a date: the release date comes only with the
         * release-date answer (0xFD), so a date already held is kept.
         */
    } else if (frame[4] == SUB_RELEASE_DATE) {
        store_text(cam->release_date, frame + RELEASE_DATE_AT, RELEASE_DATE_LEN);
        char date[RELEASE_DATE_LEN + 1] = {};
        std::memcpy(date, frame + RELEASE_DATE_AT, RELEASE_DATE_LEN);
        printf("Get Release-Date: %s\n", date);
    }
    mark_valid(cam);
    count_letter(cam, 3);
    return 0;
}

using Handler = int (*)(void *, const uint8_t *, int);
constexpr Handler HANDLERS[] = {on_config, on_position, on_status, on_identity};

void unregister_all(rvtele_t *tele, size_t registered)
{
    for (size_t i = 0; i < registered; ++i)
        unregister_rvtele_processer(tele, CAMERA_LETTERS[i]);
}

/* A 36-byte frame to the camera with a sub-command and no other content. */
void request_frame(uint8_t frame[RVTELE_COMMAND_FRAME_LEN], uint8_t sub_command)
{
    std::memset(frame, 0, RVTELE_COMMAND_FRAME_LEN);
    rvtele_command_frame_init(frame, RVTELE_COMMAND_FRAME_LEN);
    frame[3] = 'C';
    frame[4] = sub_command;
    frame[5] = sub_command;
}

int send_request(q7x_t *cam, uint8_t sub_command)
{
    uint8_t frame[RVTELE_COMMAND_FRAME_LEN];
    request_frame(frame, sub_command);
    rvtele_frame_seal(frame);
    return rvtele_send(cam->link, frame, sizeof frame);
}

bool have_handle(q7x_t *cam, const char *function)
{
    if (cam)
        return true;
    printf("Error: %s: no camera handle.\n", function);
    return false;
}

} // namespace

extern "C" {

TAVRIN_API q7x_t *q7x_alloc(rvtele_t *tele)
{
    if (!tele) {
        printf("Error: q7x_alloc: no link.\n");
        return nullptr;
    }
    auto *cam = static_cast<q7x_t *>(std::calloc(1, sizeof(Q7xHandle)));
    if (!cam) {
        printf("Error: q7x_alloc failed Out of Memory.\n");
        return nullptr;
    }
    cam->link = tele;
    size_t registered = 0;
    for (; registered < std::size(CAMERA_LETTERS); ++registered) {
        if (register_rvtele_processer(tele, CAMERA_LETTERS[registered], HANDLERS[registered],
                                      cam) != 0)
            break;
    }
    if (registered < std::size(CAMERA_LETTERS)) {
        printf("Error: q7x_alloc failed Out of Memory.\n");
        unregister_all(tele, registered);
        std::free(cam);
        return nullptr;
    }
    /* The program frees the link before the camera handle; keep it until then. */
    rvtele_ref(tele);
    return cam;
}

TAVRIN_API void q7x_free(q7x_t *cam)
{
    if (!cam)
        return;
    unregister_all(cam->link, std::size(CAMERA_LETTERS));
    rvtele_unref(cam->link);
    std::free(cam);
}

TAVRIN_API int q7x_set_work_param(q7x_t *cam, const q7x_work_param_t *param)
{
    if (!have_handle(cam, "q7x_set_work_param"))
        return -1;
    if (!param) {
        printf("Error: q7x_set_work_param: no work parameters.\n");
        return -1;
    }
    std::memcpy(&cam->sent_param, param, sizeof cam->sent_param);
    uint8_t frame[RVTELE_COMMAND_FRAME_LEN];
    request_frame(frame, SUB_WORK_PARAM);
    std::memcpy(frame + SEND_PARAM_AT, param, sizeof *param);
    rvtele_frame_seal(frame);
    return rvtele_send(cam->link, frame, sizeof frame);
}

TAVRIN_API int q7x_change_work_mode(q7x_t *cam, int on)
{
    if (!have_handle(cam, "q7x_change_work_mode"))
        return -1;
    send_request(cam, on ? SUB_WORK_ON : SUB_WORK_OFF);
    return 0;
}

TAVRIN_API int q7x_shutter(q7x_t *cam)
{
    if (!have_handle(cam, "q7x_shutter"))
        return -1;
    const uint8_t model = get(cam->model_flag);
    const uint16_t mode = get(cam->mode);
    if (model == 2 && mode != Q7X_STRATEGY_DEBUG) {
        printf("q7x_shutter: refused, this camera takes test exposures only in debug mode "
               "(mode %u).\n",
               mode);
        return -1;
    }
    send_request(cam, SUB_SHUTTER);
    return 0;
}

TAVRIN_API int q7x_get_version(q7x_t *cam)
{
    if (!have_handle(cam, "q7x_get_version"))
        return -1;
    send_request(cam, SUB_IDENTITY);
    return 0;
}

TAVRIN_API int q7x_get_builddate(q7x_t *cam)
{
    if (!have_handle(cam, "q7x_get_builddate"))
        return -1;
    send_request(cam, SUB_RELEASE_DATE);
    return 0;
}

TAVRIN_API uint32_t q7x_get_index(q7x_t *cam)
{
    return cam ? get(cam->index) : 0;
}

TAVRIN_API int q7x_get_mode(q7x_t *cam)
{
    return cam ? get(cam->mode) : 0;
}

TAVRIN_API int q7x_get_fixtime(q7x_t *cam)
{
    return cam ? get(cam->reported_param.timed_interval) : 0;
}

TAVRIN_API q7x_work_param_t *q7x_get_work_param(q7x_work_param_t *dst, q7x_t *cam)
{
    if (!dst)
        return nullptr;
    if (!cam) {
        /* No camera has reported anything: the record of a new handle. */
        std::memset(dst, 0, sizeof *dst);
        return dst;
    }
    load_work_param(*dst, cam->reported_param);
    return dst;
}

TAVRIN_API int q7x_get_valid(q7x_t *cam)
{
    return cam ? static_cast<int>(get(cam->flags) & Q7X_FLAG_VALID) : 0;
}

TAVRIN_API uint32_t q7x_get_frame_count(q7x_t *cam, int letter)
{
    for (size_t k = 0; cam && k < std::size(CAMERA_LETTERS); ++k)
        if (CAMERA_LETTERS[k] == letter)
            return get(reinterpret_cast<Q7xHandle *>(cam)->frames[k]);
    return 0;
}

} // extern "C"
