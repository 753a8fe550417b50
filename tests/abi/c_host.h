#pragma once
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
/* Drives a module's plug-in object through its operation table as a C host
 * would. expected_prop2 < 0: getproperty(2) must answer false. 1 on success,
 * else 0 with the reason in report. */
int c_host_check(const char* path, const char* expected_name, int expected_prop2, char* report,
                 size_t report_size);
#ifdef __cplusplus
}
#endif
