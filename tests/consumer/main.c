/* Links against the installed library and switches one output of board 0:
 * exit status 0 when the output reads back as set. */
#include <rvx406a.h>
#include <stdio.h>

int main(void) {
  int32_t highest = RVX406A_LoadDevice();
  if (highest < 0) {
    printf("LoadDevice: %d\n", highest);
    return 1;
  }
  RVX406A_PutDOBit(0, 3, 1);
  const uint16_t output = RVX406A_GetDOBit(0, 3);
  const int32_t code = RVX406A_GetErrorCode();
  RVX406A_UnloadDevice();
  printf("boards: %d, DO 3 = %u, result %d\n", highest + 1, output, code);
  return output == 1 && code == ERR_SUCCESS ? 0 : 1;
}
