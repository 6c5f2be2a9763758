/*
 * Tavrin: the link between the ground program and the Q7 oblique survey camera.
 *
 * This is the library's one public header. It declares the records that the
 * program and the library share (telemetry handle, camera handle, POS transfer
 * manager and its file entry) and every exported function. It compiles as C99
 * and as C++.
 *
 * Conventions
 * - Results are 0 for success and -1 for failure unless a function says
 *   otherwise; the reason of a failure is printed to standard output where it
 *   happens.
 * - Handles are created by *_alloc, *_init or *_request and released by
 *   *_free or *_exit; every release function accepts NULL and then does
 *   nothing.
 * - Fields of the shared records that the receive thread writes are meant to
 *   be read with relaxed atomic loads (std::atomic_ref in C++, __atomic_load_n
 *   in C); each such field is written whole.
 * - Multi-byte fields of wire records (work parameters) are little-endian, as
 *   on the wire; the library supports little-endian hosts only.
 */
#ifndef TAVRIN_TAVRIN_H
#define TAVRIN_TAVRIN_H

#include <stdint.h>
#include <stdio.h>

#if defined(TAVRIN_BUILDING)
#define TAVRIN_API __attribute__((visibility("default")))
#else
#define TAVRIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Telemetry link                                                           */
/* ------------------------------------------------------------------------ */

/** Magic code of the UDP datagram transport ('N'). */
#define RVCOMM_MAGIC_NETWORK 78u
/** Magic code of the serial-port transport ('S'). */
#define RVCOMM_MAGIC_SERIAL 83u

/** UDP port of the camera. */
#define TAVRIN_CAMERA_PORT 8899u
/** Ring buffer capacity the program uses for a link. */
#define TAVRIN_RING_CAPACITY 4096u

/** Frame synchronisation bytes. */
#define RVTELE_SYNC0 0xEBu
#define RVTELE_SYNC1 0x90u
/** Length of a command frame. */
#define RVTELE_COMMAND_FRAME_LEN 36

/**
 * Telemetry handle: one link to one camera.
 *
 * Only `loader_status` is meant to be read by callers (relaxed atomic load);
 * the rest belongs to the library.
 */
typedef struct rvtele {
    struct rvbuffer *buffer;    /**< ring buffer (library-private) */
    struct rvcomm *comm;        /**< byte transport (library-private) */
    struct rvtele_state *state; /**< receive thread and processors (library-private) */
    uint32_t loader_status;     /**< written by the firmware upgrader on the receive thread */
} rvtele_t;

/**
 * Frame processor callback.
 *
 * Called on the receive thread with the whole frame (sync bytes to checksum)
 * in a buffer that is valid only during the call. Return 0 when the frame was
 * handled; any other value lets processors registered earlier see it.
 * A callback must not register or unregister processors of its own link.
 */
typedef int (*rvtele_processer_fn)(void *context, const uint8_t *frame, int length);

/**
 * Prepare the transport registry (serial, then network). Call once before
 * rvtele_alloc, on the controlling thread.
 * @return 0
 */
TAVRIN_API int rvtele_module_init(void);

/**
 * Empty the transport registry. Prints a warning for a transport that still
 * has live handles. Harmless when the registry is already empty.
 */
TAVRIN_API void rvtele_module_exit(void);

/**
 * Create an idle link.
 * @param magic_code  RVCOMM_MAGIC_NETWORK or RVCOMM_MAGIC_SERIAL
 * @param name        camera IPv4 address (network) or device path (serial),
 *                    at most 126 characters; copied
 * @param parameter   remote UDP port (network) or baud rate (serial)
 * @param ring_capacity bytes of the receive ring buffer (> 0)
 * @return the handle, or NULL (unknown transport, name too long, no memory)
 */
TAVRIN_API rvtele_t *rvtele_alloc(uint32_t magic_code, const char *name, uint32_t parameter,
                                  uint32_t ring_capacity);

/**
 * Release a link: stops it if it runs, closes and releases its transport and
 * ring buffer. The record itself stays valid for the camera handle, POS
 * manager and firmware upgrader still attached to it; it is released when the
 * last of them lets go (q7x_free, posfile_manager_exit, rvupgrader_request of
 * another link).
 * @return 0; -1 for NULL
 */
TAVRIN_API int rvtele_free(rvtele_t *tele);

