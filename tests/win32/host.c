/* A recorder host written in C that checks both modules at the machine level:
 * export tables, calling conventions (the stack pointer around every call),
 * the information record byte by byte, and a session of each module.
 * Usage: module_host <folder with Tolvex, Brantic and Orvane> <scratch folder>
 * Built for 32-bit Windows (run under Wine) and, without the checks that only
 * exist there, natively against the Linux modules. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L
#endif
#include "StandIn.h"

#include <stdarg.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <uchar.h>

#ifdef _WIN32
#include <windows.h>
#define SEP "\\"
#define EXT ".dll"
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#define SEP "/"
#define EXT ".so"
#endif

/* GetKovaComponentVersion is stdcall: decorated on 32-bit Windows, where the
 * host looks it up with the underscore and the argument bytes; 64-bit Windows
 * has one calling convention and no decorations. */
#ifdef _WIN64
#define KOVA_EXPORT "GetKovaComponentVersion"
#else
#define KOVA_EXPORT "_GetKovaComponentVersion@8"
#endif

#if defined(__i386__)
#define STD __attribute__((stdcall))
#define MEASURED 1
int32_t measure_call(void* fn, const uint32_t* args, int32_t count, uint64_t* result);
#else
#define STD
#define MEASURED 0
#endif

/* ---- results ---------------------------------------------------------- */

static int g_passed;
static int g_failed;

static void check(bool ok, const char* what, ...) {
    va_list ap;
    if (ok) {
        ++g_passed;
        return;
    }
    ++g_failed;
    va_start(ap, what);
    fprintf(stderr, "FAILED: ");
    vfprintf(stderr, what, ap);
    fprintf(stderr, "\n");
    va_end(ap);
}

/* ---- loading ------------------------------------------------------------ */

static void* load(const char* path) {
#ifdef _WIN32
    return (void*)LoadLibraryA(path);
#else
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
}

static void unload(void* lib) {
#ifdef _WIN32
    FreeLibrary((HMODULE)lib);
#else
    dlclose(lib);
#endif
}

static void* symbol(void* lib, const char* name) {
#ifdef _WIN32
    return (void*)GetProcAddress((HMODULE)lib, name);
#else
    return dlsym(lib, name);
#endif
}

/* The server library as already loaded by the module, or null. */
static void* loaded_orvane(const char* folder) {
#ifdef _WIN32
    (void)folder;
    return (void*)GetModuleHandleA("Orvane.dll");
#else
    char path[1024];
    void* lib;
    snprintf(path, sizeof path, "%s/Orvane.so", folder);
    lib = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (lib != NULL)
        dlclose(lib); /* drop the reference NOLOAD added */
    return lib;
#endif
}

static void set_env(const char* name, const char* value) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, value);
#else
    setenv(name, value, 1);
#endif
}

static bool write_file(const char* path, const char* text) {
    FILE* f = fopen(path, "wb");
    if (f == NULL)
        return false;
    fputs(text, f);
    return fclose(f) == 0;
}

static bool copy_file(const char* from, const char* to) {
#ifdef _WIN32
    return CopyFileA(from, to, FALSE) != 0;
#else
    char buf[65536];
    size_t n;
    bool ok = true;
    FILE* in = fopen(from, "rb");
    FILE* out = in != NULL ? fopen(to, "wb") : NULL;
    if (out == NULL) {
        if (in != NULL)
            fclose(in);
        return false;
    }
    while ((n = fread(buf, 1, sizeof buf, in)) > 0)
        ok = ok && fwrite(buf, 1, n, out) == n;
    fclose(in);
    return fclose(out) == 0 && ok;
#endif
}

static void make_folder(const char* path) {
#ifdef _WIN32
    CreateDirectoryA(path, NULL);
#else
    mkdir(path, 0700);
#endif
}

/* ---- calls through a table or an export, with the stack measured --------- */

typedef struct {
    void** table;
} CObject;

typedef struct {
    uint16_t vt, r1, r2, r3;
    union {
        int32_t lVal;
        uint32_t ulVal;
        int16_t boolVal;
        uint16_t* bstrVal;
        void* punkVal;
        void* pair[2];
    } u;
} CVariant;

/* Calls fn(args...) with n pointer-sized arguments; on 32-bit x86 checks that
 * the callee removed `removes` bytes. */
static uint64_t call(const char* what, void* fn, int n, const uintptr_t* args, int removes) {
#if MEASURED
    uint32_t words[8];
    uint64_t result = 0;
    int32_t removed;
    int i;
    for (i = 0; i < n; ++i)
        words[i] = (uint32_t)args[i];
    removed = measure_call(fn, words, n, &result);
    check(removed == removes, "%s removed %d bytes of arguments, not %d", what, removed, removes);
    return result;
#else
    (void)what;
    (void)removes;
    switch (n) {
    case 0:
        return ((uintptr_t(*)(void))fn)();
    case 1:
        return ((uintptr_t(*)(uintptr_t))fn)(args[0]);
    case 2:
        return ((uintptr_t(*)(uintptr_t, uintptr_t))fn)(args[0], args[1]);
    default:
        return ((uintptr_t(*)(uintptr_t, uintptr_t, uintptr_t))fn)(args[0], args[1], args[2]);
    }
#endif
}

