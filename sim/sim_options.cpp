#include "sim_options.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <sstream>

namespace q7sim {

namespace {

bool to_double(const std::string &text, double low, double high, double &out)
{
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool to_long(const std::string &text, long low, long high, long &out, int base = 0)
{
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, base);
    if (text.empty() || *end != '\0' || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool parse_version(const std::string &text, Options &options)
{
    const auto dot = text.find('.');
    long major = 0;
    long minor = 0;
    /* Decimal: a leading zero ("4.08") is not an octal number. */
    if (dot == std::string::npos || !to_long(text.substr(0, dot), 0, 255, major, 10) ||
        !to_long(text.substr(dot + 1), 0, 255, minor, 10))
        return false;
    options.version_major = static_cast<int>(major);
    options.version_minor = static_cast<int>(minor);
    return true;
}

bool parse_cameras(const std::string &text, unsigned &mask)
{
    mask = 0;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        long camera = 0;
        if (!to_long(item, 1, 5, camera))
            return false;
        mask |= 1u << (camera - 1);
    }
    return true;
}

} // namespace

const char *usage_text()
{
    return "usage: q7sim [options]\n"
           "  --address A         listen on IPv4 address A (default 127.0.0.1)\n"
           "  --port P            UDP port (default 8899; 0 picks a free one)\n"
           "  --serial S          serial number, 15 characters (third 'X': a Q7X camera)\n"
           "  --firmware M.N      firmware version (default 4.41)\n"
           "  --release-date D    release date, 10 characters (default 2016-08-25)\n"
           "  --satellites N      satellites in view (default 12)\n"
           "  --faulty 1,3        still cameras that are at fault\n"
           "  --exposures N       photographs taken before the start (default 0)\n"
           "  --no-landing-gear   report no landing-gear signal\n"
           "  --rate HZ           status rounds per second (default 4)\n"
           "  --pos-rate N        POS records sent per second in a download (default 4000)\n"
           "  --loss P            probability that a datagram is lost\n"
           "  --duplicate P       probability that a datagram is sent twice\n"
           "  --reorder P         probability that a datagram is sent after the next\n"
           "  --garbage P         probability of bytes forming no frame before a datagram\n"
           "  --corrupt P         probability of a wrong checksum\n"
           "  --silent-after S    fall silent S seconds after the hello\n"
           "  --silent-after-records N  fall silent once N POS records have been sent\n"
           "  --silent-on XX      fall silent when a command with sub-command XX (hex: 34 work\n"
           "                      parameters, 31 test exposure, 26 POS slot) arrives, unanswered\n"
           "  --short-file N      POS file N ends half-way: its last records never come\n"
           "  --seed N            seed of the fault generator (default 1)\n"
           "  --verbose           log every frame received\n"
           "  --loader-image F    write each firmware image the loader accepts to file F\n"
           "  --loader-stall-at N the loader answers no more once N bytes of an image have\n"
           "                      arrived (0: it takes the announce, then acknowledges nothing)\n"
           "  --upgraded-firmware M.N  the firmware reported once the loader took an image\n"
           "The listening address and port are printed on the first line of standard output.\n";
}

bool parse_options(int argc, char **argv, Options &options, std::string &error, bool &help)
{
    help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            help = true;
            return true;
        }
        if (name == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (name == "--no-landing-gear") {
            options.landing_gear = false;
            continue;
        }
        if (i + 1 >= argc) {
            error = "option " + name + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        long number = 0;
        bool ok = true;
        if (name == "--address") {
            in_addr probe{};
            ok = inet_pton(AF_INET, value.c_str(), &probe) == 1;
            options.address = value;
        } else if (name == "--port") {
            ok = to_long(value, 0, 65535, number);
            options.port = static_cast<uint16_t>(number);
        } else if (name == "--serial") {
            ok = value.size() == 15;
            options.serial = value;
        } else if (name == "--firmware") {
            ok = parse_version(value, options);
        } else if (name == "--release-date") {
            ok = value.size() == 10;
            options.release_date = value;
        } else if (name == "--satellites") {
            ok = to_long(value, 0, 255, number);
            options.satellites = static_cast<int>(number);
        } else if (name == "--exposures") {
            ok = to_long(value, 0, 65535, options.exposures);
        } else if (name == "--faulty") {
            ok = parse_cameras(value, options.faulty_cameras);
        } else if (name == "--rate") {
            ok = to_double(value, 0.1, 1000, options.status_rate);
        } else if (name == "--pos-rate") {
            ok = to_double(value, 1, 1e6, options.pos_rate);
        } else if (name == "--loss") {
            ok = to_double(value, 0, 1, options.faults.loss);
        } else if (name == "--duplicate") {
            ok = to_double(value, 0, 1, options.faults.duplicate);
        } else if (name == "--reorder") {
            ok = to_double(value, 0, 1, options.faults.reorder);
        } else if (name == "--garbage") {
            ok = to_double(value, 0, 1, options.faults.garbage);
        } else if (name == "--corrupt") {
            ok = to_double(value, 0, 1, options.faults.corrupt);
        } else if (name == "--silent-after") {
            ok = to_double(value, 0, 1e9, options.faults.silent_after);
        } else if (name == "--silent-after-records") {
            ok = to_long(value, 0, 0x7fffffff, number);
            options.faults.silent_after_records = number;
        } else if (name == "--silent-on") {
            ok = to_long(value, 0, 255, number, 16);
            options.faults.silent_on = static_cast<int>(number);
        } else if (name == "--short-file") {
            ok = to_long(value, 1, 14, number);
            options.short_file = static_cast<int>(number);
        } else if (name == "--loader-image") {
            ok = !value.empty();
            options.loader_image = value;
        } else if (name == "--upgraded-firmware") {
            Options upgraded;
            ok = parse_version(value, upgraded);
            options.upgraded_major = upgraded.version_major;
            options.upgraded_minor = upgraded.version_minor;
        } else if (name == "--loader-stall-at") {
            ok = to_long(value, 0, 0x7fffffff, options.loader_stall_at);
        } else if (name == "--seed") {
            ok = to_long(value, 0, 0x7fffffff, number);
            options.seed = static_cast<uint32_t>(number);
        } else {
            error = "unknown option " + name;
            return false;
        }
        if (!ok) {
            error = "bad value '" + value + "' for " + name;
            return false;
        }
    }
    return true;
}

} // namespace q7sim
