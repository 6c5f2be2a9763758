/* Command-line options of the simulated camera. */
#ifndef Q7SIM_SIM_OPTIONS_H
#define Q7SIM_SIM_OPTIONS_H

#include <cstdint>
#include <string>

namespace q7sim {

/* Probabilities (0 to 1) of what may happen to each datagram the camera sends. */
struct FaultOptions {
    double loss = 0;                /* dropped */
    double duplicate = 0;           /* sent twice */
    double reorder = 0;             /* held back and sent after the next one */
    double garbage = 0;             /* preceded by bytes that form no frame */
    double corrupt = 0;             /* sent with a wrong checksum */
    double silent_after = -1;       /* seconds after the hello; then nothing is sent (< 0: never) */
    long silent_after_records = -1; /* POS records sent; then nothing is sent (< 0: never) */
    int silent_on = -1; /* sub-command of a command frame; from its arrival nothing is sent */
};

struct Options {
    std::string address = "127.0.0.1";
    uint16_t port = 8899; /* 0: any free port */
    std::string serial = "Q7A160800012345";
    int version_major = 4;
    int version_minor = 41;
    std::string release_date = "2016-08-25";
    int satellites = 12;
    unsigned faulty_cameras = 0; /* bit i: camera i + 1 is faulty */
    long exposures = 0;          /* photographs taken before the simulation starts */
    bool landing_gear = true;    /* the status frame's landing-gear signal */
    double status_rate = 4;      /* status rounds ('A', 'B', 'C') per second */
    double pos_rate = 4000;      /* POS records sent per second during a download */
    uint32_t seed = 1;
    bool verbose = false;
    std::string loader_image;  /* where the loader writes a complete, correct image */
    long loader_stall_at = -1; /* image bytes after which the loader is silent; < 0: never */
    int upgraded_major = -1;   /* firmware reported once the loader accepted an image */
    int upgraded_minor = -1;   /* (< 0: the version does not change) */
    int short_file = 0;        /* POS file (1 to 14) whose records stop half-way; 0: none */
    FaultOptions faults;
};

/*
 * Parse argv. Returns false and fills `error` on a bad option; `help` is set
 * when the usage text was asked for.
 */
bool parse_options(int argc, char **argv, Options &options, std::string &error, bool &help);
const char *usage_text();

} // namespace q7sim

#endif
