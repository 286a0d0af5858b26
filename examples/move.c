/* One axis and one output of board 0: open the boards, configure the axis,
 * move it, poll until the move is done, read the positions, switch an output
 * and read an input. Against the simulated board: RVX_DRIVER=sim ./move_c */
#define _POSIX_C_SOURCE 200809L /* nanosleep, also under -std=c99 */
#include <stdio.h>

#include "rvx406a.h"

/* A pause between two polls, so that waiting does not take a whole core. */
#if defined(_WIN32)
#include <windows.h>
static void pause_ms(unsigned ms) { Sleep(ms); }
#else
#include <time.h>
static void pause_ms(unsigned ms) {
  const struct timespec pause = {0, (long)ms * 1000000L};
  nanosleep(&pause, NULL);
}
#endif

/* Setters and moves return nothing: their outcome is the last result, which
 * the next call replaces, so each call is checked on its own. */
static int ok(const char* what) {
  int32_t code = RVX406A_GetErrorCode();
  if (code != ERR_SUCCESS)
    fprintf(stderr, "%s: %s (%d)\n", what, RVX406A_GetErrorString(code), code);
  return code == ERR_SUCCESS;
}

static int run(uint16_t board, uint16_t axis) {
  /* Pulse and direction output, servo on, from 1,000 to 20,000 pulses per
   * second with 20 ms ramps. */
  RVX406A_SetPulseMode(board, axis, 0);
  if (!ok("SetPulseMode")) return 1;
  RVX406A_PutSvOn(board, axis, 1);
  if (!ok("PutSvOn")) return 1;
  RVX406A_SetPosSpeed(board, axis, 1000, 20000, 20, 20);
  if (!ok("SetPosSpeed")) return 1;

  RVX406A_Inc_Move(board, axis, 3000);
  if (!ok("Inc_Move")) return 1;
  while (RVX406A_Done(board, axis)) {
    /* 1 while the axis drives: a real program does its other work here */
    pause_ms(5);
  }
  if (!ok("move")) return 1; /* the stop cause, e.g. a limit */
  printf("moved: command %d, actual %d\n", RVX406A_GetCommandPos(board, axis),
         RVX406A_GetActualPos(board, axis));

  RVX406A_PutDOBit(board, 0, 1);
  if (!ok("PutDOBit")) return 1;
  const uint16_t input = RVX406A_GetDIBit(board, 0);
  if (!ok("GetDIBit")) return 1;
  printf("DO 0 = %u, DI 0 = %u\n", RVX406A_GetDOBit(board, 0), input);
  return 0;
}

int main(void) {
  int32_t highest = RVX406A_LoadDevice(); /* the highest board number, or an error */
  if (highest < 0) {
    fprintf(stderr, "LoadDevice: %s (%d)\n", RVX406A_GetErrorString(highest), highest);
    return 1;
  }
  printf("boards: %d; board 0: %u axes, %u DI, %u DO\n", highest + 1, RVX406A_GetAxisNum(0),
         RVX406A_GetDiNum(0), RVX406A_GetDoNum(0));
  const int status = run(0, 0);
  RVX406A_PutSvOn(0, 0, 0);
  RVX406A_UnloadDevice();
  return status;
}