/**
 * Open the transport, start the receive thread and greet the camera with the
 * hello frame. Starting a started link does nothing and returns 0.
 * @return 0; -1 when the transport cannot be opened or the thread cannot start
 */
TAVRIN_API int rvtele_start(rvtele_t *tele);

/**
 * Stop the receive thread (joined; returns within about 100 ms) and close the
 * transport. Harmless on a stopped link; the link may be started again.
 * Must not be called from a frame processor.
 * @return 0; -1 for NULL
 */
TAVRIN_API int rvtele_stop(rvtele_t *tele);

/**
 * Register a processor for addressed frames whose message id (byte 7) is
 * `key`. Later registrations see a frame first. Serialised with dispatch.
 * @return 0; -1 for no handle, no callback or no memory
 */
TAVRIN_API int register_rvtele_processer_v2(rvtele_t *tele, uint8_t key,
                                            rvtele_processer_fn callback, void *context);

/**
 * Remove every addressed-frame processor registered for `key`. When this
 * returns, none of them runs or will run.
 * @return the number removed; -1 for no handle or a link without processors
 */
TAVRIN_API int unregister_rvtele_processer_v2(rvtele_t *tele, uint8_t key);

/* ------------------------------------------------------------------------ */
/* Camera handle                                                            */
/* ------------------------------------------------------------------------ */

/** Strategy kinds (work-parameter byte 0 and the camera's mode). */
enum q7x_strategy {
    Q7X_STRATEGY_DEBUG = 1,
    Q7X_STRATEGY_TIMED = 2,
    Q7X_STRATEGY_DISTANCE = 3,
    Q7X_STRATEGY_PWM = 4,
    Q7X_STRATEGY_IO = 5,
    Q7X_STRATEGY_EDGE = 6
};

/** Work-parameter record: 24 bytes exchanged with the camera byte for byte. */
typedef struct q7x_work_param {
    uint8_t strategy;        /**< 0: strategy kind, enum q7x_strategy */
    uint8_t activation;      /**< 1: 1 landing gear, 2 external level, 3 power-on delay, 4 height, 5
                                manual delay */
    uint8_t reserved2[2];    /**< 2-3: kept as the camera reported them */
    uint8_t external_level;  /**< 4: 1 high, 0 low */
    uint8_t reserved5;       /**< 5: kept as the camera reported it */
    uint16_t power_on_delay; /**< 6-7: seconds */
    uint16_t activation_height; /**< 8-9: metres */
    uint16_t manual_delay;      /**< 10-11: seconds */
    uint8_t pwm_pulse_time;     /**< 12: tenths of a millisecond */
    uint8_t pwm_period;         /**< 13: tenths of a millisecond */
    uint16_t pwm_duration;      /**< 14-15: milliseconds */
    uint8_t io_level;           /**< 16: 1 high, 0 low */
    uint8_t edge;               /**< 17: 1 rising, 0 falling */
    uint16_t io_duration;       /**< 18-19: milliseconds */
    uint16_t timed_interval;    /**< 20-21: tenths of a second */
    uint16_t distance_interval; /**< 22-23: tenths of a metre */
} q7x_work_param_t;

/** Flags of the camera handle. */
#define Q7X_FLAG_VALID                                                                             \
    0x01u /**< a status, position, configuration or identity frame was handled                     \
           */
#define Q7X_FLAG_GPS_FIX 0x02u /**< byte 33 of the last position frame was not 0 */

/**
 * Camera handle. Written by the receive thread, read by the program; read the
 * fields with relaxed atomic loads (text fields byte by byte, or through the
 * getters).
 */
