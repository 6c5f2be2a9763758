/*
 * Survey calculations for the camera's 6000 x 4000 sensor (3.9 um pixels) and
 * Gauss-Krueger conversions in 6-degree zones on the Krasovsky 1940
 * ellipsoid, with the constants the camera's POS tools have always used (the
 * forward and inverse conversions use slightly different values of pi).
 */
#include "tavrin/tavrin.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double PIXEL_PITCH_UM = 3.9;
constexpr double SENSOR_ACROSS_PX = 6000;
constexpr double SENSOR_ALONG_PX = 4000;

constexpr double PI_FORWARD = 3.14159265358979;
constexpr double PI_INVERSE = 3.14159265358975;
constexpr double DEGREES_PER_RADIAN = 57.2957795131;
constexpr double ARCSEC_PER_RADIAN = 206264.8062471;
constexpr double ARCSEC_PER_ZONE = 21600; /* 6 degrees */

constexpr double EP2 = 0.006738525414683497; /* second eccentricity squared */
constexpr double POLAR_RADIUS = 6399698.901782711;

constexpr double ARC_A0 = 6367558.49687;
constexpr double ARC_A2 = 32005.7801;
constexpr double ARC_A4 = 133.9213;
constexpr double ARC_A6 = 0.7032;

constexpr double FOOT_K0 = 0.00000015704604612199998;
constexpr double FOOT_K1 = 0.005051773902;
constexpr double FOOT_K2 = 0.00002983868;
constexpr double FOOT_K3 = 0.0000002415;
constexpr double FOOT_K4 = 0.0000000022;

constexpr double FALSE_EASTING = 500000;
constexpr double ZONE_PREFIX = 1000000;

/* Plane coordinates with a zone number beyond this are not coordinates. */
constexpr double MAX_ABS_Y = 1e9;

/* Longitude of the central meridian of zone n, in arc-seconds. */
double central_meridian_arcsec(int zone)
{
    return (6.0 * zone - 3) * 3600;
}

bool geo_to_xy(double lat, double lon, double &x, double &y)
{
    if (!std::isfinite(lat) || !std::isfinite(lon) || std::fabs(lat) > 90 || std::fabs(lon) > 360) {
        printf("Error: CoorGeo2XY: latitude %g, longitude %g out of range.\n", lat, lon);
        return false;
    }
    const double B = lat * PI_FORWARD / 180;
    const double L = lon * PI_FORWARD / 180;
    const double sinB = std::sin(B);
    const double cosB = std::cos(B);
    const double t = std::tan(B);
    const double t2 = t * t;
    const double eta2 = EP2 * cosB * cosB;
    const double N = POLAR_RADIUS / std::sqrt(1 + eta2);

    const int zone = static_cast<int>(L * ARCSEC_PER_RADIAN / ARCSEC_PER_ZONE) + 1;
    const double l = L - central_meridian_arcsec(zone) / ARCSEC_PER_RADIAN;
    const double m = l * cosB;
    const double m2 = m * m;

    const double sin3 = sinB * sinB * sinB;
    const double sin5 = sin3 * sinB * sinB;
    const double X0 = ARC_A0 * B - (ARC_A2 * sinB + ARC_A4 * sin3 + ARC_A6 * sin5) * cosB;

    x = X0 + N * t * m2 / 2 + (5 - t2 + 9 * eta2 + 4 * eta2 * eta2) * N * t * m2 * m2 / 24 +
        (61 - 58 * t2 + t2 * t2) * N * t * m2 * m2 * m2 / 720;
    y = ZONE_PREFIX * zone + FALSE_EASTING + N * m + (1 - t2 + eta2) * N * m2 * m / 6 +
        (5 - 18 * t2 + t2 * t2 + 14 * eta2 - 58 * eta2 * t2) * N * m2 * m2 * m / 120;
    return true;
}

