/* The camera handle, a UDP socket standing in for the camera; survey and Gauss-Krueger maths. */
#include "fixtures.h"
#include "record_fields.h"
#include "rvtele_internal.h"
#include "tavrin/tavrin.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

namespace {

Bytes status(uint16_t total, std::initializer_list<uint16_t> counts, uint8_t byte25)
{
    Bytes frame = command('C');
    put_be(frame, 5, total, 2);
    for (size_t i = 0; i < counts.size(); ++i)
        put_be(frame, 15 + 2 * i, counts.begin()[i], 2);
    frame[25] = byte25;
    return frame;
}

Bytes identity(const char *serial, uint8_t major, uint8_t minor)
{
    Bytes frame = command('R', {0xFE, 0, 0, 0, 0, 0, 0, 0, major, minor});
    std::memcpy(&frame[14], serial, 15);
    return frame;
}

/* What the link must send for a request with sub-command `sub`. */
Bytes request(uint8_t sub)
{
    return command('C', {sub, sub});
}

class CameraHandle : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        cam = q7x_alloc(link);
        ASSERT_NE(cam, nullptr);
        start_link();
    }
    void TearDown() override
    {
        q7x_free(cam);
        LinkTest::TearDown();
    }

    /* The next datagram from the link, or nothing within five seconds. */
    Bytes receive() { return camera.receive(5000); }

    /* Hands the camera's frames to the link as its receive thread does; what the handle printed. */
    std::string deliver(const std::vector<Bytes> &frames)
    {
        printed();
        for (Bytes frame : frames) {
            rvtele_frame_seal(frame.data()); /* the test may have changed it */
            rvtele_receive(link, frame.data(), static_cast<uint32_t>(frame.size()));
        }
        return printed();
    }

    q7x_t *cam = nullptr;
};

