/* rvxPciBrd.sys: the kernel driver of a virtual board. It offers what the
 * library asks of the board family's driver (devices \\.\rvxPciBrd<n>, the
 * buffered requests 0xE0003800..0xE0003890 on the 16-byte port record, the
 * board event) over the simulator's register model, which moves in real time
 * on a system thread of the driver and interrupts through the event the
 * application registered.
 *
 * Service parameters (HKLM\System\CurrentControlSet\Services\rvxPciBrd\
 * Parameters, REG_DWORD): BoardCount (1..16, default 1), BoardType (PLD
 * register 1 bits 4..6, default 1) and Modules (bits 0..3, default 0). */
#include <ntifs.h>

#include "driver/board_shim.h"
#include "driver/rvxpcibrd_private.h"

#define MAX_BOARDS 16
#define POOL_TAG 0x44505652u /* "RVPD" */
#define CONFIG_RECORD_SIZE 168u
#define PORT_RECORD_SIZE 16u
#define EVENT_VALUE_SIZE 8u

#define CODE_BOARD_CONFIG 0xE0003800u
#define CODE_READ_BYTE 0xE0003828u
#define CODE_READ_WORD 0xE000382Cu
#define CODE_READ_DWORD 0xE0003830u
#define CODE_WRITE_BYTE 0xE000383Cu
#define CODE_WRITE_WORD 0xE0003840u
#define CODE_WRITE_DWORD 0xE0003844u
#define CODE_EVENT_READ_BYTE 0xE0003850u
#define CODE_EVENT_READ_WORD 0xE0003854u
#define CODE_EVENT_WRITE_BYTE 0xE0003864u
#define CODE_EVENT_WRITE_WORD 0xE0003868u
#define CODE_REGISTER_EVENT 0xE0003878u
#define CODE_ENABLE_EVENT 0xE000388Cu
#define CODE_DISABLE_EVENT 0xE0003890u

/* One open handle and its board event. The event is referenced only while
 * notification is on: disable releases it and enable takes it again from the
 * handle the request carries, so the driver never holds an event that the
 * application may close (it always disables first). */
typedef struct OPEN_FILE {
  LIST_ENTRY link;
  ULONG board;
  BOOLEAN registered; /* an event was registered (0xE0003878) */
  PKEVENT event;      /* referenced while notification is on, else NULL */
  BOOLEAN pending;    /* an interrupt came while notification was off */
} OPEN_FILE;

typedef struct BOARD {
  PDEVICE_OBJECT device;
  void* model;
  BOOLEAN linked; /* the DOS link exists */
} BOARD;

static struct {
  FAST_MUTEX lock; /* every board, the open files and the journal */
  BOARD board[MAX_BOARDS];
  ULONG board_count;
  UCHAR type_code, module_bits; /* of every board */
  LIST_ENTRY files;
  rvxpci_stats stats;
  BOOLEAN journaling;
  ULONG journal_count;
  rvxpci_journal_entry* journal;
  /* board time in ticks and the performance counter reading it started at */
  ULONGLONG ticks;
  LONGLONG origin;
  LONGLONG frequency;
  HANDLE clock_thread;
  KEVENT wake; /* a drive started, or the driver unloads */
  volatile LONG stopping;
} g;

static void LockBoards(void) { ExAcquireFastMutex(&g.lock); }
static void UnlockBoards(void) { ExReleaseFastMutex(&g.lock); }

/* ---- Events ---- */

static void Signal(OPEN_FILE* file) {
  KeSetEvent(file->event, IO_NO_INCREMENT, FALSE);
  ++g.stats.signals;
}

/* Hands the interrupt of a board to every handle registered for it. Lock held. */
static void Interrupted(ULONG board) {
  LIST_ENTRY* e;
  ++g.stats.interrupts;
  for (e = g.files.Flink; e != &g.files; e = e->Flink) {
    OPEN_FILE* file = CONTAINING_RECORD(e, OPEN_FILE, link);
    if (file->board != board || !file->registered) continue;
    if (file->event != NULL) {
      Signal(file);
    } else {
      file->pending = TRUE; /* a level interrupt stays asserted until served */
    }
  }
}

static void ReleaseEvent(OPEN_FILE* file) {
  if (file->event == NULL) return;
  ObDereferenceObject(file->event);
  file->event = NULL;
  --g.stats.events_held;
}

/* Notification on with `event` (referenced): an interrupt that came while it
 * was off is signalled now. */
static void HoldEvent(OPEN_FILE* file, PKEVENT event) {
  ReleaseEvent(file);
  file->event = event;
  ++g.stats.events_held;
  if (file->pending) Signal(file);
  file->pending = FALSE;
}

