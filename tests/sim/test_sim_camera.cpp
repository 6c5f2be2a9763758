/* The simulated camera's model, driven directly. */
#include "sim_camera.h"
#include "sim_frames.h"
#include "sim_options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using q7sim::Bytes;
using q7sim::Camera;
using q7sim::Options;

Bytes command(uint8_t sub, std::vector<std::pair<int, uint8_t>> bytes = {})
{
    Bytes frame = q7sim::command_frame('C');
    frame[4] = frame[5] = sub;
    for (auto [at, value] : bytes)
        frame[static_cast<size_t>(at)] = value;
    q7sim::seal(frame);
    return frame;
}

uint16_t be16(const Bytes &frame, int at)
{
    return static_cast<uint16_t>(frame[at] << 8 | frame[at + 1]);
}

std::string text(const Bytes &frame, int at, int length)
{
    return std::string(frame.begin() + at, frame.begin() + at + length);
}

TEST(SimCamera, ReportsReceivedWorkParametersByteForByteAndIgnoresMalformedCommands)
{
    Camera camera{Options{}};
    Bytes params = command(0x34);
    for (int i = 0; i < 24; ++i)
        params[6 + i] = static_cast<uint8_t>(0xC0 + i);
    params[6] = 4; /* PWM */
    q7sim::seal(params);
    const std::vector<Bytes> reply = camera.on_command(params);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_TRUE(q7sim::checksum_ok(reply[0]));
    EXPECT_EQ(Bytes(reply[0].begin() + 8, reply[0].begin() + 32),
              Bytes(params.begin() + 6, params.begin() + 30));
    EXPECT_EQ(reply[0][4], 1) << "debug mode until the work mode is switched on";
    camera.on_command(command(0x33));
    EXPECT_EQ(camera.config_frame()[4], 4);
    camera.on_command(command(0x32));
    EXPECT_EQ(camera.config_frame()[4], 1);

    Bytes short_frame = command(0x31);
    short_frame.resize(20);
    for (const Bytes &frame :
         {command(0x31, {{5, 0x32}}), command(0x31, {{3, 'A'}}), short_frame, command(0x77)})
        EXPECT_TRUE(camera.on_command(frame).empty());
    EXPECT_EQ(camera.total_exposures(), 0u);
}

TEST(SimCamera, AnswersAnIdentityRequestWithIdentityAndReleaseDate)
{
    Options options;
    options.version_minor = 40;
    options.serial = "Q7X516120000042";
    options.release_date = "2020-01-02";
    const std::vector<Bytes> reply = Camera{options}.on_command(command(0xFE));
    ASSERT_EQ(reply.size(), 2u);
    EXPECT_EQ(reply[0][4], 0xFE);
    EXPECT_EQ(reply[0][12], 4);
    EXPECT_EQ(reply[0][13], 40);
    EXPECT_EQ(text(reply[0], 14, 15), "Q7X516120000042");
    EXPECT_EQ(reply[1][4], 0xFD);
    EXPECT_EQ(text(reply[1], 10, 10), "2020-01-02");
    EXPECT_EQ(Camera{options}.on_command(command(0xFD)), std::vector<Bytes>{reply[1]});

    /* A serial number set in code that is too short is padded, not read past its end. */
    options.serial = "Q7";
    EXPECT_EQ(text(Camera{options}.identity_frame(), 14, 15), "Q7" + std::string(13, '\0'));
}

TEST(SimCamera, TestExposuresCountOnWorkingCamerasAndFaultsAreCodedPerFirmware)
{
    for (int minor : {40, 41}) {
        Options options;
        options.version_minor = minor;
        options.faulty_cameras = 0b00100;
        Camera camera{options};
        camera.on_command(command(0x31));
        camera.on_command(command(0x31));
        const Bytes status = camera.status_frame();
        EXPECT_EQ(be16(status, 5), 2);
        const uint16_t expected[5] = {2, 2, 0, 2, 2};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(be16(status, 15 + 2 * i), expected[i]) << "camera " << i + 1;
        /* 4.41 reports the cameras in order and its self-check; 4.40 has no such byte. */
        EXPECT_EQ(status[25], minor == 41 ? 0x80 | 0b11011 : 0) << "firmware 4." << minor;
    }
}

