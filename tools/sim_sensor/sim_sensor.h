/* Control of the simulated proximity sensor from inside the process that
 * talks to it through hidapi: configuration, plugging, levels, event log. */
#pragma once

#include <stddef.h>

#if defined(_WIN32)
#if defined(ZELVAN_SIM_SENSOR_BUILD)
#define ZELVAN_SIM_API __declspec(dllexport)
#else
#define ZELVAN_SIM_API __declspec(dllimport)
#endif
#else
#define ZELVAN_SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the configuration with `text` (the format of the file named by
 * ZELVAN_SIM_SENSOR; relative paths are taken from the working folder) and
 * restarts the clocks. Handles opened before are stale from now on. NULL
 * removes the device. Returns 0, or -1 after a parse error: the device is
 * then absent and zelvan_sim_sensor_errors tells why. */
ZELVAN_SIM_API int zelvan_sim_sensor_configure(const char *text);

/* The parse errors of the last configuration, one "SOURCE:LINE: message" a
 * line. Copies at most capacity - 1 bytes and a terminating 0; returns the
 * whole length, as snprintf does. */
ZELVAN_SIM_API size_t zelvan_sim_sensor_errors(char *out, size_t capacity);

/* Pulls the cable (0) or plugs it back (1). Unplugging makes every open
 * handle stale and resets the firmware to its default period. */
ZELVAN_SIM_API void zelvan_sim_sensor_plug(int present);

/* From now on every sample reads `raw` (noise still added); a value above
 * 65535 hands the level back to the configured scenario. */
ZELVAN_SIM_API void zelvan_sim_sensor_set_level(unsigned raw);

/* The event log since the configuration was loaded (or the log was cleared),
 * one event a line: init, exit, open, open failed, close, unplug, plug,
 * "feature 00 52 00 C8", "reply $", "reply E R", "noreply R", "reply U 3",
 * "reply U 3 L=40", "reply U 3 bytes=12", "reply E U 3", "noreply U 3".
 * Copies and returns as zelvan_sim_sensor_errors does. */
ZELVAN_SIM_API size_t zelvan_sim_sensor_events(char *out, size_t capacity);
ZELVAN_SIM_API void zelvan_sim_sensor_clear_events(void);

/* Successful hid_open calls since the configuration was loaded. */
ZELVAN_SIM_API int zelvan_sim_sensor_open_count(void);

/* hid_read and hid_read_timeout calls since the configuration was loaded. */
ZELVAN_SIM_API unsigned long long zelvan_sim_sensor_read_count(void);

/* While set, hid_init fails with -1. Returns the previous setting. */
ZELVAN_SIM_API int zelvan_sim_sensor_fail_init(int fail);

/* 1 while the configuration lists the device but refuses to open it
 * (refuse_open), as a node without access rights does; else 0. */
ZELVAN_SIM_API int zelvan_sim_sensor_refuses_open(void);

/* The sample period the firmware runs at now, in milliseconds. */
ZELVAN_SIM_API unsigned zelvan_sim_sensor_period_ms(void);

/* Copies the 512-byte signature image into `out` (at most `capacity`
 * bytes); returns 512, or 0 when there is no device. */
ZELVAN_SIM_API size_t zelvan_sim_sensor_image(unsigned char *out, size_t capacity);

/* The checksum of the image's records, for building raw images by hand. */
ZELVAN_SIM_API unsigned char zelvan_sim_sensor_crc8(const unsigned char *data, size_t length);

#ifdef __cplusplus
}
#endif
