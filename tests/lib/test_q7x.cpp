/* The camera handle against a UDP socket standing in for the camera. */
#include "fixtures.h"
#include "record_fields.h"
#include "rvtele_frame.h"
#include "rvtele_internal.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Frame = std::vector<uint8_t>;

/* A frame of `length` bytes with `letter` in byte 3 and zero content. */
Frame message(uint8_t letter, size_t length = 36)
{
    Frame frame(length, 0);
    rvtele_command_frame_init(frame.data(), static_cast<uint8_t>(length));
    frame[3] = letter;
    return frame;
}

Frame sealed(Frame frame)
{
    rvtele_frame_seal(frame.data());
    return frame;
}

/* Write `value` big-endian into `width` bytes at `at`. */
void put(Frame &frame, size_t at, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        frame[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

Frame status(uint16_t total, std::initializer_list<uint16_t> counts, uint8_t byte25)
{
    Frame frame = message('C');
    put(frame, 5, total, 2);
    for (size_t i = 0; i < counts.size(); ++i)
        put(frame, 15 + 2 * i, counts.begin()[i], 2);
    frame[25] = byte25;
    return frame;
}

Frame identity(const char *serial, uint8_t major, uint8_t minor)
{
    Frame frame = message('R');
    frame[4] = 0xFE;
    frame[12] = major;
    frame[13] = minor;
    std::memcpy(&frame[14], serial, 15);
    return frame;
}

/* What the link must send for a request with sub-command `sub`. */
Frame request(uint8_t sub)
{
    Frame frame = message('C');
    frame[4] = frame[5] = sub;
    return sealed(frame);
}

/* Frames with this letter only bump a counter: the handle has seen what came before. */
constexpr uint8_t MARKER = 'Z';

int count_marker(void *context, const uint8_t *, int)
{
    static_cast<std::atomic<int> *>(context)->fetch_add(1);
    return 0;
}

class CameraHandle : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        cam = q7x_alloc(link);
        ASSERT_NE(cam, nullptr);
        register_rvtele_processer(link, MARKER, count_marker, &markers);
        start_link();
    }
    void TearDown() override
    {
        q7x_free(cam);
        LinkTest::TearDown();
    }

    /* The next datagram from the link, or nothing within five seconds. */
    Frame receive() { return camera.receive(5000); }

    /* Send frames as the camera and return, once the handle has processed them, what it printed. */
    std::string deliver(std::initializer_list<Frame> frames)
    {
        printed();
        const int before = markers.load();
        for (const Frame &frame : frames)
            camera.send(sealed(frame));
        camera.send(sealed(message(MARKER)));
        for (int i = 0; i < 5000 && markers.load() == before; ++i)
            std::this_thread::sleep_for(1ms);
        EXPECT_GT(markers.load(), before) << "the link did not process the frames";
        return printed();
    }

    q7x_t *cam = nullptr;
    std::atomic<int> markers{0};
};