TEST(SimCamera, TimedAndDistanceStrategiesExposeOnlyWhileWorking)
{
    Camera camera{Options{}}; /* timed, every 2.0 s */
    camera.advance(10);
    EXPECT_EQ(camera.total_exposures(), 0u) << "work mode off";
    camera.on_command(command(0x33));
    camera.advance(20);
    EXPECT_EQ(camera.total_exposures(), 5u);
    camera.on_command(command(0x32));
    camera.advance(40);
    EXPECT_EQ(camera.total_exposures(), 5u);

    /* Every 30.0 m, at 20 m/s every 1.5 s. */
    camera.on_command(command(0x34, {{6, 3}, {28, 0x2C}, {29, 0x01}}));
    camera.on_command(command(0x33));
    camera.advance(55);
    EXPECT_EQ(camera.total_exposures(), 15u);
}

TEST(SimCamera, FliesBackAndForthAlongSurveyLines)
{
    const q7sim::Position start = q7sim::survey_position(0);
    const q7sim::Position later = q7sim::survey_position(10);
    EXPECT_EQ(start.track_deg, 0);
    EXPECT_DOUBLE_EQ(later.longitude, start.longitude);
    EXPECT_NEAR((later.latitude - start.latitude) * 111320, 10 * start.speed, 1e-6);
    /* After the 3000 m line and the half turn the next line runs south, 250 m east. */
    const q7sim::Position second = q7sim::survey_position(200);
    EXPECT_EQ(second.track_deg, 180);
    EXPECT_NEAR((second.longitude - start.longitude) * 111320 *
                    std::cos(second.latitude * M_PI / 180),
                250, 1e-6);

    Options options;
    options.satellites = 3;
    Camera camera{options};
    camera.advance(10);
    const Bytes frame = camera.position_frame();
    EXPECT_EQ(static_cast<int32_t>(q7sim::get_be32(frame, 4)), std::lround(later.longitude * 1e6));
    EXPECT_EQ(static_cast<int32_t>(q7sim::get_be32(frame, 8)), std::lround(later.latitude * 1e6));
    EXPECT_EQ(frame[16], 3);
    EXPECT_EQ(frame[17], 0) << "no fix with three satellites";
    EXPECT_EQ(frame[33], 1) << "GPS receiver present";
}

TEST(SimOptions, CameraOptions)
{
    const char *argv[] = {"q7sim",    "--firmware",      "4.08",         "--faulty", "1,5",
                          "--serial", "Q7X116120000001", "--satellites", "0"};
    Options options;
    std::string error;
    bool help = false;
    ASSERT_TRUE(q7sim::parse_options(9, const_cast<char **>(argv), options, error, help)) << error;
    EXPECT_EQ(options.version_minor, 8) << "the minor version is decimal";
    EXPECT_EQ(options.faulty_cameras, 0b10001u);
    EXPECT_EQ(options.serial, "Q7X116120000001");
    EXPECT_EQ(options.satellites, 0);

    for (std::vector<const char *> bad : {std::vector<const char *>{"q7sim", "--faulty", "6"},
                                          {"q7sim", "--firmware", "4"},
                                          {"q7sim", "--firmware", "4.x"},
                                          {"q7sim", "--serial", "Q7X1"}}) {
        Options rejected;
        EXPECT_FALSE(q7sim::parse_options(static_cast<int>(bad.size()),
                                          const_cast<char **>(bad.data()), rejected, error, help))
            << bad[1] << " " << bad[2];
    }
}

} // namespace