/* A slot of the plug-in object: stdcall, the object first. */
static uint64_t slot(CObject* obj, int index, const char* name, int n, ...) {
    uintptr_t args[4];
    va_list ap;
    int i;
    args[0] = (uintptr_t)obj;
    va_start(ap, n);
    for (i = 0; i < n; ++i)
        args[i + 1] = va_arg(ap, uintptr_t);
    va_end(ap);
    return call(name, obj->table[index], n + 1, args, 4 * (n + 1));
}

/* setproperty(id, VARIANT): the VARIANT travels by value, 24 bytes in all. */
static bool slot_setproperty(CObject* obj, uint32_t id, CVariant v) {
#if MEASURED
    uint32_t words[6];
    uint64_t result = 0;
    int32_t removed;
    words[0] = (uint32_t)(uintptr_t)obj;
    words[1] = id;
    memcpy(&words[2], &v, sizeof v);
    removed = measure_call(obj->table[12], words, 6, &result);
    check(removed == 24, "setproperty removed %d bytes, not 24", removed);
    return (uint8_t)result != 0;
#else
    return ((bool (*)(CObject*, uint32_t, CVariant))obj->table[12])(obj, id, v);
#endif
}

/* A cdecl export: the caller removes the arguments. */
static uint64_t export_call(void* lib, const char* name, int n, ...) {
    uintptr_t args[4];
    va_list ap;
    int i;
    void* fn = symbol(lib, name);
    check(fn != NULL, "export %s missing", name);
    if (fn == NULL)
        return 0;
    va_start(ap, n);
    for (i = 0; i < n; ++i)
        args[i] = va_arg(ap, uintptr_t);
    va_end(ap);
    return call(name, fn, n, args, 0);
}

/* ---- export tables -------------------------------------------------------- */

#ifdef _WIN32
/* Every name in the module's export table must be one of `allowed` or start
 * with one of `prefixes`; every allowed name must be there. */
static void check_export_table(HMODULE module, const char* label, const char* const* allowed,
                               int allowed_count, const char* const* prefixes, int prefix_count) {
    const unsigned char* base = (const unsigned char*)module;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY* dir =
        &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY* exports;
    const DWORD* names;
    int found[16] = {0};
    DWORD i;
    int k;
    check(dir->VirtualAddress != 0, "%s has no export table", label);
    if (dir->VirtualAddress == 0)
        return;
    exports = (const IMAGE_EXPORT_DIRECTORY*)(base + dir->VirtualAddress);
    names = (const DWORD*)(base + exports->AddressOfNames);
    check(exports->NumberOfFunctions == exports->NumberOfNames,
          "%s exports %lu functions under %lu names", label, exports->NumberOfFunctions,
          exports->NumberOfNames);
    for (i = 0; i < exports->NumberOfNames; ++i) {
        const char* name = (const char*)(base + names[i]);
        bool known = false;
        for (k = 0; k < allowed_count; ++k)
            if (strcmp(name, allowed[k]) == 0) {
                found[k] = 1;
                known = true;
            }
        for (k = 0; k < prefix_count; ++k)
            if (strncmp(name, prefixes[k], strlen(prefixes[k])) == 0)
                known = true;
        check(known, "%s exports %s", label, name);
    }
    for (k = 0; k < allowed_count; ++k)
        check(found[k], "%s does not export %s", label, allowed[k]);
}
#endif

/* ---- the information record ---------------------------------------------- */

#define PATTERN 0xA5
#define RECORD_SIZE 1024

static void check_info(void* lib, const char* export_name, const char* label, const char* name,
                       const char* description, uint16_t major, uint16_t minor) {
    unsigned char record[RECORD_SIZE];
    unsigned char first[RECORD_SIZE];
    int pass;
    for (pass = 0; pass < 2; ++pass) {
        size_t i;
        const size_t name_end = strlen(name) + 1;
        const size_t description_end = 101 + strlen(description) + 1;
        memset(record, PATTERN, sizeof record);
        export_call(lib, export_name, 1, (uintptr_t)record);
        check(memcmp(record, name, name_end) == 0, "%s: name field", label);
        check(memcmp(record + 101, description, description_end - 101) == 0,
              "%s: description field", label);
        check(record[302] != PATTERN && memchr(record + 302, 0, 201) != NULL, "%s: vendor field",
              label);
        for (i = name_end; i < 101; ++i)
            check(record[i] == PATTERN, "%s: byte %u after the name written", label, (unsigned)i);
        for (i = description_end; i < 302; ++i)
            check(record[i] == PATTERN, "%s: byte %u after the description written", label,
                  (unsigned)i);
        for (i = 302 + strlen((const char*)record + 302) + 1; i < 503; ++i)
            check(record[i] == PATTERN, "%s: byte %u after the vendor written", label, (unsigned)i);
        check(record[503] == PATTERN, "%s: padding byte 503 written", label);
        check(record[504] == (major & 0xFF) && record[505] == (major >> 8), "%s: major", label);
        check(record[506] == (minor & 0xFF) && record[507] == (minor >> 8), "%s: minor", label);
        for (i = 508; i < sizeof record; ++i)
            if (record[i] != PATTERN) {
                check(false, "%s: byte %u past the record written", label, (unsigned)i);
                break;
            }
        if (pass == 0)
            memcpy(first, record, sizeof record);
        else
            check(memcmp(first, record, sizeof record) == 0, "%s: a second call differs", label);
    }
    export_call(lib, export_name, 1, (uintptr_t)0); /* null: nothing happens */
}