TEST_F(CameraHandle, StartsEmptyAndEveryExportAcceptsNoHandle)
{
    EXPECT_EQ(q7x_get_valid(cam), 0);
    EXPECT_EQ(q7x_get_index(cam), 0u);
    EXPECT_EQ(q7x_get_mode(cam), 0);
    const auto *bytes = reinterpret_cast<const uint8_t *>(cam);
    for (size_t i = offsetof(q7x_t, flags); i < sizeof(q7x_t); ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i << " of a new handle";

    q7x_work_param_t param;
    std::memset(&param, 0xAB, sizeof param);
    printed();
    EXPECT_EQ(q7x_alloc(nullptr), nullptr);
    q7x_free(nullptr);
    for (int refused : {q7x_set_work_param(nullptr, &param), q7x_set_work_param(cam, nullptr),
                        q7x_change_work_mode(nullptr, 1), q7x_shutter(nullptr),
                        q7x_get_version(nullptr), q7x_get_builddate(nullptr)})
        EXPECT_EQ(refused, -1);
    const std::string text = printed();
    EXPECT_NE(text.find("q7x_shutter: no camera handle"), std::string::npos) << text;
    EXPECT_NE(text.find("q7x_set_work_param: no work parameters"), std::string::npos);
    EXPECT_EQ(q7x_get_index(nullptr), 0u);
    for (int none : {q7x_get_mode(nullptr), q7x_get_fixtime(nullptr), q7x_get_valid(nullptr)})
        EXPECT_EQ(none, 0);
    EXPECT_EQ(q7x_get_work_param(nullptr, cam), nullptr);
    EXPECT_EQ(q7x_get_work_param(&param, nullptr), &param);
    const q7x_work_param_t zero{};
    EXPECT_EQ(std::memcmp(&param, &zero, sizeof param), 0);
    q7x_get_builddate(cam);
    EXPECT_EQ(receive(), request(0xFD)) << "the refused work parameters were sent";
}

TEST_F(CameraHandle, ConfigurationFrameReportsModeAndWorkParametersUnchanged)
{
    Frame frame = message('A');
    put(frame, 6, 0x1234, 2);
    for (int i = 0; i < 24; ++i)
        frame[8 + i] = static_cast<uint8_t>(0xA0 + i);
    frame[4] = 4, frame[5] = 0x5A, frame[34] = 0x77;
    deliver({frame, frame});

    EXPECT_EQ(q7x_get_mode(cam), 4);
    EXPECT_EQ(get(cam->config_byte5), 0x5A);
    EXPECT_EQ(get(cam->config_word6), 0x1234);
    EXPECT_EQ(get(cam->config_byte34), 0x77);
    q7x_work_param_t reported;
    EXPECT_EQ(q7x_get_work_param(&reported, cam), &reported);
    EXPECT_EQ(std::memcmp(&reported, &frame[8], sizeof reported), 0);
    EXPECT_EQ(q7x_get_fixtime(cam), 0xB5B4); /* bytes 20-21, little-endian */
    EXPECT_EQ(q7x_get_valid(cam), 1);
    EXPECT_EQ(q7x_get_index(cam), 2u);
}

TEST_F(CameraHandle, PositionFrameDecodesSignedCoordinatesFifthsAndGpsFlag)
{
    Frame frame = message('B');
    put(frame, 4, static_cast<uint32_t>(-116500001), 4);
    put(frame, 8, 39912345, 4);
    put(frame, 14, 0xFFFF, 2);
    put(frame, 18, 0xFFFF, 2);
    put(frame, 20, 7, 2);
    frame[16] = 9, frame[17] = 3, frame[22] = 0xFF, frame[33] = 1, frame[34] = 0x42;
    deliver({frame});

    EXPECT_DOUBLE_EQ(get(cam->coordinate1), -116.500001);
    EXPECT_DOUBLE_EQ(get(cam->coordinate2), 39.912345);
    EXPECT_EQ(get(cam->height), 65535.0);
    EXPECT_EQ(get(cam->satellites), 9u);
    EXPECT_EQ(get(cam->position_byte17), 3u);
    EXPECT_FLOAT_EQ(get(cam->position_value18), 13107.0f);
    EXPECT_FLOAT_EQ(get(cam->position_value20), 1.4f); /* not whole fifths */
    EXPECT_FLOAT_EQ(get(cam->position_value22), 51.0f);
    EXPECT_EQ(get(cam->position_byte34), 0x42);
    EXPECT_EQ(get(cam->flags), Q7X_FLAG_VALID | Q7X_FLAG_GPS_FIX);

    frame[33] = 0;
    deliver({frame});
    EXPECT_EQ(get(cam->flags), Q7X_FLAG_VALID);
    EXPECT_EQ(q7x_get_index(cam), 2u);
}

TEST_F(CameraHandle, StatusFrameDecodesCountsAndSinglePrecisionTenths)
{
    Frame frame = status(300, {300, 299, 300, 300, 65535}, 0x9F);
    put(frame, 8, 0xBEEF, 2);
    put(frame, 13, 1234, 2);
    put(frame, 27, 0x0102, 2);
    put(frame, 30, 385, 2);
    frame[12] = 12, frame[29] = 29, frame[32] = 32, frame[34] = 34;
    deliver({frame});

    EXPECT_EQ(get(cam->total_exposures), 300u);
    const uint16_t counts[5] = {300, 299, 300, 300, 65535};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(get(cam->exposure_counts[i]), counts[i]) << "camera " << i + 1;
    EXPECT_EQ(get(cam->status_word8), 0xBEEFu);
    EXPECT_EQ(get(cam->status_byte12), 12u);
    /* The camera's tenths are a float product, which differs from the double one. */
    EXPECT_EQ(get(cam->status_value13), static_cast<double>(1234.0f * 0.1f));
    EXPECT_NE(get(cam->status_value13), 1234 * 0.1);
    EXPECT_EQ(get(cam->status_value30), static_cast<double>(385.0f * 0.1f));
    EXPECT_EQ(get(cam->option_word), 0x0102);
    EXPECT_EQ(get(cam->status_byte29), 29u);
    EXPECT_EQ(get(cam->status_byte32), 32);
    EXPECT_EQ(get(cam->status_byte34), 34u);
    EXPECT_EQ(get(cam->status_byte34_copy), 34);
    EXPECT_EQ(q7x_get_index(cam), 1u);
}

TEST_F(CameraHandle, FaultMaskMeansLaggingCountsBeforeFirmware441AndSelfReportAfter)
{
    /* No version known yet: counts that lag the total are faults; byte 25 is not read. */
    deliver({status(5, {5, 4, 5, 5, 0}, 0x80 | 0x1F)});
    EXPECT_EQ(get(cam->fault_mask), 0b10010);
    EXPECT_EQ(get(cam->self_check), 0);

    deliver({identity("Q7A160800012345", 4, 40), status(5, {5, 5, 5, 5, 5}, 0x80)});
    EXPECT_EQ(get(cam->fault_mask), 0);
    EXPECT_EQ(get(cam->self_check), 0);

    /* 4.41: bit i set means camera i + 1 is in order, bit 7 that the self-check is done. */
    deliver({identity("Q7A160800012345", 4, 41), status(5, {5, 4, 5, 5, 0}, 0x80 | 0b10110)});
    EXPECT_EQ(get(cam->fault_mask), 0b10110);
    EXPECT_EQ(get(cam->self_check), 1);
    deliver({status(5, {5, 5, 5, 5, 5}, 0x1F)});
    EXPECT_EQ(get(cam->fault_mask), 0x1F);
    EXPECT_EQ(get(cam->self_check), 0);

    /* Back on older firmware the self-check flag keeps its last value. */
    deliver({status(5, {5, 5, 5, 5, 5}, 0x80), identity("Q7A160800012345", 4, 40),
             status(7, {7, 7, 6, 7, 7}, 0)});
    EXPECT_EQ(get(cam->fault_mask), 0b00100);
    EXPECT_EQ(get(cam->self_check), 1);
}

TEST_F(CameraHandle, IdentityAnswersFillSerialVersionModelAndReleaseDateWithoutCounting)
{
    EXPECT_EQ(deliver({message('R')}), ""); /* byte 4 neither 0xFE nor 0xFD */
    EXPECT_EQ(q7x_get_valid(cam), 1);
    EXPECT_EQ(get(cam->version_major), 0);

    Frame date = message('R');
    date[4] = 0xFD;
    std::memcpy(&date[10], "2019-03-28", 10);
    EXPECT_EQ(deliver({identity("Q7X5161200000042", 4, 41), date}),
              "Get SN: Q7X516120000004\nGet Release-Date: 2019-03-28\n");
    EXPECT_EQ(text(cam->serial_number), "Q7X516120000004");
    EXPECT_EQ(get(cam->version_major), 4);
    EXPECT_EQ(get(cam->version_minor), 41);
    EXPECT_EQ(get(cam->model_flag), 2);
    EXPECT_EQ(text(cam->release_date), "2019-03-28");

    /* The identity's bytes 10-19 hold the version and serial: the date stays. */
    deliver({identity("q7x160800000001", 4, 42)});
    EXPECT_EQ(get(cam->model_flag), 2);
    EXPECT_EQ(text(cam->release_date), "2019-03-28");
    deliver({identity("Q7A160800000001", 4, 42)});
    EXPECT_EQ(get(cam->model_flag), 1);
    EXPECT_EQ(q7x_get_index(cam), 0u);
}

TEST_F(CameraHandle, CommandsLeaveAsExactFramesAndQ7XExposesOnlyInDebugMode)
{
    q7x_work_param_t param;
    auto *bytes = reinterpret_cast<uint8_t *>(&param);
    for (int i = 0; i < 24; ++i)
        bytes[i] = static_cast<uint8_t>(0x11 * (i + 1));
    EXPECT_EQ(q7x_set_work_param(cam, &param), 36);
    Frame expected = request(0x34);
    std::memcpy(&expected[6], bytes, 24);
    EXPECT_EQ(receive(), sealed(expected));
    EXPECT_EQ(std::memcmp(&cam->sent_param, &param, sizeof param), 0);

    const std::pair<int (*)(q7x_t *), uint8_t> requests[] = {
        {[](q7x_t *c) { return q7x_change_work_mode(c, 1); }, 0x33},
        {[](q7x_t *c) { return q7x_change_work_mode(c, 0); }, 0x32},
        {[](q7x_t *c) { return q7x_change_work_mode(c, -5); }, 0x33},
        {q7x_shutter, 0x31},
        {q7x_get_version, 0xFE},
        {q7x_get_builddate, 0xFD}};
    for (const auto &[call, sub] : requests) {
        EXPECT_EQ(call(cam), 0);
        EXPECT_EQ(receive(), request(sub)) << "sub-command " << int(sub);
    }

    /* A Q7X camera working under a strategy refuses; in debug mode it exposes. */
    Frame config = message('A');
    config[4] = Q7X_STRATEGY_DISTANCE;
    deliver({identity("Q7X3161200000001", 4, 41), config});
    printed();
    EXPECT_EQ(q7x_shutter(cam), -1);
    EXPECT_NE(printed().find("q7x_shutter"), std::string::npos);
    q7x_get_builddate(cam);
    EXPECT_EQ(receive(), request(0xFD)) << "the refused exposure was sent";
    config[4] = Q7X_STRATEGY_DEBUG;
    deliver({config});
    EXPECT_EQ(q7x_shutter(cam), 0);
    EXPECT_EQ(receive(), request(0x31));
}

TEST_F(CameraHandle, ShortCameraFramesAreRejectedWithADiagnostic)
{
    const std::string printed =
        deliver({message('A', 20), message('B', 20), message('C', 20), message('R', 20)});
    EXPECT_EQ(q7x_get_valid(cam), 0);
    EXPECT_EQ(q7x_get_index(cam), 0u);
    for (const char *letter : {"'A'", "'B'", "'C'", "'R'"})
        EXPECT_NE(printed.find(std::string(letter) + " frame of 20 bytes is too short"),
                  std::string::npos)
            << printed;
}

TEST(CameraHandleLifetime, OutlivesItsLinkAsTheProgramFreesThem)
{
    testing::internal::CaptureStdout();
    rvtele_module_init();
    rvtele_t *link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 9, TAVRIN_RING_CAPACITY);
    q7x_t *cam = q7x_alloc(link);
    rvtele_start(link);
    rvtele_stop(link);
    rvtele_free(link);
    q7x_work_param_t param{};
    const int sent = q7x_set_work_param(cam, &param);
    q7x_free(cam);
    rvtele_module_exit();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(sent, -1);
    for (int key : {'A', 'B', 'C', 'R'})
        EXPECT_NE(printed.find("Free processer: " + std::to_string(key) + " "), std::string::npos)
            << printed;
}

} // namespace