bool xy_to_geo(double x, double y, double &lat, double &lon)
{
    if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(y) >= MAX_ABS_Y) {
        printf("Error: CoorXY2Geo: X %g, Y %g out of range.\n", x, y);
        return false;
    }
    const int zone = static_cast<int>(y * 0.000001);
    const double east = y - zone * ZONE_PREFIX - FALSE_EASTING;

    const double beta = x * FOOT_K0;
    const double sb = std::sin(beta);
    const double sb2 = sb * sb;
    const double Bf = beta + (FOOT_K1 * sb - FOOT_K2 * sb2 * sb + FOOT_K3 * sb2 * sb2 * sb -
                              FOOT_K4 * sb2 * sb2 * sb2 * sb) *
                                 std::cos(beta);

    const double cosBf = std::cos(Bf);
    const double t = std::tan(Bf);
    const double t2 = t * t;
    const double eta2 = EP2 * cosBf * cosBf;
    const double V2 = 1 + eta2;
    const double N = POLAR_RADIUS / std::sqrt(V2);
    const double u = east / N;
    const double u2 = u * u;

    const double B = Bf - u2 * V2 * t / 2 +
                     u2 * u2 * (5 + 3 * t2 + eta2 - 9 * eta2 * t2) * V2 * t / 24 -
                     u2 * u2 * u2 * (61 + 90 * t2 + 45 * t2 * t2) * V2 * t / 720;
    const double l =
        u / cosBf - u2 * u * (1 + 2 * t2 + eta2) / (6 * cosBf) +
        u2 * u2 * u * (5 + 28 * t2 + 24 * t2 * t2 + 6 * eta2 + 8 * eta2 * t2) / (120 * cosBf);
    const double L = l + central_meridian_arcsec(zone) / ARCSEC_PER_RADIAN;

    lat = B * 180 / PI_INVERSE;
    lon = L * 180 / PI_INVERSE;
    return true;
}

} // namespace

extern "C" {

TAVRIN_API float q7x_calc_alt_by_GSD(float gsd, double focal_mm)
{
    return static_cast<float>(gsd * focal_mm * 1000 / PIXEL_PITCH_UM);
}

TAVRIN_API float q7x_calc_gsd_by_alt(float altitude)
{
    return static_cast<float>(altitude * PIXEL_PITCH_UM / 6000000);
}

TAVRIN_API float q7x_calc_baseline(float gsd, float overlap)
{
    return static_cast<float>(static_cast<double>(gsd) * SENSOR_ALONG_PX *
                              (1 - static_cast<double>(overlap)));
}

TAVRIN_API float q7x_calc_sidelap(float gsd, float overlap)
{
    return static_cast<float>(static_cast<double>(gsd) * SENSOR_ACROSS_PX *
                              (1 - static_cast<double>(overlap)));
}

TAVRIN_API void CoorGeo2XY(double lat, double lon, double *x, double *y)
{
    if (!x || !y) {
        printf("Error: CoorGeo2XY: no place for the result.\n");
        return;
    }
    double X;
    double Y;
    if (!geo_to_xy(lat, lon, X, Y))
        return;
    *x = X;
    *y = Y;
}

TAVRIN_API void CoorXY2Geo(double x, double y, double *lat, double *lon)
{
    if (!lat || !lon) {
        printf("Error: CoorXY2Geo: no place for the result.\n");
        return;
    }
    double B;
    double L;
    if (!xy_to_geo(x, y, B, L))
        return;
    *lat = B;
    *lon = L;
}

TAVRIN_API void CalcNextPoint(double lon, double lat, double distance, double bearing,
                              double *out_lon, double *out_lat)
{
    /* A position of exactly 0, 0 is the camera's "no fix": nothing to move. */
    if (lon == 0 && lat == 0)
        return;
    if (!out_lon || !out_lat) {
        printf("Error: CalcNextPoint: no place for the result.\n");
        return;
    }
    if (!std::isfinite(distance) || !std::isfinite(bearing)) {
        printf("Error: CalcNextPoint: distance %g or bearing %g is not a number.\n", distance,
               bearing);
        return;
    }
    double X;
    double Y;
    if (!geo_to_xy(lat, lon, X, Y))
        return;
    const double theta = bearing / DEGREES_PER_RADIAN;
    double moved_lat;
    double moved_lon;
    if (!xy_to_geo(X + distance * std::cos(theta), Y + distance * std::sin(theta), moved_lat,
                   moved_lon))
        return;
    *out_lat = moved_lat;
    *out_lon = moved_lon;
}

} // extern "C"