/* The kernel exports the event type as a variable holding a POBJECT_TYPE.
 * mingw-w64's header declares it POBJECT_TYPE* and dllimport, which already
 * reads through the import slot: the declared name yields the variable's
 * value, the type itself, so the usual *ExEventObjectType would go one level
 * too deep. */
static POBJECT_TYPE EventObjectType(void) { return (POBJECT_TYPE)ExEventObjectType; }

/* The event object behind the caller's handle. The handle is duplicated out
 * of the requesting process into the driver's own and the copy referenced,
 * which works wherever the request is served: in the caller's context, as
 * Windows serves a top-level driver, and in a driver host process of its own,
 * as wine does (where the caller's handle value names nothing, or another
 * object, while the process id still is the caller's). */
static NTSTATUS ReferenceCallerEvent(PIRP irp, HANDLE handle, PKEVENT* event) {
  NTSTATUS status;
  HANDLE process = NULL, local = NULL;
  OBJECT_ATTRIBUTES attributes;
  CLIENT_ID client;

  InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  client.UniqueProcess = PsGetProcessId(IoGetRequestorProcess(irp));
  client.UniqueThread = NULL;
  status = ZwOpenProcess(&process, PROCESS_DUP_HANDLE, &attributes, &client);
  if (!NT_SUCCESS(status)) return status;
  status = ZwDuplicateObject(process, handle, ZwCurrentProcess(), &local, EVENT_MODIFY_STATE,
                             OBJ_KERNEL_HANDLE, 0);
  ZwClose(process);
  if (!NT_SUCCESS(status)) return status;
  status = ObReferenceObjectByHandle(local, EVENT_MODIFY_STATE, EventObjectType(), KernelMode,
                                     (PVOID*)event, NULL);
  ZwClose(local);
  return status;
}

/* ---- Time ---- */

/* Moves every board on to the present; interrupts that come are handed on.
 * Idle time passes at once. Lock held. */
static void Elapse(void) {
  LARGE_INTEGER now = KeQueryPerformanceCounter(NULL);
  const ULONGLONG micros =
      (ULONGLONG)(now.QuadPart - g.origin) / (ULONGLONG)g.frequency * 1000000ull +
      (ULONGLONG)(now.QuadPart - g.origin) % (ULONGLONG)g.frequency * 1000000ull /
          (ULONGLONG)g.frequency;
  const ULONGLONG target = micros / rvxb_tick_micros();
  ULONG b;
  if (target <= g.ticks) return;
  for (b = 0; b < g.board_count; ++b) {
    ULONG n = rvxb_advance(g.board[b].model, target - g.ticks);
    while (n-- > 0) Interrupted(b);
  }
  g.ticks = target;
}

static BOOLEAN Driving(void) {
  ULONG b;
  for (b = 0; b < g.board_count; ++b) {
    if (rvxb_driving(g.board[b].model)) return TRUE;
  }
  return FALSE;
}

/* Keeps the boards moving while nobody sends a request, so that a drive
 * ends and interrupts when it is due: every millisecond while an axis
 * drives, otherwise only when a request starts a drive. */
