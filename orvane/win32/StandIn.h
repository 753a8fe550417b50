/* The Windows stand-in of the remote-control server library: what it was told,
 * and how a test triggers the command object it holds. Plain C, so that the C
 * test host includes it as well. */
#ifndef ORVANE_STAND_IN_H
#define ORVANE_STAND_IN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORVANE_FILE_MAX 1024

typedef struct OrvaneRecord {
    int32_t attachCalls; /* attachcommand calls */
    int32_t attachKind;  /* the last kind attached */
    int32_t hasCommand;  /* a command object is held */
    int32_t stateCalls;
    int32_t state; /* the last state */
    int32_t timeCalls;
    double time; /* the last time */
    int32_t fileCalls;
    char file[ORVANE_FILE_MAX]; /* the last file path, 1251, cut to fit */
} OrvaneRecord;

/* The command object's operations by number: 1 stop, 2 start, 3 code 2,
 * 4 code 20. */
enum { ORVANE_STOP = 1, ORVANE_START = 2, ORVANE_CODE2 = 3, ORVANE_CODE20 = 4 };

/* Exported as "OrvaneRecordOf": copies what the library was told. */
typedef void (*PFN_OrvaneRecordOf)(OrvaneRecord* out);
/* Exported as "OrvaneRunCommand": 1 or 0, the operation's result; -1 when no
 * command object is held or the operation is unknown. */
typedef int32_t (*PFN_OrvaneRunCommand)(int32_t operation);

#ifdef __cplusplus
}
#endif

#endif
