/* The simulated board's register model as the kernel driver reaches it: a C
 * interface over the simulator's C++ board code, which is built without the
 * C++ runtime (no exceptions, no allocation, no static constructors). */
#ifndef RVX_DRIVER_BOARD_SHIM_H_
#define RVX_DRIVER_BOARD_SHIM_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Microseconds of one tick of the board's motion engine. */
uint32_t rvxb_tick_micros(void);
/* Bytes of one board's state; the driver allocates it. */
uint32_t rvxb_size(void);
/* Every register at its power-on value: PLD register 1 reads
 * type_code << 4 | module_bits. */
void rvxb_power_on(void* board, uint8_t type_code, uint8_t module_bits);
/* One port or event-window request on the 16-byte record (space, offset,
 * value): reads fill the value, writes take it truncated to the request's
 * width. 0 for a code that is neither or a space the board lacks. */
int rvxb_port(void* board, uint32_t code, uint32_t* space, uint32_t* offset, uint32_t* value);
/* Looks at the board after a request: returns the interrupt cause latched in
 * event word 10, 0 when none is due. */
uint8_t rvxb_scan(void* board);
/* Lets `ticks` ticks pass while an axis drives, looking for interrupts after
 * each; returns how many interrupts came (the last cause is latched). */
uint32_t rvxb_advance(void* board, uint64_t ticks);
/* Whether an axis drives by its profile, so that time must be watched. */
int rvxb_driving(void* board);
/* Latches `cause` in event word 10, as the board does when it interrupts. */
void rvxb_latch_cause(void* board, uint16_t cause);

#ifdef __cplusplus
}
#endif

#endif /* RVX_DRIVER_BOARD_SHIM_H_ */
