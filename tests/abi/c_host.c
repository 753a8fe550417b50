/* A host written in C: it reaches the plug-in objects only through their
 * operation tables, by slot index, with the object pointer first. */
#include "c_host.h"

#include <dlfcn.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    uint32_t d1;
    uint16_t d2, d3;
    uint8_t d4[8];
} CGuid;

typedef struct {
    uint16_t vt, r1, r2, r3;
    union {
        int32_t lVal;
        int16_t boolVal;
        uint16_t* bstrVal;
        void* pair[2];
    } u;
} CVariant;

typedef struct {
    void** table;
} CObject;

typedef int32_t (*QueryFn)(CObject*, const CGuid*, void**);
typedef uint32_t (*CountFn)(CObject*);
typedef bool (*BoolFn)(CObject*);
typedef bool (*NotifyFn)(CObject*, uint32_t, uintptr_t);
typedef const char* (*NameFn)(CObject*);
typedef bool (*GetPropFn)(CObject*, uint32_t, CVariant*);
typedef bool (*SetPropFn)(CObject*, uint32_t, CVariant);
typedef CObject* (*CreateFn)(void);

static void* find(void* lib, const char* name) {
    char underscored[128];
    void* f = dlsym(lib, name);
    if (f != NULL)
        return f;
    snprintf(underscored, sizeof underscored, "_%s", name);
    return dlsym(lib, underscored);
}

#define FAIL(...)                                                                                  \
    do {                                                                                           \
        snprintf(report, report_size, __VA_ARGS__);                                                \
        return 0;                                                                                  \
    } while (0)

int c_host_check(const char* path, const char* expected_name, int expected_prop2, char* report,
                 size_t report_size) {
    static const CGuid iid_unknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    static const CGuid iid_plugin = {
        0x5967D621, 0x0C3B, 0x11D7, {0x92, 0x43, 0x00, 0xE0, 0x29, 0x28, 0x8A, 0x7F}};
    static const CGuid iid_other = {
        0x5967D621, 0x0C3B, 0x11D7, {0x92, 0x43, 0x00, 0xE0, 0x29, 0x28, 0x8A, 0x7E}};
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    CreateFn create;
    CObject* obj;
    void* out = NULL;
    CVariant v;
    const char* name;

    if (lib == NULL)
        FAIL("cannot load %s: %s", path, dlerror());
    create = (CreateFn)find(lib, "CreatePluginClass");
    if (create == NULL)
        FAIL("no CreatePluginClass");
    obj = create();
    if (obj == NULL)
        FAIL("CreatePluginClass gave null");

    /* slots 0..2 */
    if (((QueryFn)obj->table[0])(obj, &iid_unknown, &out) != 0 || out != obj)
        FAIL("QueryInterface(IUnknown)");
    if (((QueryFn)obj->table[0])(obj, &iid_plugin, &out) != 0 || out != obj)
        FAIL("QueryInterface(IRecorderPlugin)");
    out = &out;
    if (((QueryFn)obj->table[0])(obj, &iid_other, &out) != (int32_t)0x80004002u || out != &out)
        FAIL("QueryInterface(other) must fail and leave out alone");
    if (((CountFn)obj->table[1])(obj) != 4)
        FAIL("AddRef after two queries must give 4");
    if (((CountFn)obj->table[2])(obj) != 3)
        FAIL("Release must give 3");

    /* slots 5, 7, 8: edit is skipped (it may open a dialog), suspend and resume answer true */
    if (!((BoolFn)obj->table[7])(obj) || !((BoolFn)obj->table[8])(obj))
        FAIL("suspend/resume");
    /* slot 9: notify */
    if (!((NotifyFn)obj->table[9])(obj, 0, 0))
        FAIL("notify(0) must answer true");
    if (((NotifyFn)obj->table[9])(obj, 2, 0) || ((NotifyFn)obj->table[9])(obj, 26, 0))
        FAIL("notify(2) and notify(26) must answer false");
    /* slot 10: getname */
    name = ((NameFn)obj->table[10])(obj);
    if (name == NULL || strcmp(name, expected_name) != 0)
        FAIL("getname gave '%s'", name ? name : "(null)");
    /* slot 11: getproperty(1) gives a BSTR owned by the caller */
    memset(&v, 0, sizeof v);
    if (!((GetPropFn)obj->table[11])(obj, 1, &v) || v.vt != 8 || v.u.bstrVal == NULL)
        FAIL("getproperty(1) must give a BSTR");
    free((char*)v.u.bstrVal - 4);
    memset(&v, 0, sizeof v);
    if (((GetPropFn)obj->table[11])(obj, 2, &v) != (expected_prop2 >= 0))
        FAIL("getproperty(2) answer");
    if (expected_prop2 >= 0 && (v.vt != 3 || v.u.lVal != expected_prop2))
        FAIL("getproperty(2) gave vt %d value %d", v.vt, v.u.lVal);
    /* slot 12: setproperty with the VARIANT by value answers false */
    memset(&v, 0, sizeof v);
    v.vt = 3;
    v.u.lVal = 7;
    if (((SetPropFn)obj->table[12])(obj, 1, v))
        FAIL("setproperty must answer false");
    /* slot 13: canclose */
    if (!((BoolFn)obj->table[13])(obj))
        FAIL("canclose");

    /* The remaining references go back; the last Release answers 0. */
    ((CountFn)obj->table[2])(obj);
    ((CountFn)obj->table[2])(obj);
    if (((CountFn)obj->table[2])(obj) != 0)
        FAIL("last Release must give 0");
    /* The library stays loaded: a module that started a toolkit must not be unloaded under it. */
    snprintf(report, report_size, "ok");
    return 1;
}