typedef struct q7x {
    rvtele_t *link;
    uint32_t flags;                  /**< Q7X_FLAG_* */
    uint32_t status_byte34;          /**< 'C' byte 34 */
    uint32_t status_word8;           /**< 'C' bytes 8-9 */
    uint32_t total_exposures;        /**< 'C' bytes 5-6 */
    uint32_t status_byte12;          /**< 'C' byte 12 */
    double status_value13;           /**< 'C' bytes 13-14 x 0.1 */
    uint32_t status_byte29;          /**< 'C' byte 29 */
    double status_value30;           /**< 'C' bytes 30-31 x 0.1 */
    uint32_t satellites;             /**< 'B' byte 16 */
    uint32_t position_byte17;        /**< 'B' byte 17 */
    double coordinate1;              /**< 'B' bytes 4-7 x 1e-6, degrees */
    double coordinate2;              /**< 'B' bytes 8-11 x 1e-6, degrees */
    double height;                   /**< 'B' bytes 14-15 */
    float position_value18;          /**< 'B' bytes 18-19 / 5 */
    float position_value20;          /**< 'B' bytes 20-21 / 5 */
    q7x_work_param_t reported_param; /**< 'A' bytes 8-31 */
    q7x_work_param_t sent_param;     /**< last record passed to q7x_set_work_param */
    uint16_t mode;                   /**< 'A' byte 4: strategy kind in force */
    uint16_t exposure_counts[5];     /**< 'C' bytes 15-24, cameras 1 to 5 */
    uint8_t model_flag;              /**< 2 for "Q7X"-kind serial numbers, 1 otherwise, 0 unknown */
    uint8_t config_byte5;            /**< 'A' byte 5 */
    uint16_t config_word6;           /**< 'A' bytes 6-7 */
    float position_value22;          /**< 'B' byte 22 / 5 */
    uint8_t status_byte32;           /**< 'C' byte 32 */
    uint8_t config_byte34;           /**< 'A' byte 34 */
    uint8_t position_byte34;         /**< 'B' byte 34 */
    uint8_t status_byte34_copy;      /**< 'C' byte 34 */
    char serial_number[16];          /**< 15 characters, NUL-terminated */
    uint8_t version_major;
    uint8_t version_minor;
    uint8_t fault_mask;    /**< bits 0-4, cameras 1 to 5; meaning depends on the firmware */
    uint16_t option_word;  /**< 'C' bytes 27-28 */
    char release_date[11]; /**< 10 characters, NUL-terminated */
    uint8_t self_check;    /**< bit 7 of 'C' byte 25 (firmware 4.41 and later) */
    uint32_t index;        /**< 'A', 'B' and 'C' frames handled */
} q7x_t;

/**
 * Create the camera handle of a link and register its frame processors.
 * Call after rvtele_alloc and before rvtele_start.
 * @return the handle, or NULL
 */
TAVRIN_API q7x_t *q7x_alloc(rvtele_t *tele);

/** Unregister the handle's processors and release it. NULL is a no-op. */
TAVRIN_API void q7x_free(q7x_t *cam);

/**
 * Remember `param` as the sent work parameters and send them to the camera.
 * @return the send result: 36 when sent, -1 on failure
 */
TAVRIN_API int q7x_set_work_param(q7x_t *cam, const q7x_work_param_t *param);

/** Switch the work mode on (non-zero) or off. @return 0 */
TAVRIN_API int q7x_change_work_mode(q7x_t *cam, int on);

/**
 * Fire one test exposure on all five cameras.
 * @return 0; -1 without sending for a model-2 camera outside debug mode
 */
TAVRIN_API int q7x_shutter(q7x_t *cam);

/** Ask for serial number, firmware version and release date. @return 0 */
TAVRIN_API int q7x_get_version(q7x_t *cam);

/** Ask for the release date. @return 0 */
TAVRIN_API int q7x_get_builddate(q7x_t *cam);

/** @return the frame index; 0 for NULL */
TAVRIN_API uint32_t q7x_get_index(q7x_t *cam);

/** @return the mode in force; 0 for NULL */
TAVRIN_API int q7x_get_mode(q7x_t *cam);

/** @return the reported timed interval, tenths of a second; 0 for NULL */
TAVRIN_API int q7x_get_fixtime(q7x_t *cam);

/** Copy the reported work parameters into `dst`. @return dst */
TAVRIN_API q7x_work_param_t *q7x_get_work_param(q7x_work_param_t *dst, q7x_t *cam);

/** @return 1 once any camera frame was handled, else 0 */
TAVRIN_API int q7x_get_valid(q7x_t *cam);

/**
 * How many frames of one letter the handle (made by q7x_alloc) has decoded:
 * 'A' configuration, 'B' position, 'C' status, 'R' identity answers. Any
 * thread. A caller that needs a report made after some event compares the
 * counts before and after.
 * @return the count; 0 for NULL or another letter
 */
TAVRIN_API uint32_t q7x_get_frame_count(q7x_t *cam, int letter);

/* ------------------------------------------------------------------------ */
/* Survey calculations and geodesy                                          */
/* ------------------------------------------------------------------------ */

