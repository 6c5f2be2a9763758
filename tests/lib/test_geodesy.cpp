/* Survey calculations and Gauss-Krueger conversions. */
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(SurveyCalculations, FlightParametersForTheQ7Sensor)
{
    EXPECT_NEAR(q7x_calc_alt_by_GSD(0.05f, 35), 448.718f, 0.0005f);
    EXPECT_FLOAT_EQ(q7x_calc_baseline(0.05f, 0.8f), 40.0f);
    EXPECT_FLOAT_EQ(q7x_calc_sidelap(0.05f, 0.7f), 90.0f);
    /* Without overlap the base is the 4000 pixels along the track, the spacing the 6000 across. */
    EXPECT_FLOAT_EQ(q7x_calc_baseline(0.1f, 0), 400.0f);
    EXPECT_FLOAT_EQ(q7x_calc_sidelap(0.1f, 0), 600.0f);
    EXPECT_FLOAT_EQ(q7x_calc_gsd_by_alt(1000), 0.00065f);
}

TEST(GaussKrueger, ZonesAndCentralMeridians)
{
    double x = 0, y = 0, lat = 0, lon = 0;
    CoorGeo2XY(30, 117, &x, &y);
    EXPECT_NEAR(x, 3320172.41, 0.01);
    EXPECT_NEAR(y, 20500000, 1e-6);
    CoorXY2Geo(x, y, &lat, &lon);
    EXPECT_NEAR(lon, 117, 1e-9);
    EXPECT_NEAR(lat, 30, 1e-5);

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

    const Point still = move({113.25, 41.5}, 0, 57);
    EXPECT_NEAR(still.lon, 113.25, 1e-5);
    EXPECT_NEAR(still.lat, 41.5, 1e-5);

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
    testing::internal::CaptureStdout();
    CalcNextPoint(0, 0, 100, 45, &a, &b);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "no fix is not an error";

    testing::internal::CaptureStdout();
    CoorGeo2XY(kNaN, 117, &a, &b);
    CoorGeo2XY(95, 117, &a, &b);
    CoorGeo2XY(30, 1e300, &a, &b);
    CoorXY2Geo(3320172.41, std::numeric_limits<double>::infinity(), &a, &b);
    CoorXY2Geo(3320172.41, 1e15, &a, &b);
    CalcNextPoint(117, 30, kNaN, 45, &a, &b);
    CalcNextPoint(117, 30, 100, std::numeric_limits<double>::infinity(), &a, &b);
    CalcNextPoint(kNaN, 30, 100, 45, &a, &b);
    CoorGeo2XY(30, 117, nullptr, &b);
    CoorXY2Geo(3320172.41, 20500000, &a, nullptr);
    CalcNextPoint(117, 30, 100, 45, nullptr, &b);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(a, 12.5);
    EXPECT_EQ(b, 7.25);
    for (const char *reason : {"CoorGeo2XY: latitude", "CoorXY2Geo: X", "CalcNextPoint: distance",
                               "CalcNextPoint: no place for the result"})
        EXPECT_NE(printed.find(reason), std::string::npos) << reason << " in\n" << printed;

    /* Only both at 0 means no fix: the prime meridian alone is moved. */
    CalcNextPoint(0, 30, 100, 0, &a, &b);
    EXPECT_NEAR(a, 0, 1e-4);
    EXPECT_NEAR(b, 30 + 100 / 110852.0, 1e-5);
}

} // namespace