TEST_F(CameraHandle, StartsEmptyStaysSoOnShortFramesAndEveryExportAcceptsNoHandle)
{
    for (char letter : {'A', 'B', 'C', 'R'})
        EXPECT_TRUE(contains(deliver({command(letter, {}, 20)}),
                             std::string{'\'', letter, '\''} + " frame of 20 bytes is too short"))
            << letter;
    const auto *bytes = reinterpret_cast<const uint8_t *>(cam);
    for (size_t i = offsetof(q7x_t, flags); i < sizeof(q7x_t); ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i << " of a new handle";

    q7x_work_param_t param;
    std::memset(&param, 0xAB, sizeof param);
    EXPECT_EQ(q7x_alloc(nullptr), nullptr);
    q7x_free(nullptr);
    for (int refused : {q7x_set_work_param(nullptr, &param), q7x_set_work_param(cam, nullptr),
                        q7x_change_work_mode(nullptr, 1), q7x_shutter(nullptr),
                        q7x_get_version(nullptr), q7x_get_builddate(nullptr)})
        EXPECT_EQ(refused, -1);
    const std::string text = printed();
    EXPECT_TRUE(contains(text, "q7x_shutter: no camera handle")) << text;
    EXPECT_TRUE(contains(text, "q7x_set_work_param: no work parameters"));
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
    Bytes frame = command('A');
    put_be(frame, 6, 0x1234, 2);
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
    Bytes frame = command('B');
    put_be(frame, 4, static_cast<uint32_t>(-116500001), 4);
    put_be(frame, 8, 39912345, 4);
    put_be(frame, 14, 0xFFFF, 2);
    put_be(frame, 18, 0xFFFF, 2);
    put_be(frame, 20, 7, 2);
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
    Bytes frame = status(300, {300, 299, 300, 300, 65535}, 0x9F);
    put_be(frame, 8, 0xBEEF, 2);
    put_be(frame, 13, 1234, 2);
    put_be(frame, 27, 0x0102, 2);
    put_be(frame, 30, 385, 2);
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
    const char *serial = "Q7A160800012345";
    const struct {
        std::vector<Bytes> frames;
        uint8_t fault_mask, self_check;
    } steps[] = {
        /* No version known yet: counts that lag the total are faults; byte 25 is not read. */
        {{status(5, {5, 4, 5, 5, 0}, 0x80 | 0x1F)}, 0b10010, 0},
        {{identity(serial, 4, 40), status(5, {5, 5, 5, 5, 5}, 0x80)}, 0, 0},
        /* 4.41: bit i set means camera i + 1 is in order, bit 7 that the self-check is done. */
        {{identity(serial, 4, 41), status(5, {5, 4, 5, 5, 0}, 0x80 | 0b10110)}, 0b10110, 1},
        {{status(5, {5, 5, 5, 5, 5}, 0x1F)}, 0x1F, 0},
        /* Back on older firmware the self-check flag keeps its last value. */
        {{status(5, {5, 5, 5, 5, 5}, 0x80), identity(serial, 4, 40), status(7, {7, 7, 6, 7, 7}, 0)},
         0b00100,
         1},
    };
    for (const auto &step : steps) {
        deliver(step.frames);
        EXPECT_EQ(get(cam->fault_mask), step.fault_mask) << &step - steps;
        EXPECT_EQ(get(cam->self_check), step.self_check) << &step - steps;
    }
}

TEST_F(CameraHandle, IdentityAnswersFillSerialVersionModelAndReleaseDateWithoutCounting)
{
    EXPECT_EQ(deliver({command('R')}), ""); /* byte 4 neither 0xFE nor 0xFD */
    EXPECT_EQ(q7x_get_valid(cam), 1);
    EXPECT_EQ(get(cam->version_major), 0);

    Bytes date = command('R');
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
    Bytes body = {0x34, 0x34};
    for (int i = 0; i < 24; ++i)
        body.push_back(static_cast<uint8_t>(0x11 * (i + 1)));
    q7x_work_param_t param;
    std::memcpy(&param, &body[2], sizeof param);
    EXPECT_EQ(q7x_set_work_param(cam, &param), 36);
    EXPECT_EQ(receive(), command('C', body));
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
    Bytes config = command('A');
    config[4] = Q7X_STRATEGY_DISTANCE;
    deliver({identity("Q7X3161200000001", 4, 41), config});
    EXPECT_EQ(q7x_shutter(cam), -1);
    EXPECT_TRUE(contains(printed(), "q7x_shutter"));
    q7x_get_builddate(cam);
    EXPECT_EQ(receive(), request(0xFD)) << "the refused exposure was sent";
    config[4] = Q7X_STRATEGY_DEBUG;
    deliver({config});
    EXPECT_EQ(q7x_shutter(cam), 0);
    EXPECT_EQ(receive(), request(0x31));
}

TEST(CameraHandleLifetime, OutlivesItsLinkAsTheProgramFreesThem)
{
    const std::string printed = stdout_of([] {
        rvtele_module_init();
        rvtele_t *link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 9, TAVRIN_RING_CAPACITY);
        q7x_t *cam = q7x_alloc(link);
        rvtele_start(link);
        rvtele_stop(link);
        rvtele_free(link);
        const q7x_work_param_t param{};
        EXPECT_EQ(q7x_set_work_param(cam, &param), -1);
        q7x_free(cam);
        rvtele_module_exit();
    });
    for (int key : {'A', 'B', 'C', 'R'})
        EXPECT_TRUE(contains(printed, "Free processer: " + std::to_string(key) + " ")) << printed;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(SurveyCalculations, FlightParametersForTheQ7Sensor)
{
    EXPECT_NEAR(q7x_calc_alt_by_GSD(0.05f, 35), 448.718f, 0.0005f);
    EXPECT_FLOAT_EQ(q7x_calc_baseline(0.05f, 0.8f), 40.0f);
    EXPECT_FLOAT_EQ(q7x_calc_sidelap(0.05f, 0.7f), 90.0f);
    EXPECT_FLOAT_EQ(q7x_calc_gsd_by_alt(1000), 0.00065f);
}

TEST(GaussKrueger, ZonesAndCentralMeridians)
{
    double x = 0, y = 0;
    CoorGeo2XY(30, 117, &x, &y);
    EXPECT_NEAR(x, 3320172.41, 0.01);
    EXPECT_NEAR(y, 20500000, 1e-6);

    /* A zone border belongs to the zone east of it. */
    CoorGeo2XY(30, 120, &x, &y);
    EXPECT_EQ(std::floor(y / 1e6), 21);
    EXPECT_LT(y - 21e6, 500000) << "120 lies west of meridian 123";
    CoorGeo2XY(30, 119.999999, &x, &y);
    EXPECT_EQ(std::floor(y / 1e6), 20);
    EXPECT_GT(y - 20e6, 500000);
}

TEST(GaussKrueger, RoundTripsOverChinaIncludingZoneBorders)
{
    std::vector<double> longitudes;
    for (double lon = 73; lon <= 135; lon += 0.5)
        longitudes.push_back(lon);
    for (double border = 78; border <= 132; border += 6)
        longitudes.insert(longitudes.end(), {border - 1e-7, border + 1e-7});

    for (double lon : longitudes) {
        for (double lat = 18; lat <= 54; lat += 0.5) {
            double x = 0, y = 0, back_lat = kNaN, back_lon = kNaN;
            CoorGeo2XY(lat, lon, &x, &y);
            CoorXY2Geo(x, y, &back_lat, &back_lon);
            ASSERT_NEAR(back_lat, lat, 1e-5) << "at " << lat << ", " << lon;
            ASSERT_NEAR(back_lon, lon, 1e-5) << "at " << lat << ", " << lon;
        }
    }
}

struct Point {
    double lon;
    double lat;
};

Point move(Point from, double distance, double bearing)
{
    Point out{kNaN, kNaN};
    CalcNextPoint(from.lon, from.lat, distance, bearing, &out.lon, &out.lat);
    return out;
}

TEST(CalcNextPoint, BearingsAreClockwiseFromGridNorth)
{
    const Point north = move({117, 30}, 1000, 0);
    EXPECT_NEAR(north.lon, 117, 1e-9) << "on the central meridian grid north is true north";
    EXPECT_NEAR(north.lat - 30, 1000 / 110852.0, 1e-5);
    const Point east = move({117, 30}, 1000, 90);
    EXPECT_NEAR(east.lat, 30, 1e-5);
    EXPECT_NEAR(east.lon - 117, 1000 / (111320 * std::cos(30 * M_PI / 180)), 1e-4);
    EXPECT_LT(move({117, 30}, 1000, 180).lat, 30);
    EXPECT_LT(move({117, 30}, 1000, 270).lon, 117);

    /* Across a zone border the point is read back in the zone it started in. */
    const Point across = move({119.9, 30}, 20000, 90);
    EXPECT_NEAR(across.lon, 119.9 + 20000 / (111320 * std::cos(30 * M_PI / 180)), 0.005);
}

TEST(CalcNextPoint, AMoveAndItsOppositeReturnToTheStart)
{
    for (Point start : {Point{117, 30}, Point{115.2, 45}, Point{100.5, 22}, Point{130, 50}}) {
        for (double bearing : {0.0, 45.0, 90.0, 137.0, 200.0, 315.0}) {
            for (double distance : {10.0, 1000.0, 50000.0}) {
                const Point back = move(move(start, distance, bearing), distance, bearing + 180);
                EXPECT_NEAR(back.lon, start.lon, 2e-5) << distance << " m at " << bearing;
                EXPECT_NEAR(back.lat, start.lat, 2e-5) << distance << " m at " << bearing;
            }
        }
    }
}

TEST(Geodesy, NoFixOrBadInputLeavesTheOutputs)
{
    double a = 12.5, b = 7.25;
    EXPECT_EQ(stdout_of([&] { CalcNextPoint(0, 0, 100, 45, &a, &b); }), "")
        << "no fix is not an error";

    const double inf = std::numeric_limits<double>::infinity();
    const std::string printed = stdout_of([&] {
        CoorGeo2XY(kNaN, 117, &a, &b);
        CoorGeo2XY(90.5, 117, &a, &b);
        CoorGeo2XY(30, 1e300, &a, &b);
        CoorXY2Geo(3320172.41, inf, &a, &b);
        CoorXY2Geo(3320172.41, 1e15, &a, &b);
        CalcNextPoint(117, 30, kNaN, 45, &a, &b);
        CalcNextPoint(117, 30, 100, inf, &a, &b);
        CalcNextPoint(kNaN, 30, 100, 45, &a, &b);
        CoorGeo2XY(30, 117, nullptr, &b);
        CoorXY2Geo(3320172.41, 20500000, &a, nullptr);
        CalcNextPoint(117, 30, 100, 45, nullptr, &b);
    });
    EXPECT_EQ(a, 12.5);
    EXPECT_EQ(b, 7.25);
    for (const char *reason : {"CoorGeo2XY: latitude", "CoorXY2Geo: X", "CalcNextPoint: distance",
                               "CalcNextPoint: no place for the result"})
        EXPECT_TRUE(contains(printed, reason)) << reason << " in\n" << printed;

    /* Only both at 0 means no fix: the prime meridian alone is moved. */
    CalcNextPoint(0, 30, 100, 0, &a, &b);
    EXPECT_NEAR(a, 0, 1e-4);
    EXPECT_NEAR(b, 30 + 100 / 110852.0, 1e-5);
}

} // namespace
