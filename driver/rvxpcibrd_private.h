/* Requests of the virtual board's driver that the library never sends: they
 * let tests and tools look into the driver and act as the hardware would.
 * Same device type (0xE000) and buffered method as the library's requests,
 * function codes from 0xF00 on. */
#ifndef RVX_DRIVER_RVXPCIBRD_PRIVATE_H_
#define RVX_DRIVER_RVXPCIBRD_PRIVATE_H_

#include <stdint.h>

/* out: rvxpci_stats */
#define RVXPCI_STATS 0xE0003C00u
/* out: the journal entries recorded since RVXPCI_JOURNAL_START, oldest first,
 * as many as fit; bytes returned = entries * sizeof(rvxpci_journal_entry) */
#define RVXPCI_JOURNAL_TAKE 0xE0003C04u
/* empties the journal and starts recording the library's requests */
#define RVXPCI_JOURNAL_START 0xE0003C08u
/* the board of this device back at power-on */
#define RVXPCI_POWER_ON 0xE0003C0Cu
/* in: u32 cause; the board interrupts with this cause latched in event word 10 */
#define RVXPCI_INTERRUPT 0xE0003C10u

typedef struct rvxpci_stats {
  uint32_t boards;      /* devices the driver created */
  uint32_t opens;       /* create requests since the driver started */
  uint32_t closes;      /* close requests since the driver started */
  uint32_t open_files;  /* opens - closes */
  uint32_t events_held; /* board events the driver holds a reference on */
  uint32_t interrupts;  /* interrupts the boards raised */
  uint32_t signals;     /* events signalled */
  uint32_t reserved;
} rvxpci_stats;

/* One request of the library as the driver served it. Event requests carry
 * value 0: the handle value differs from process to process. */
typedef struct rvxpci_journal_entry {
  uint32_t board;
  uint32_t code;
  uint32_t space;
  uint32_t offset;
  uint32_t value;
} rvxpci_journal_entry;

#define RVXPCI_JOURNAL_CAPACITY 4096u

#endif /* RVX_DRIVER_RVXPCIBRD_PRIVATE_H_ */
