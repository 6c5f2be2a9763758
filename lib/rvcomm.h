/*
 * Byte transports behind one interface: a registry of transport tables keyed
 * by magic code, and transport handles that open, close, read and write.
 */
#ifndef TAVRIN_RVCOMM_H
#define TAVRIN_RVCOMM_H

#include <atomic>
#include <cstdint>
#include <netinet/in.h>

struct rvcomm;

/* Transport operations table: one static instance per transport. */
struct rvcomm_ops {
    int (*open)(rvcomm *comm);
    int (*close)(rvcomm *comm);
    int (*read)(rvcomm *comm, uint8_t *buf, int len);
    int (*write)(rvcomm *comm, const uint8_t *buf, int len);
    uint32_t magic_code;
    rvcomm_ops *next; /* registry ring */
    rvcomm_ops *prev;
    uint32_t refcount; /* live handles using this table */
};

/* A descriptor value that no open transport can have. */
constexpr int RVCOMM_CLOSED = -1;

struct rvcomm {
    uint32_t magic_code;
    rvcomm_ops *ops;
    uint32_t parameter; /* remote UDP port, or baud rate */
    char name[128];     /* camera IPv4 address, or serial device path */
    /* Open descriptor or RVCOMM_CLOSED; read by sending threads while the
     * controlling thread opens and closes it. */
    std::atomic<int> fd{RVCOMM_CLOSED};
    sockaddr_in peer{}; /* network: the camera's address and port */
};

/* Registry; changed by the telemetry module's init and exit. */
int rvcomm_ops_register(uint32_t magic_code, rvcomm_ops *ops);
rvcomm_ops *rvcomm_ops_find(uint32_t magic_code);
void rvcomm_ops_clear();

rvcomm *rvcomm_alloc(uint32_t magic_code, const char *name, uint32_t parameter);
int rvcomm_free(rvcomm *comm);
int rvcomm_open(rvcomm *comm);
int rvcomm_close(rvcomm *comm);
int rvcomm_read(rvcomm *comm, uint8_t *buf, int len);
int rvcomm_write(rvcomm *comm, const uint8_t *buf, int len);

/*
 * Wait up to timeout_ms for input. Returns 1 when a read will not block,
 * 0 on time-out, -1 when the transport is closed or has failed.
 */
int rvcomm_wait(rvcomm *comm, int timeout_ms);

/* The two transports' tables. */
rvcomm_ops *rvcomm_network_ops();
rvcomm_ops *rvcomm_serial_ops();

#endif