/** Flight altitude in metres for a ground sample distance (m) and focal length (mm). */
TAVRIN_API float q7x_calc_alt_by_GSD(float gsd, double focal_mm);
/** Ground sample distance in metres at an altitude (m). */
TAVRIN_API float q7x_calc_gsd_by_alt(float altitude);
/** Photo base in metres for a GSD (m) and forward overlap (fraction). */
TAVRIN_API float q7x_calc_baseline(float gsd, float overlap);
/** Line spacing in metres for a GSD (m) and side overlap (fraction). */
TAVRIN_API float q7x_calc_sidelap(float gsd, float overlap);

/** Geographic (degrees) to Gauss-Krueger 6-degree zone plane coordinates. */
TAVRIN_API void CoorGeo2XY(double lat, double lon, double *x, double *y);
/** Gauss-Krueger plane coordinates to geographic (degrees). */
TAVRIN_API void CoorXY2Geo(double x, double y, double *lat, double *lon);
/**
 * Move a point `distance` metres along `bearing` (degrees clockwise from grid
 * north). A point at longitude and latitude 0 leaves the outputs untouched.
 */
TAVRIN_API void CalcNextPoint(double lon, double lat, double distance, double bearing,
                              double *out_lon, double *out_lat);

/* ------------------------------------------------------------------------ */
/* POS file transfer and tables                                             */
/* ------------------------------------------------------------------------ */

#define POSFILE_MAX_FILES 14
#define POSFILE_END_MARKER 255

#if defined(__GNUC__)
#define TAVRIN_PACKED __attribute__((packed))
#else
#define TAVRIN_PACKED
#endif

/** One POS file of the camera: 31 bytes, numbers in host order. */
typedef struct TAVRIN_PACKED posfile_entry {
    uint8_t number; /**< 1 to 14 */
    uint32_t start_address;
    uint32_t start_address2;
    uint8_t start_time[6]; /**< UTC: year - 2000, month, day, hour, minute, second */
    uint32_t end_address;  /**< end - start = size in bytes */
    uint32_t end_address2;
    uint8_t end_time[6];
    uint8_t download_count;
    uint8_t reserved; /**< 'P' frame byte 34 */
} posfile_entry_t;

/** Transfer states of the POS manager. */
enum posfile_transfer_state {
    POSFILE_IDLE = 0,
    POSFILE_WANT_NEXT = 1,
    POSFILE_REQUESTED = 2,
    POSFILE_FINISHED = 3
};

/** Activity flag value set by the firmware upgrade while it runs. */
#define POSFILE_ACTIVITY_UPGRADE 2u

/**
 * POS transfer manager. Fields marked "caller" are set by the program;
 * the others are written by the receive thread (read them with relaxed
 * atomic loads). Read file entries through posfile_info_get.
 */
typedef struct posfile_manager {
    posfile_entry_t files[POSFILE_MAX_FILES]; /**< entry n-1 describes file n */
    uint32_t valid_mask;                      /**< bit n-1: entry n filled; cleared by the caller */
    FILE *main_table;                         /**< table of the current download, or NULL */
    rvtele_t *link;
    uint8_t transfer_state;   /**< enum posfile_transfer_state */
    uint32_t bytes_received;  /**< record bytes accepted for the current file */
    uint32_t current_file;    /**< caller */
    uint32_t expected_size;   /**< caller */
    uint32_t end_marker_flag; /**< caller: 1 lets the end marker finish the transfer */
    uint32_t lens_mode;       /**< caller: 1 also writes the five per-lens tables */
    FILE *lens_tables[5];     /**< caller: Front, Right, Back, Left, Center */
    uint32_t activity;        /**< 1 after a record frame; 2 during a firmware upgrade */
    uint32_t record_counter;  /**< record frames processed */
} posfile_manager_t;

TAVRIN_API posfile_manager_t *posfile_manager_init(rvtele_t *tele);
TAVRIN_API void posfile_manager_exit(posfile_manager_t *mgr);
TAVRIN_API int posfile_info_request(posfile_manager_t *mgr, int file_number);
TAVRIN_API int posfile_info_get(posfile_manager_t *mgr, int file_number, posfile_entry_t *entry);
/**
 * Forget file entry `file_number` (1 to 14), or every entry and the whole
 * valid mask for 0, serialised with the receive thread that fills them. Call
 * it instead of writing the file table, before a fresh listing or after a
 * file was removed.
 * @return 0; -1 for no manager or a number outside 0 to 14
 */