/* ---- the host's objects ----------------------------------------------------- */

static const unsigned char IID_UNKNOWN[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
static const unsigned char IID_PLUGIN[16] = {0x21, 0xD6, 0x67, 0x59, 0x3B, 0x0C, 0xD7, 0x11,
                                             0x92, 0x43, 0x00, 0xE0, 0x29, 0x28, 0x8A, 0x7F};
static const unsigned char IID_CHANNEL[16] = {0x61, 0xE3, 0xDA, 0xE8, 0xEE, 0x53, 0xD7, 0x11,
                                              0x92, 0x44, 0x00, 0xE0, 0x29, 0x28, 0x8A, 0x7F};
static const unsigned char IID_LOG[16] = {0xE4, 0x1D, 0x35, 0x3E, 0xA8, 0xD0, 0x2E, 0x45,
                                          0xB0, 0x0C, 0x22, 0x87, 0x69, 0xF5, 0xBC, 0x1E};
#define E_NOINTERFACE_ ((int32_t)0x80004002u)
#define E_NOTIMPL_ ((int32_t)0x80004001u)

#define BLOCK_LENGTH 10
#define MAX_CHANNELS 8

typedef struct {
    void** table;
    int refs;
    char name[128];
    double frequency;
    int activated;
    int removed;
    int blocks;
    float first_block[BLOCK_LENGTH];
    float low, high;
    int32_t prop5;
    uint32_t prop3;
    void* owner;
} Channel;

typedef struct {
    void** table;
    int refs;
    int count;
    int32_t kinds[64];
    char16_t texts[64][128];
    char16_t sources[64][16];
} Log;

typedef struct {
    void** table;
    int refs;
    Channel channels[MAX_CHANNELS];
    int channel_count;
    int32_t commands[64];
    int command_count;
    uint32_t state;
    double time;
    Log* log;
} Recorder;

static void* channel_table[17];
static void* recorder_table[71];
static void* log_table[4];

static int32_t STD reserved(void* self) {
    (void)self;
    return E_NOTIMPL_;
}

static int32_t answer(void* self, int* refs, const void* iid, void** out, const void* own) {
    if (out == NULL)
        return E_NOINTERFACE_;
    if (memcmp(iid, IID_UNKNOWN, 16) == 0 || (own != NULL && memcmp(iid, own, 16) == 0)) {
        *out = self;
        ++*refs;
        return 0;
    }
    return E_NOINTERFACE_;
}

static int32_t STD ch_query(Channel* c, const void* iid, void** out) {
    return answer(c, &c->refs, iid, out, IID_CHANNEL);
}
static uint32_t STD ch_addref(Channel* c) {
    return (uint32_t)++c->refs;
}
static uint32_t STD ch_release(Channel* c) {
    return (uint32_t)--c->refs;
}
static int32_t STD ch_setname(Channel* c, const char* name) {
    snprintf(c->name, sizeof c->name, "%s", name != NULL ? name : "");
    return 0;
}
static const char* STD ch_getname(Channel* c) {
    return c->name;
}
static int32_t STD ch_setfrequency(Channel* c, double f) {
    c->frequency = f;
    return 0;
}
static double STD ch_getfrequency(Channel* c) {
    return c->frequency;
}
static int32_t STD ch_setproperty(Channel* c, uint32_t id, CVariant v) {
    if (id == 5 && v.vt == 3)
        c->prop5 = v.u.lVal;
    else if (id == 3 && v.vt == 19)
        c->prop3 = v.u.ulVal;
    else if (id == 10 && v.vt == 13)
        c->owner = v.u.punkVal; /* borrowed for the call: not kept counted */
    return 0;
}
static bool STD ch_getproperty(Channel* c, uint32_t id, CVariant* v) {
    (void)c;
    if (id != 0 || v == NULL)
        return false;
    v->vt = 3;
    v->u.lVal = BLOCK_LENGTH;
    return true;
}
static int32_t STD ch_activate(Channel* c, int32_t how) {
    (void)how;
    c->activated = 1;
    return 0;
}
static int32_t STD ch_putdata(Channel* c, const float* block, int32_t count) {
    int i;
    if (count != -1 || block == NULL)
        return 0;
    if (c->blocks == 0)
        memcpy(c->first_block, block, sizeof c->first_block);
    for (i = 0; i < BLOCK_LENGTH; ++i) {
        if (c->blocks == 0 && i == 0)
            c->low = c->high = block[0];
        if (block[i] < c->low)
            c->low = block[i];
        if (block[i] > c->high)
            c->high = block[i];
    }
    ++c->blocks;
    return 0;
}

static int32_t STD log_query(Log* l, const void* iid, void** out) {
    return answer(l, &l->refs, iid, out, IID_LOG);
}
static uint32_t STD log_addref(Log* l) {
    return (uint32_t)++l->refs;
}
static uint32_t STD log_release(Log* l) {
    return (uint32_t)--l->refs;
}
static void copy16(char16_t* to, size_t size, const char16_t* from) {
    size_t i = 0;
    for (; from != NULL && from[i] != 0 && i + 1 < size; ++i)
        to[i] = from[i];
    to[i] = 0;
}
static int32_t STD log_addmessage(Log* l, const char16_t* source, const char16_t* text,
                                  int32_t kind) {
    if (l->count < 64) {
        copy16(l->sources[l->count], 16, source);
        copy16(l->texts[l->count], 128, text);
        l->kinds[l->count] = kind;
        ++l->count;
    }
    return 0;
}

static int32_t STD rec_query(Recorder* r, const void* iid, void** out) {
    return answer(r, &r->refs, iid, out, NULL);
}
static uint32_t STD rec_addref(Recorder* r) {
    return (uint32_t)++r->refs;
}
static uint32_t STD rec_release(Recorder* r) {
    return (uint32_t)--r->refs;
}
static Channel* STD rec_getchannel(Recorder* r, int32_t index) {
    if (index < 0 || index >= r->channel_count)
        return NULL;
    ++r->channels[index].refs;
    return &r->channels[index];
}
static int32_t STD rec_getchannelcount(Recorder* r) {
    return r->channel_count;
}
static uint32_t STD rec_getstate(Recorder* r, uint32_t mask) {
    return r->state & mask;
}
static Channel* STD rec_addchannel(Recorder* r, const char* name, int32_t a, int32_t b) {
    Channel* c;
    (void)a;
    (void)b;
    if (r->channel_count == MAX_CHANNELS)
        return NULL;
    c = &r->channels[r->channel_count++];
    memset(c, 0, sizeof *c);
    c->table = channel_table;
    c->refs = 1;
    ch_setname(c, name);
    return c;
}
static int32_t STD rec_removechannel(Recorder* r, Channel* c) {
    (void)r;
    if (c != NULL)
        c->removed = 1;
    return 0;
}
static int32_t STD rec_command(Recorder* r, int32_t code, void* asking) {
    (void)asking;
    if (r->command_count < 64)
        r->commands[r->command_count++] = code;
    return 0;
}
static int32_t STD rec_getproperty(Recorder* r, uint32_t id, CVariant* v) {
    if (id == 32 && r->log != NULL) {
        v->vt = 13;
        v->u.punkVal = r->log;
        ++r->log->refs;
        return 0;
    }
    return E_NOTIMPL_;
}
static void* STD rec_getmainwindow(Recorder* r) {
    (void)r;
    return NULL;
}
static int32_t STD rec_lockchanges(Recorder* r, void* asking, int32_t how) {
    (void)r;
    (void)asking;
    (void)how;
    return 0;
}
static int32_t STD rec_unlockchanges(Recorder* r, void* asking, int32_t how) {
    (void)r;
    (void)asking;
    (void)how;
    return 0;
}
static const char* STD rec_translatepath(Recorder* r, const char* path) {
    (void)r;
    return path;
}
static double STD rec_gettime(Recorder* r) {
    return r->time;
}

static void fill_tables(void) {
    int i;
    for (i = 0; i < 17; ++i)
        channel_table[i] = (void*)reserved;
    channel_table[0] = (void*)ch_query;
    channel_table[1] = (void*)ch_addref;
    channel_table[2] = (void*)ch_release;
    channel_table[5] = (void*)ch_setname;
    channel_table[6] = (void*)ch_getname;
    channel_table[7] = (void*)ch_setfrequency;
    channel_table[8] = (void*)ch_getfrequency;
    channel_table[10] = (void*)ch_setproperty;
    channel_table[11] = (void*)ch_getproperty;
    channel_table[15] = (void*)ch_activate;
    channel_table[16] = (void*)ch_putdata;
    for (i = 0; i < 71; ++i)
        recorder_table[i] = (void*)reserved;
    recorder_table[0] = (void*)rec_query;
    recorder_table[1] = (void*)rec_addref;
    recorder_table[2] = (void*)rec_release;
    recorder_table[8] = (void*)rec_getchannel;
    recorder_table[9] = (void*)rec_getchannelcount;
    recorder_table[14] = (void*)rec_getstate;
    recorder_table[18] = (void*)rec_addchannel;
    recorder_table[19] = (void*)rec_removechannel;
    recorder_table[20] = (void*)rec_command;
    recorder_table[24] = (void*)rec_getproperty;
    recorder_table[37] = (void*)rec_getmainwindow;
    recorder_table[49] = (void*)rec_lockchanges;
    recorder_table[50] = (void*)rec_unlockchanges;
    recorder_table[59] = (void*)rec_translatepath;
    recorder_table[70] = (void*)rec_gettime;
    log_table[0] = (void*)log_query;
    log_table[1] = (void*)log_addref;
    log_table[2] = (void*)log_release;
    log_table[3] = (void*)log_addmessage;
}

static bool has_command(const Recorder* r, int32_t code) {
    int i;
    for (i = 0; i < r->command_count; ++i)
        if (r->commands[i] == code)
            return true;
    return false;
}

static bool has_message(const Log* l, const char16_t* text, int32_t kind) {
    int i, k;
    for (i = 0; i < l->count; ++i) {
        if (l->kinds[i] != kind)
            continue;
        for (k = 0; text[k] != 0 && l->texts[i][k] == text[k]; ++k)
            ;
        if (text[k] == 0 && l->texts[i][k] == 0)
            return true;
    }
    return false;
}

static void free_bstr(uint16_t* text) {
#ifdef _WIN32
    SysFreeString((BSTR)text); /* the system's own call: a module's malloc would show here */
#else
    if (text != NULL)
        free((char*)text - 4);
#endif
}

/* Runs the message loop of this thread for `ms` milliseconds: the module's
 * window timers fire in it. */
static void pump(unsigned ms) {
#ifdef _WIN32
    const DWORD until = GetTickCount() + ms;
    MSG m;
    while ((int32_t)(until - GetTickCount()) > 0) {
        while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(5);
    }
#else
    (void)ms;
#endif
}

/* ---- the emulator module ---------------------------------------------------- */

#define NAME_1251 "\xDD\xEC\xF3\xEB\xFF\xF2\xEE\xF0\x20\xEA\xE0\xED\xE0\xEB\xEE\xE2"
#define DESCRIPTION_1251                                                                           \
    "\xCF\xEB\xE0\xE3\xE8\xED\x20\xE2\xE8\xF0\xF2\xF3\xE0\xEB\xFC\xED\xFB\xF5\x20\xEA\xE0\xED\xE0" \
    "\xEB\xEE\xE2"
#define ORDER_1251 "\xC7\xE0\xEA\xE0\xE7\x20\xE2\xED\xF3\xF2\xF0\xE5\xED\xED\xE8\xE9"
#define REMOTE_1251                                                                                \
    "\xD3\xE4\xE0\xEB\xE5\xED\xED\xEE\xE5\x20\xF3\xEF\xF0\xE0\xE2\xEB\xE5\xED\xE8\xE5"
#define LEVEL_1251 "\xD3\xF0\xEE\xE2\xE5\xED\xFC"
#define SINE_1251 "\xD1\xE8\xED\xF3\xF1"

typedef struct {
    uint32_t reserved0;
    void* asking;
    uint32_t reserved8;
    int32_t count;
    uint32_t reserved16;
    uint32_t reserved20;
    double* buffer;
} DataRequest;

static void check_common_slots(CObject* obj, const char* label) {
    void* out = NULL;
    unsigned char other[16];
    CVariant v;
    memcpy(other, IID_PLUGIN, 16);
    other[15] ^= 1;
    check((int32_t)slot(obj, 0, "QueryInterface", 2, (uintptr_t)IID_PLUGIN, (uintptr_t)&out) == 0 &&
              out == obj,
          "%s: QueryInterface(IRecorderPlugin)", label);
    out = &out;
    check((int32_t)slot(obj, 0, "QueryInterface", 2, (uintptr_t)other, (uintptr_t)&out) ==
                  E_NOINTERFACE_ &&
              out == &out,
          "%s: QueryInterface(other) answers E_NOINTERFACE and leaves out alone", label);
    check((uint32_t)slot(obj, 1, "AddRef", 0) == 3, "%s: AddRef gives 3", label);
    check((uint32_t)slot(obj, 2, "Release", 0) == 2, "%s: Release gives 2", label);
    check((uint32_t)slot(obj, 2, "Release", 0) == 1, "%s: Release gives 1", label);
    memset(&v, 0, sizeof v);
    check((uint8_t)slot(obj, 11, "getproperty", 2, (uintptr_t)1, (uintptr_t)&v) && v.vt == 8 &&
              v.u.bstrVal != NULL,
          "%s: getproperty(1) gives a BSTR", label);
    if (v.vt == 8)
        free_bstr(v.u.bstrVal);
    memset(&v, 0, sizeof v);
    v.vt = 3;
    v.u.lVal = 7;
    check(!slot_setproperty(obj, 1, v), "%s: setproperty answers false", label);
    check((uint8_t)slot(obj, 13, "canclose", 0), "%s: canclose", label);
    check((uint8_t)slot(obj, 7, "suspend", 0) && (uint8_t)slot(obj, 8, "resume", 0),
          "%s: suspend and resume", label);
}

static void run_tolvex(const char* folder, const char* scratch) {
    char path[1024], ini[1024], res[1024], text[2048];
    void* lib;
    CObject* obj;
    Recorder rec;
    Channel* level = NULL;
    Channel* sine = NULL;
    double values[BLOCK_LENGTH];
    DataRequest request;
    int i;

    snprintf(path, sizeof path, "%s" SEP "Tolvex" EXT, folder);
    lib = load(path);
    check(lib != NULL, "cannot load %s", path);
    if (lib == NULL)
        return;
#ifdef _WIN32
    {
        static const char* const names[] = {"_GetPluginType", "_GetPluginDescription",
                                            "_CreatePluginClass", "_DestroyPluginClass",
                                            "_GetPluginInfo"};
        check_export_table((HMODULE)lib, "Tolvex.dll", names, 5, NULL, 0);
    }
#endif
    check(symbol(lib, "GetPluginType") == NULL && symbol(lib, "CreatePluginClass") == NULL,
          "Tolvex exports a name without the underscore");
    check((int32_t)export_call(lib, "_GetPluginType", 0) == 0, "Tolvex: type 0");
    check(strcmp((const char*)(uintptr_t)export_call(lib, "_GetPluginDescription", 0),
                 ORDER_1251) == 0,
          "Tolvex: description");
    check_info(lib, "_GetPluginInfo", "Tolvex", NAME_1251, DESCRIPTION_1251, 1, 2);

    /* A configuration with a level and a sine, named by the settings file. */
    snprintf(res, sizeof res, "%s" SEP "session.res", scratch);
    snprintf(ini, sizeof ini, "%s" SEP "Tolvex.ini", scratch);
    snprintf(text, sizeof text, "[common]\r\nCurCFGFile=%s\r\n", res);
    check(write_file(ini, text), "cannot write %s", ini);
    check(write_file(res, "[common]\r\nCount=2\r\n"
                          "[Chan0]\r\nFs=100\r\nName=Level 5\r\nFormula=" LEVEL_1251 "\r\n"
                          "[Chan0formula]\r\nLevel=5\r\n"
                          "[Chan1]\r\nFs=200\r\nName=Sine 5 Hz\r\nFormula=" SINE_1251 "\r\n"
                          "[Chan1formula]\r\nMaxLevel=10\r\nMinLevel=-10\r\nfreq=5\r\n"),
          "cannot write %s", res);
    set_env("TOLVEX_INI", ini);

    obj = (CObject*)(uintptr_t)export_call(lib, "_CreatePluginClass", 0);
    check(obj != NULL, "Tolvex: CreatePluginClass gave null");
    if (obj == NULL)
        return;
    memset(&rec, 0, sizeof rec);
    rec.table = recorder_table;
    rec.refs = 1;
    check_common_slots(obj, "Tolvex");
    check((uint8_t)slot(obj, 5, "edit", 0), "Tolvex: edit");
    check((uint8_t)slot(obj, 3, "create", 1, (uintptr_t)&rec), "Tolvex: create");
    check((uint8_t)slot(obj, 4, "config", 0), "Tolvex: config");
    check((uint8_t)slot(obj, 6, "execute", 0), "Tolvex: execute");
    check(rec.channel_count == 2, "Tolvex: %d channels added, not 2", rec.channel_count);
    for (i = 0; i < rec.channel_count; ++i) {
        Channel* c = &rec.channels[i];
        check(c->activated && c->prop5 == 513 && c->prop3 == 4 && c->owner == obj,
              "Tolvex: channel %s set up", c->name);
        if (strcmp(c->name, "Level 5") == 0)
            level = c;
        if (strcmp(c->name, "Sine 5 Hz") == 0)
            sine = c;
    }
    check(level != NULL && level->frequency == 100.0, "Tolvex: the level channel at 100 Hz");
    check(sine != NULL && sine->frequency == 200.0, "Tolvex: the sine channel at 200 Hz");
    check((uint8_t)slot(obj, 9, "notify", 2, (uintptr_t)1, (uintptr_t)0),
          "Tolvex: PN_UPDATECHANNELS");
    check((uint8_t)slot(obj, 9, "notify", 2, (uintptr_t)3, (uintptr_t)0), "Tolvex: PN_RCSTART");
    pump(1600);
#ifdef _WIN32
    if (level != NULL && sine != NULL) {
        /* 1.6 s at 100 and 200 Hz in blocks of 10: about 16 and 32 blocks. */
        check(level->blocks >= 8 && level->blocks <= 20, "Tolvex: %d level blocks", level->blocks);
        check(level->low == 5.0f && level->high == 5.0f, "Tolvex: level values %g..%g", level->low,
              level->high);
        check(sine->blocks >= 16 && sine->blocks <= 40, "Tolvex: %d sine blocks", sine->blocks);
        check(sine->low >= -10.0f && sine->high <= 10.0f && sine->high - sine->low > 15.0f,
              "Tolvex: sine values %g..%g", sine->low, sine->high);
    }
#endif
    if (sine != NULL) {
        memset(&request, 0, sizeof request);
        memset(values, 0, sizeof values);
        request.asking = sine;
        request.count = BLOCK_LENGTH;
        request.buffer = values;
        check((uint8_t)slot(obj, 9, "notify", 2, (uintptr_t)10, (uintptr_t)&request),
              "Tolvex: PN_GETDATA");
        check(values[0] == 0.0 && values[5] > 0.0, "Tolvex: PN_GETDATA values %g, %g", values[0],
              values[5]);
#ifdef _WIN32
        /* The first block holds the same samples as the request, as floats. */
        for (i = 0; i < BLOCK_LENGTH && sine->blocks > 0; ++i)
            check(sine->first_block[i] == (float)values[i], "Tolvex: sample %d %g, not %g", i,
                  sine->first_block[i], values[i]);
#endif
    }
    check((uint8_t)slot(obj, 9, "notify", 2, (uintptr_t)5, (uintptr_t)0), "Tolvex: PN_RCSTOP");
    check(strcmp((const char*)(uintptr_t)slot(obj, 10, "getname", 0),
                 "\xC7\xE0\xEA\xE0\xE7\x20\xE2\xED\xF3\xF2\xF0") == 0,
          "Tolvex: getname");
    check((uint8_t)slot(obj, 14, "close", 0), "Tolvex: close");
    for (i = 0; i < rec.channel_count; ++i)
        check(rec.channels[i].refs == 1, "Tolvex: channel %d holds %d references after close", i,
              rec.channels[i].refs);
    check((int32_t)export_call(lib, "_DestroyPluginClass", 1, (uintptr_t)obj) == 0,
          "Tolvex: DestroyPluginClass");
    check(rec.refs == 1, "Tolvex: the host holds %d references", rec.refs);
    unload(lib);
}

/* ---- the remote-control module ------------------------------------------------ */

static void run_brantic(const char* folder, const char* scratch) {
    static const char16_t trace25[] = u"Получена нотификация с кодом 25";
    static const char16_t missing[] = u"Не найдена библиотека Orvane.dll";
    char path[1024], alone[1024], copy[1100], expected_file[256];
    void* lib;
    void* orvane;
    CObject* obj;
    Recorder rec;
    Log log;
    OrvaneRecord record;
    uint32_t word = 0;
    const char16_t* current[2] = {u"C:\\data\\", u"run1"};

    snprintf(path, sizeof path, "%s" SEP "Brantic" EXT, folder);
    lib = load(path);
    check(lib != NULL, "cannot load %s", path);
    if (lib == NULL)
        return;
#ifdef _WIN32
    {
        static const char* const names[] = {"GetPluginType",     "GetPluginDescription",
                                            "CreatePluginClass", "DestroyPluginClass",
                                            "GetPluginInfo",     KOVA_EXPORT};
        static const char* const members[] = {"_ZN8CBrantic", "_ZNK8CBrantic", "_ZTV8CBrantic",
                                              "_ZTI8CBrantic", "_ZTS8CBrantic"};
        check_export_table((HMODULE)lib, "Brantic.dll", names, 6, members, 5);
    }
    {
        uintptr_t args[2] = {(uintptr_t)&word, 0xDEADBEEFu};
        void* fn = symbol(lib, KOVA_EXPORT);
        check(fn != NULL, "Brantic: no " KOVA_EXPORT);
        if (fn != NULL)
            check((int32_t)call(KOVA_EXPORT, fn, 2, args, 8) == 0,
                  "Brantic: GetKovaComponentVersion result");
        check(word == 0x10000002u, "Brantic: version word %08X", word);
    }
#ifdef _WIN64
    check(symbol(lib, "_GetKovaComponentVersion@8") == NULL &&
              symbol(lib, "GetKovaComponentVersion@8") == NULL,
          "Brantic exports a decorated form of GetKovaComponentVersion");
#else
    check(symbol(lib, "GetKovaComponentVersion") == NULL &&
              symbol(lib, "GetKovaComponentVersion@8") == NULL,
          "Brantic exports another form of GetKovaComponentVersion");
#endif
#else
    (void)word;
#endif
    check(symbol(lib, "_GetPluginType") == NULL && symbol(lib, "_CreatePluginClass") == NULL,
          "Brantic exports a name with an underscore");
    check((int32_t)export_call(lib, "GetPluginType", 0) == 0, "Brantic: type 0");
    check_info(lib, "GetPluginInfo", "Brantic", REMOTE_1251, REMOTE_1251, 1, 0);

    obj = (CObject*)(uintptr_t)export_call(lib, "CreatePluginClass", 0);
    check(obj != NULL, "Brantic: CreatePluginClass gave null");
    if (obj == NULL)
        return;
    memset(&rec, 0, sizeof rec);
    memset(&log, 0, sizeof log);
    rec.table = recorder_table;
    rec.refs = 1;
    rec.state = 2; /* bit 1: state 2 */
    rec.time = 12.5;
    log.table = log_table;
    log.refs = 1;
    rec.log = &log;
    check_common_slots(obj, "Brantic");
    check((uint8_t)slot(obj, 3, "create", 1, (uintptr_t)&rec), "Brantic: create");
    orvane = loaded_orvane(folder);
    check(orvane != NULL, "Brantic: create did not load the server library");
    if (orvane != NULL) {
        PFN_OrvaneRecordOf record_of = (PFN_OrvaneRecordOf)symbol(orvane, "OrvaneRecordOf");
        PFN_OrvaneRunCommand run = (PFN_OrvaneRunCommand)symbol(orvane, "OrvaneRunCommand");
#ifndef _WIN32
        if (record_of == NULL) /* the Linux server has an HTTP endpoint instead */
            check((uint8_t)slot(obj, 4, "config", 0), "Brantic: config");
        else
#endif
            check(record_of != NULL && run != NULL, "Orvane: no test hooks");
        if (record_of != NULL && run != NULL) {
            check((uint8_t)slot(obj, 4, "config", 0), "Brantic: config");
            check((uint8_t)slot(obj, 9, "notify", 2, (uintptr_t)6, (uintptr_t)0),
                  "Brantic: PN_UPDATEDATA");
            check((uint8_t)slot(obj, 9, "notify", 2, (uintptr_t)25, (uintptr_t)current),
                  "Brantic: PN_CURRENTFILE");
            check((uint8_t)slot(obj, 6, "execute", 0), "Brantic: execute");
            check((uint8_t)slot(obj, 5, "edit", 0), "Brantic: edit");
            record_of(&record);
            check(record.attachCalls == 1 && record.attachKind == 2 && record.hasCommand,
                  "Orvane: the command object attached once, kind 2");
            check(record.stateCalls >= 1 && record.state == 2, "Orvane: state %d", record.state);
            check(record.timeCalls == 1 && record.time == 12.5, "Orvane: time %g", record.time);
            snprintf(expected_file, sizeof expected_file, "C:\\data\\run1%srun1.kova", SEP);
            check(strcmp(record.file, expected_file) == 0, "Orvane: file %s", record.file);
            check(has_command(&rec, 19), "Brantic: host command 19");
            check(run(ORVANE_START) == 1 && has_command(&rec, 1),
                  "Orvane's start reaches host command 1");
            check(run(ORVANE_STOP) == 1 && has_command(&rec, 3),
                  "Orvane's stop reaches host command 3");
            check(has_message(&log, trace25, 1), "Brantic: trace of code 25 in the log");
            check(log.count > 0 && log.sources[0][0] == u'B' && log.sources[0][7] == 0,
                  "Brantic: log source");
        }
    }
    check((uint8_t)slot(obj, 14, "close", 0), "Brantic: close");
    check(loaded_orvane(folder) == NULL, "Brantic: close left the server library loaded");
    check((int32_t)export_call(lib, "DestroyPluginClass", 1, (uintptr_t)obj) == 0,
          "Brantic: DestroyPluginClass");
    check((uint32_t)slot(obj, 2, "Release", 0) == 0, "Brantic: the last Release gives 0");
    check(log.refs == 1, "Brantic: the log holds %d references", log.refs);
    unload(lib);

    /* Alone in a folder: create fails and says why. */
    snprintf(alone, sizeof alone, "%s" SEP "alone", scratch);
    make_folder(alone);
    snprintf(copy, sizeof copy, "%s" SEP "Brantic" EXT, alone);
    check(copy_file(path, copy), "cannot copy %s", path);
    lib = load(copy);
    check(lib != NULL, "cannot load %s", copy);
    if (lib == NULL)
        return;
    obj = (CObject*)(uintptr_t)export_call(lib, "CreatePluginClass", 0);
    if (obj != NULL) {
        memset(&log, 0, sizeof log);
        log.table = log_table;
        log.refs = 1;
        check(!(uint8_t)slot(obj, 3, "create", 1, (uintptr_t)&rec),
              "Brantic: create without the server library succeeded");
        check(has_message(&log, missing, 7), "Brantic: no kind-7 message of the missing library");
        slot(obj, 14, "close", 0);
        slot(obj, 2, "Release", 0);
    }
    unload(lib);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s <module folder> <scratch folder>\n", argv[0]);
        return 2;
    }
    make_folder(argv[2]);
#ifndef _WIN32
    set_env("TOLVEX_UI", "none");
    set_env("BRANTIC_UI", "none");
    set_env("ORVANE_PORT", "0");
    set_env("ORVANE_TOKEN", "module-host-token");
#endif
    fill_tables();
    run_tolvex(argv[1], argv[2]);
    run_brantic(argv[1], argv[2]);
    printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
