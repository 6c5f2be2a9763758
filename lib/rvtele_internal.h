/* Library-internal side of the telemetry link, used by the other modules. */
#ifndef TAVRIN_RVTELE_INTERNAL_H
#define TAVRIN_RVTELE_INTERNAL_H

#include "tavrin/tavrin.h"

#include <cstdint>

/* Send bytes as one datagram. The transport's result; -1 for no link or bytes. */
int rvtele_send(rvtele_t *tele, const uint8_t *bytes, int length);

/*
 * Bytes that arrived on the link (one datagram): into the ring buffer, then every whole
 * frame cut out of it goes to the processors. The receive thread calls it per datagram.
 */
void rvtele_receive(rvtele_t *tele, const uint8_t *bytes, uint32_t length);

/* Command-frame (key kind 1) processors: the letter in byte 3. */
int register_rvtele_processer(rvtele_t *tele, uint8_t key, rvtele_processer_fn callback,
                              void *context);
int unregister_rvtele_processer(rvtele_t *tele, uint8_t key);

/*
 * The record lives while it has holders: the program (until rvtele_free) and
 * every camera handle, POS manager and upgrader attached to it.
 */
void rvtele_ref(rvtele_t *tele);
void rvtele_unref(rvtele_t *tele);

#endif