static VOID ClockThread(PVOID unused) {
  LARGE_INTEGER period;
  BOOLEAN driving = FALSE;
  UNREFERENCED_PARAMETER(unused);
  period.QuadPart = -10000; /* 1 ms, relative */
  while (!g.stopping) {
    KeWaitForSingleObject(&g.wake, Executive, KernelMode, FALSE, driving ? &period : NULL);
    LockBoards();
    Elapse();
    driving = Driving();
    UnlockBoards();
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

/* ---- Requests ---- */

static void Journal(ULONG board, ULONG code, ULONG space, ULONG offset, ULONG value) {
  rvxpci_journal_entry* entry;
  if (!g.journaling || g.journal_count >= RVXPCI_JOURNAL_CAPACITY) return;
  entry = &g.journal[g.journal_count++];
  entry->board = board;
  entry->code = code;
  entry->space = space;
  entry->offset = offset;
  entry->value = value;
}

static BOOLEAN IsPortCode(ULONG code) {
  switch (code) {
    case CODE_READ_BYTE:
    case CODE_READ_WORD:
    case CODE_READ_DWORD:
    case CODE_WRITE_BYTE:
    case CODE_WRITE_WORD:
    case CODE_WRITE_DWORD:
    case CODE_EVENT_READ_BYTE:
    case CODE_EVENT_READ_WORD:
    case CODE_EVENT_WRITE_BYTE:
    case CODE_EVENT_WRITE_WORD:
      return TRUE;
    default:
      return FALSE;
  }
}

static BOOLEAN IsRead(ULONG code) {
  return code == CODE_READ_BYTE || code == CODE_READ_WORD || code == CODE_READ_DWORD ||
         code == CODE_EVENT_READ_BYTE || code == CODE_EVENT_READ_WORD;
}

/* A port record worked in place: reads return their value in the record. */
static NTSTATUS PortRequest(OPEN_FILE* file, ULONG code, UCHAR* buffer, ULONG in_size,
                            ULONG out_size, ULONG_PTR* information) {
  ULONG record[4];
  if (in_size < PORT_RECORD_SIZE) return STATUS_BUFFER_TOO_SMALL;
  if (IsRead(code) && out_size < PORT_RECORD_SIZE) return STATUS_BUFFER_TOO_SMALL;
  RtlCopyMemory(record, buffer, PORT_RECORD_SIZE);
  if (!rvxb_port(g.board[file->board].model, code, (uint32_t*)&record[0], (uint32_t*)&record[1],
                 (uint32_t*)&record[2])) {
    return STATUS_INVALID_PARAMETER;
  }
  Journal(file->board, code, record[0], record[1], record[2]);
  if (rvxb_scan(g.board[file->board].model) != 0) Interrupted(file->board);
  if (rvxb_driving(g.board[file->board].model)) KeSetEvent(&g.wake, IO_NO_INCREMENT, FALSE);
  if (out_size >= PORT_RECORD_SIZE) {
    RtlCopyMemory(buffer, record, PORT_RECORD_SIZE);
    *information = PORT_RECORD_SIZE;
  }
  return STATUS_SUCCESS;
}

/* The three event requests, the event of register and enable referenced
 * before the lock was taken. */
static NTSTATUS EventRequest(OPEN_FILE* file, ULONG code, PKEVENT event) {
  switch (code) {
    case CODE_REGISTER_EVENT: /* a second registration replaces the first */
      file->registered = TRUE;
      file->pending = FALSE;
      HoldEvent(file, event);
      break;
    case CODE_ENABLE_EVENT:
      if (!file->registered) return STATUS_INVALID_DEVICE_STATE;
      HoldEvent(file, event);
      break;
    default:
      if (!file->registered) return STATUS_INVALID_DEVICE_STATE;
      ReleaseEvent(file);
      break;
  }
  Journal(file->board, code, 0, 0, 0);
  return STATUS_SUCCESS;
}

static NTSTATUS PrivateRequest(OPEN_FILE* file, ULONG code, UCHAR* buffer, ULONG in_size,
                               ULONG out_size, ULONG_PTR* information) {
  switch (code) {
    case RVXPCI_STATS:
      if (out_size < sizeof(rvxpci_stats)) return STATUS_BUFFER_TOO_SMALL;
      g.stats.open_files = g.stats.opens - g.stats.closes;
      RtlCopyMemory(buffer, &g.stats, sizeof(rvxpci_stats));
      *information = sizeof(rvxpci_stats);
      return STATUS_SUCCESS;
    case RVXPCI_JOURNAL_START:
      g.journal_count = 0;
      g.journaling = TRUE;
      return STATUS_SUCCESS;
    case RVXPCI_JOURNAL_TAKE: {
      ULONG n = out_size / sizeof(rvxpci_journal_entry);
      if (n > g.journal_count) n = g.journal_count;
      RtlCopyMemory(buffer, g.journal, n * sizeof(rvxpci_journal_entry));
      *information = n * sizeof(rvxpci_journal_entry);
      return STATUS_SUCCESS;
    }
    case RVXPCI_POWER_ON:
      rvxb_power_on(g.board[file->board].model, g.type_code, g.module_bits);
      return STATUS_SUCCESS;
    case RVXPCI_INTERRUPT: {
      ULONG cause;
      if (in_size < sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
      RtlCopyMemory(&cause, buffer, sizeof cause);
      rvxb_latch_cause(g.board[file->board].model, (uint16_t)cause);
      Interrupted(file->board);
      return STATUS_SUCCESS;
    }
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  OPEN_FILE* file = (OPEN_FILE*)stack->FileObject->FsContext;
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in_size = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out_size = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  PKEVENT event = NULL;
  ULONG_PTR information = 0;
  NTSTATUS status;
  UNREFERENCED_PARAMETER(device);

  if (file == NULL) return Complete(irp, STATUS_INVALID_HANDLE, 0);
  if (code == CODE_REGISTER_EVENT || code == CODE_ENABLE_EVENT || code == CODE_DISABLE_EVENT) {
    ULONG64 value;
    if (in_size < EVENT_VALUE_SIZE || buffer == NULL) {
      return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    RtlCopyMemory(&value, buffer, sizeof value);
    if (code != CODE_DISABLE_EVENT) {
      status = ReferenceCallerEvent(irp, (HANDLE)(ULONG_PTR)value, &event);
      if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
    }
  }

  LockBoards();
  Elapse();
  if (code == CODE_BOARD_CONFIG) {
    /* The virtual board needs no configuration; the record is taken as sent. */
    if (in_size < CONFIG_RECORD_SIZE || buffer == NULL) {
      status = STATUS_BUFFER_TOO_SMALL;
    } else {
      Journal(file->board, code, 0, 0, 0);
      information = out_size >= CONFIG_RECORD_SIZE ? CONFIG_RECORD_SIZE : 0;
      status = STATUS_SUCCESS;
    }
  } else if (code == CODE_REGISTER_EVENT || code == CODE_ENABLE_EVENT ||
             code == CODE_DISABLE_EVENT) {
    status = EventRequest(file, code, event);
    if (!NT_SUCCESS(status) && event != NULL) ObDereferenceObject(event);
  } else if (IsPortCode(code)) {
    status = buffer == NULL ? STATUS_BUFFER_TOO_SMALL
                            : PortRequest(file, code, buffer, in_size, out_size, &information);
  } else if (buffer != NULL || code == RVXPCI_JOURNAL_START || code == RVXPCI_POWER_ON) {
    status = PrivateRequest(file, code, buffer, in_size, out_size, &information);
  } else {
    status = STATUS_INVALID_DEVICE_REQUEST;
  }
  UnlockBoards();
  return Complete(irp, status, information);
}

static ULONG BoardOf(PDEVICE_OBJECT device) { return *(ULONG*)device->DeviceExtension; }

static NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  OPEN_FILE* file = (OPEN_FILE*)ExAllocatePoolWithTag(NonPagedPool, sizeof(OPEN_FILE), POOL_TAG);
  if (file == NULL) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  RtlZeroMemory(file, sizeof *file);
  file->board = BoardOf(device);
  stack->FileObject->FsContext = file;
  LockBoards();
  InsertTailList(&g.files, &file->link);
  ++g.stats.opens;
  UnlockBoards();
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* Cleanup (the last handle of the file is gone: closed, or its process
 * ended) releases the event, so no signal reaches an object the process left;
 * close then forgets the file. */
static NTSTATUS EndFile(PIRP irp, BOOLEAN closing) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  OPEN_FILE* file = (OPEN_FILE*)stack->FileObject->FsContext;
  if (file != NULL) {
    LockBoards();
    ReleaseEvent(file);
    file->registered = FALSE;
    if (closing) {
      RemoveEntryList(&file->link);
      ++g.stats.closes;
    }
    UnlockBoards();
    if (closing) {
      stack->FileObject->FsContext = NULL;
      ExFreePoolWithTag(file, POOL_TAG);
    }
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  UNREFERENCED_PARAMETER(device);
  return EndFile(irp, FALSE);
}

static NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  UNREFERENCED_PARAMETER(device);
  return EndFile(irp, TRUE);
}

/* ---- Loading ---- */

static void FormatName(WCHAR* text, const WCHAR* prefix, ULONG board, UNICODE_STRING* name) {
  ULONG n = 0;
  while (prefix[n] != 0) {
    text[n] = prefix[n];
    ++n;
  }
  if (board >= 10) text[n++] = (WCHAR)(L'0' + board / 10);
  text[n++] = (WCHAR)(L'0' + board % 10);
  text[n] = 0;
  RtlInitUnicodeString(name, text);
}

static ULONG ReadParameter(HANDLE key, const WCHAR* name, ULONG fallback) {
  UNICODE_STRING value_name;
  UCHAR data[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
  KEY_VALUE_PARTIAL_INFORMATION* info = (KEY_VALUE_PARTIAL_INFORMATION*)data;
  ULONG size = 0;
  ULONG value;
  if (key == NULL) return fallback;
  RtlInitUnicodeString(&value_name, name);
  if (!NT_SUCCESS(ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, info, sizeof data,
                                  &size)) ||
      info->Type != REG_DWORD || info->DataLength != sizeof(ULONG)) {
    return fallback;
  }
  RtlCopyMemory(&value, info->Data, sizeof value);
  return value;
}

/* The service's Parameters key, or NULL. */
static HANDLE OpenParameters(PUNICODE_STRING registry_path) {
  static const WCHAR suffix[] = L"\\Parameters";
  WCHAR text[512];
  UNICODE_STRING path;
  OBJECT_ATTRIBUTES attributes;
  HANDLE key = NULL;
  const ULONG chars = registry_path->Length / sizeof(WCHAR);
  if (chars + sizeof suffix / sizeof(WCHAR) > sizeof text / sizeof(WCHAR)) return NULL;
  RtlCopyMemory(text, registry_path->Buffer, registry_path->Length);
  RtlCopyMemory(text + chars, suffix, sizeof suffix);
  RtlInitUnicodeString(&path, text);
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                             NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return NULL;
  return key;
}

static VOID DriverUnload(PDRIVER_OBJECT driver) {
  ULONG b;
  UNREFERENCED_PARAMETER(driver);
  if (g.clock_thread != NULL) {
    InterlockedExchange(&g.stopping, 1);
    KeSetEvent(&g.wake, IO_NO_INCREMENT, FALSE);
    ZwWaitForSingleObject(g.clock_thread, FALSE, NULL);
    ZwClose(g.clock_thread);
  }
  for (b = 0; b < MAX_BOARDS; ++b) {
    BOARD* board = &g.board[b];
    if (board->linked) {
      WCHAR text[32];
      UNICODE_STRING link;
      FormatName(text, L"\\DosDevices\\rvxPciBrd", b, &link);
      IoDeleteSymbolicLink(&link);
    }
    if (board->device != NULL) IoDeleteDevice(board->device);
    if (board->model != NULL) ExFreePoolWithTag(board->model, POOL_TAG);
  }
  if (g.journal != NULL) ExFreePoolWithTag(g.journal, POOL_TAG);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path);

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  HANDLE parameters = OpenParameters(registry_path);
  ULONG count = ReadParameter(parameters, L"BoardCount", 1);
  const ULONG type = ReadParameter(parameters, L"BoardType", 1);
  const ULONG modules = ReadParameter(parameters, L"Modules", 0);
  LARGE_INTEGER frequency;
  NTSTATUS status = STATUS_SUCCESS;
  ULONG b;
  if (parameters != NULL) ZwClose(parameters);
  if (count < 1) count = 1;
  if (count > MAX_BOARDS) count = MAX_BOARDS;

  RtlZeroMemory(&g, sizeof g);
  ExInitializeFastMutex(&g.lock);
  InitializeListHead(&g.files);
  KeInitializeEvent(&g.wake, SynchronizationEvent, FALSE);
  g.origin = KeQueryPerformanceCounter(&frequency).QuadPart;
  g.frequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
  g.type_code = (UCHAR)(type & 7);
  g.module_bits = (UCHAR)(modules & 15);
  driver->DriverUnload = DriverUnload;
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;

  g.journal = (rvxpci_journal_entry*)ExAllocatePoolWithTag(
      NonPagedPool, RVXPCI_JOURNAL_CAPACITY * sizeof(rvxpci_journal_entry), POOL_TAG);
  if (g.journal == NULL) status = STATUS_INSUFFICIENT_RESOURCES;
  for (b = 0; b < count && NT_SUCCESS(status); ++b) {
    WCHAR device_text[32], link_text[32];
    UNICODE_STRING device_name, link_name;
    BOARD* board = &g.board[b];
    board->model = ExAllocatePoolWithTag(NonPagedPool, rvxb_size(), POOL_TAG);
    if (board->model == NULL) {
      status = STATUS_INSUFFICIENT_RESOURCES;
      break;
    }
    rvxb_power_on(board->model, g.type_code, g.module_bits);
    FormatName(device_text, L"\\Device\\rvxPciBrd", b, &device_name);
    FormatName(link_text, L"\\DosDevices\\rvxPciBrd", b, &link_name);
    status = IoCreateDevice(driver, sizeof(ULONG), &device_name, FILE_DEVICE_UNKNOWN, 0, FALSE,
                            &board->device);
    if (!NT_SUCCESS(status)) break;
    *(ULONG*)board->device->DeviceExtension = b;
    board->device->Flags |= DO_BUFFERED_IO;
    board->device->Flags &= ~DO_DEVICE_INITIALIZING;
    status = IoCreateSymbolicLink(&link_name, &device_name);
    board->linked = NT_SUCCESS(status);
    g.board_count = b + 1;
  }
  g.stats.boards = g.board_count;
  if (NT_SUCCESS(status)) {
    status = PsCreateSystemThread(&g.clock_thread, THREAD_ALL_ACCESS, NULL, NULL, NULL,
                                  ClockThread, NULL);
    if (!NT_SUCCESS(status)) g.clock_thread = NULL;
  }
  if (!NT_SUCCESS(status)) DriverUnload(driver);
  return status;
}