TAVRIN_API int posfile_info_clear(posfile_manager_t *mgr, int file_number);
TAVRIN_API int posfile_file_request(posfile_manager_t *mgr, int file_number,
                                    const char *table_path);
TAVRIN_API int posfile_file_request_offset(posfile_manager_t *mgr, int file_number,
                                           const char *table_path, uint32_t expected_size,
                                           int record_size);
TAVRIN_API int posfile_file_cancelRequest(posfile_manager_t *mgr);
TAVRIN_API int posfile_file_success(posfile_manager_t *mgr, int file_number);
TAVRIN_API int posfile_file_remove(posfile_manager_t *mgr, int file_number);
TAVRIN_API int posfile_file_remove_all(posfile_manager_t *mgr);
TAVRIN_API uint32_t posfile_process(posfile_manager_t *mgr);

TAVRIN_API int posfile_ofrm_openfile(posfile_manager_t *mgr, const char *path);
TAVRIN_API int posfile_ofrm_openfile_offset(posfile_manager_t *mgr, const char *path,
                                            int record_size);
TAVRIN_API int _ofrm_closefile(posfile_manager_t *mgr);
TAVRIN_API void _ofrm_initexcelhead(FILE *stream);
TAVRIN_API void _ofrm_initexcelhead_offset(FILE *stream, int record_size);
TAVRIN_API void _ofrm_initexcelheadoffsetsingle(FILE *stream);
TAVRIN_API int16_t _posfile_big2littles(uint32_t value);
TAVRIN_API int16_t _posfile_big2littleus(uint32_t value);
TAVRIN_API int32_t __posfile_big2littlel(uint32_t value);
TAVRIN_API int32_t __posfile_big2littleul(uint32_t value);
TAVRIN_API void _utc2localtime(uint8_t *year, uint8_t *month, uint8_t *day, uint8_t *hour,
                               uint8_t *minute, uint8_t *second);

/* ------------------------------------------------------------------------ */
/* Firmware upgrader                                                        */
/* ------------------------------------------------------------------------ */

/** Message id of the controller's loader. */
#define RVUPGRADER_MSG_ID 0xF1u

enum rvupgrader_stage {
    RVUPGRADER_IDLE = 0,
    RVUPGRADER_GOTO_LOADER = 1,
    RVUPGRADER_ANNOUNCE = 2,
    RVUPGRADER_UPGRADING = 3,
    RVUPGRADER_OVER = 4,
    RVUPGRADER_DONE = 5,
    RVUPGRADER_FAILED = 6
};

/** The library's one upgrader context (opaque). */
typedef struct rvupgrader rvupgrader_t;

/** Length and CRC-16/ARC of a firmware file. */
typedef struct rvupgrader_fileinfo {
    uint32_t length;
    uint32_t crc;
} rvupgrader_fileinfo_t;

TAVRIN_API rvupgrader_t *rvupgrader_request(rvtele_t *tele, uint8_t msg_id);
TAVRIN_API int rvupgrader_prepare_firmware(rvupgrader_t *up, const char *path, uint8_t announce1,
                                           uint8_t announce2, const char *tag);
TAVRIN_API int rvupgrader_start(rvupgrader_t *up);
TAVRIN_API int rvupgrader_restart(rvupgrader_t *up);
TAVRIN_API int rvupgrader_stop(rvupgrader_t *up);
TAVRIN_API int rvupgrader_get_stage(rvupgrader_t *up);
TAVRIN_API int rvupgrader_get_progress(rvupgrader_t *up);
TAVRIN_API rvupgrader_t *setprogressempty(rvupgrader_t *up);
TAVRIN_API rvupgrader_t *rvupgrader_set(rvupgrader_t *up);
TAVRIN_API int rvupgrader_get_rev(rvupgrader_t *up);
TAVRIN_API int rvupgrader_get_fileinfo(const char *path, rvupgrader_fileinfo_t *info);
TAVRIN_API int rvupgrader_file_is_encrypt(const char *path);
TAVRIN_API int rvupgrader_file_decrypt(const char *src_path, const char *dst_path);

#ifdef __cplusplus
}
#endif

#endif /* TAVRIN_TAVRIN_H */
