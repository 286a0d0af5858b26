/*
 * rvx406a_driver.h - the interface between the library and a board driver
 * module (RVX_DRIVER=<path to a .so or .dll>).
 *
 * A module exports one symbol, "rvx_driver_entry". The library loads the module
 * once per process and calls the entry once; every register access of the
 * library then travels as an I/O control request through io_control, with the
 * codes and buffers of the kernel driver: the 16-byte port record (space,
 * offset, value, reserved; little-endian u32 each) as both in and out buffer,
 * a read taking its value from the record's value field; the event requests
 * carry the 8-byte event handle value as a little-endian u64 in the in buffer.
 */
#ifndef RVX406A_DRIVER_H_
#define RVX406A_DRIVER_H_

#include <stdint.h>

/* The interface exactly as published. */
/* clang-format off */

#ifdef __cplusplus
extern "C" {
#endif

#define RVX_DRIVER_ABI_VERSION 1u

typedef struct rvx_driver_host {      /* what the library offers a module */
    uint32_t abi_version;
    /* signal the library's board event whose handle value came with request 0xE0003878 */
    void (*signal_event)(uint64_t event_handle);
} rvx_driver_host;

typedef struct rvx_driver_ops {       /* what a module offers the library */
    uint32_t abi_version;
    void* (*open_device)(uint32_t board);          /* NULL: no such device */
    int   (*io_control)(void* device, uint32_t code,
                        void* in_buffer, uint32_t in_size,
                        void* out_buffer, uint32_t out_size,
                        uint32_t* bytes_returned); /* nonzero: success */
    void  (*close_device)(void* device);
} rvx_driver_ops;

/* the one symbol a module exports, named "rvx_driver_entry" */
typedef const rvx_driver_ops* (*rvx_driver_entry_fn)(const rvx_driver_host* host);

/* clang-format on */

#ifdef __cplusplus
}
#endif

#endif /* RVX406A_DRIVER_H_ */
