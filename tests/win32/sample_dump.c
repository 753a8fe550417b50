/* Loads the emulator module as a recorder host does, with a configuration of
 * every signal kind, and writes the samples it gives to a file, one a line
 * with its bits in hexadecimal: the blocks it pushes while generating (floats),
 * its answers to data requests (doubles) and to range requests (floats and
 * doubles, far into the run too). The same program built for Windows and for
 * Linux must write the same file.
 * Usage: sample_dump <folder with Tolvex> <scratch folder> <output file>
 * Exit 0 when every sample was written, 1 with the reason otherwise. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L
#endif
#include <stdarg.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#define SEP "\\"
#define EXT ".dll"
#else
#include <dlfcn.h>
#include <sys/stat.h>
#define SEP "/"
#define EXT ".so"
/* The module's timers run in Qt's event loop on this thread (sample_pump.cpp). */
void sample_pump(unsigned ms);
#endif

#if defined(__i386__)
#define STD __attribute__((stdcall))
#else
#define STD
#endif

static void fail(const char* what, ...) {
    va_list ap;
    va_start(ap, what);
    fprintf(stderr, "sample_dump: ");
    vfprintf(stderr, what, ap);
    fprintf(stderr, "\n");
    va_end(ap);
    exit(1);
}

/* ---- the host's objects, as plain operation tables ------------------------ */

typedef struct {
    void** table;
} CObject;

typedef struct {
    uint16_t vt, r1, r2, r3;
    union {
        int32_t lVal;
        uint32_t ulVal;
        void* punkVal;
        void* pair[2];
    } u;
} CVariant;

static const unsigned char IID_UNKNOWN[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
static const unsigned char IID_CHANNEL[16] = {0x61, 0xE3, 0xDA, 0xE8, 0xEE, 0x53, 0xD7, 0x11,
                                              0x92, 0x44, 0x00, 0xE0, 0x29, 0x28, 0x8A, 0x7F};
static const unsigned char IID_LOG[16] = {0xE4, 0x1D, 0x35, 0x3E, 0xA8, 0xD0, 0x2E, 0x45,
                                          0xB0, 0x0C, 0x22, 0x87, 0x69, 0xF5, 0xBC, 0x1E};
#define E_NOINTERFACE_ ((int32_t)0x80004002u)
#define E_NOTIMPL_ ((int32_t)0x80004001u)

#define MAX_CHANNELS 16
#define MAX_PUSHED 40000

typedef struct {
    void** table;
    int refs;
    char name[64];
    double frequency;
    int32_t block_length; /* 0: the channel pushes nothing */
    int32_t wanted;       /* pushed samples to record */
    int32_t pushed;
    float* samples;
} Channel;

typedef struct {
    void** table;
    int refs;
    int messages;
} Log;

typedef struct {
    void** table;
    int refs;
    Channel channels[MAX_CHANNELS];
    int channel_count;
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
    (void)c;
    (void)id;
    (void)v;
    return 0;
}
static bool STD ch_getproperty(Channel* c, uint32_t id, CVariant* v) {
    if (id != 0 || v == NULL)
        return false;
    v->vt = 3;
    v->u.lVal = c->block_length;
    return true;
}
static int32_t STD ch_activate(Channel* c, int32_t how) {
    (void)c;
    (void)how;
    return 0;
}
static int32_t STD ch_putdata(Channel* c, const float* block, int32_t count) {
    int32_t i;
    if (count != -1 || block == NULL)
        fail("%s: putdata(%p, %d), not a whole block", c->name, (const void*)block, count);
    for (i = 0; i < c->block_length && c->pushed < c->wanted; ++i)
        c->samples[c->pushed++] = block[i];
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
static int32_t STD log_addmessage(Log* l, const uint16_t* source, const uint16_t* text,
                                  int32_t kind) {
    (void)source;
    (void)text;
    (void)kind;
    ++l->messages;
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
    (void)r;
    (void)mask;
    return 0;
}

/* How each configured channel is received: its block length (0 for one that
 * only answers requests) and how many of its pushed samples are recorded. */
static void receive_as(Channel* c) {
    static const struct {
        const char* name;
        int32_t block_length, wanted;
    } plan[] = {{"level", 7, 2000},  {"sine", 256, 32768}, {"sine-offset", 10, 8192},
                {"saw", 1, 4000},    {"noise", 64, 8192},  {"sum", 10, 8192},
                {"sum-noise", 0, 0}, {"sine-slow", 3, 600}};
    size_t i;
    for (i = 0; i < sizeof plan / sizeof plan[0]; ++i)
        if (strcmp(plan[i].name, c->name) == 0) {
            c->block_length = plan[i].block_length;
            c->wanted = plan[i].wanted;
            return;
        }
    fail("the module added a channel '%s' the configuration does not have", c->name);
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
    receive_as(c);
    c->samples = (float*)calloc(MAX_PUSHED, sizeof(float));
    if (c->samples == NULL)
        fail("out of memory");
    return c;
}
static int32_t STD rec_removechannel(Recorder* r, Channel* c) {
    (void)r;
    (void)c;
    return 0;
}
static int32_t STD rec_command(Recorder* r, int32_t code, void* asking) {
    (void)r;
    (void)code;
    (void)asking;
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
static const char* STD rec_translatepath(Recorder* r, const char* path) {
    (void)r;
    return path;
}
static double STD rec_gettime(Recorder* r) {
    (void)r;
    return 0.0;
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
    recorder_table[50] = (void*)rec_lockchanges;
    recorder_table[59] = (void*)rec_translatepath;
    recorder_table[70] = (void*)rec_gettime;
    log_table[0] = (void*)log_query;
    log_table[1] = (void*)log_addref;
    log_table[2] = (void*)log_release;
    log_table[3] = (void*)log_addmessage;
}

/* ---- the module ------------------------------------------------------------ */

typedef bool(STD* BoolSlot)(CObject*);
typedef bool(STD* CreateSlot)(CObject*, void*);
typedef bool(STD* NotifySlot)(CObject*, uint32_t, uintptr_t);

typedef struct {
    uint32_t reserved0;
    void* asking;
    uint32_t reserved8;
    int32_t count;
    uint32_t reserved16;
    uint32_t reserved20;
    double* buffer;
} DataRequest;

typedef struct {
    uint32_t size;
    void* asking;
    uint64_t first;
    uint64_t count;
    float* floats;
    double* doubles;
    uint32_t noise_state;
    double frequency;
} DataRangeRequest;

static void* symbol(void* lib, const char* name) {
#ifdef _WIN32
    return (void*)GetProcAddress((HMODULE)lib, name);
#else
    return dlsym(lib, name);
#endif
}

static bool notify(CObject* obj, uint32_t code, uintptr_t param) {
    return ((NotifySlot)obj->table[9])(obj, code, param);
}

/* Runs this thread's message loop for `ms` milliseconds: the module's timers
 * fire in it. */
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
    sample_pump(ms);
#endif
}

static void put_float(FILE* out, const char* what, const char* name, uint64_t index, float x) {
    uint32_t bits;
    memcpy(&bits, &x, sizeof bits);
    fprintf(out, "%s %s %llu %08lx\n", what, name, (unsigned long long)index, (unsigned long)bits);
}

static void put_double(FILE* out, const char* what, const char* name, uint64_t index, double x) {
    uint64_t bits;
    memcpy(&bits, &x, sizeof bits);
    fprintf(out, "%s %s %llu %016llx\n", what, name, (unsigned long long)index,
            (unsigned long long)bits);
}

/* Every kind, with frequencies, levels and periods that are not round in
 * binary; the sums nest three deep and hold every kind. */
static const char* const CONFIGURATION =
    "[common]\r\nCount=8\r\n"
    "[Chan0]\r\nFs=1000\r\nName=level\r\nFormula=\xD3\xF0\xEE\xE2\xE5\xED\xFC\r\n"
    "[Chan0formula]\r\nLevel=-3.3\r\n"
    "[Chan1]\r\nFs=216000\r\nName=sine\r\nFormula=\xD1\xE8\xED\xF3\xF1\r\n"
    "[Chan1formula]\r\nMaxLevel=10\r\nMinLevel=-10\r\nfreq=50\r\n"
    "[Chan2]\r\nFs=44100\r\nName=sine-offset\r\nFormula=\xD1\xE8\xED\xF3\xF1\r\n"
    "[Chan2formula]\r\nMaxLevel=7.7\r\nMinLevel=-2.1\r\nfreq=1234.567\r\n"
    "[Chan3]\r\nFs=12345.6\r\nName=saw\r\nFormula=\xCF\xE8\xEB\xE0\r\n"
    "[Chan3formula]\r\nMaxLevel=3.1\r\nMinLevel=-1.7\r\nPeriod=0.0123\r\n"
    "[Chan4]\r\nFs=20000\r\nName=noise\r\nFormula=\xD8\xF3\xEC\r\n"
    "[Chan4formula]\r\nMaxLevel=5.5\r\nMinLevel=-4.4\r\n"
    "[Chan5]\r\nFs=48000\r\nName=sum\r\nFormula=\xD1\xF3\xEC\xEC\xE0\r\n"
    "[Chan5formula]\r\nPartsCount=3\r\n"
    "[Chan5formula_Part0]\r\nFormula=\xD1\xE8\xED\xF3\xF1\r\nMaxLevel=2\r\nMinLevel=-2\r\n"
    "freq=333.3\r\n"
    "[Chan5formula_Part1]\r\nFormula=\xD1\xF3\xEC\xEC\xE0\r\nPartsCount=2\r\n"
    "[Chan5formula_Part1_Part0]\r\nFormula=\xCF\xE8\xEB\xE0\r\nMaxLevel=1\r\nMinLevel=0\r\n"
    "Period=0.01\r\n"
    "[Chan5formula_Part1_Part1]\r\nFormula=\xD1\xF3\xEC\xEC\xE0\r\nPartsCount=2\r\n"
    "[Chan5formula_Part1_Part1_Part0]\r\nFormula=\xD3\xF0\xEE\xE2\xE5\xED\xFC\r\nLevel=0.1\r\n"
    "[Chan5formula_Part1_Part1_Part1]\r\nFormula=\xD1\xE8\xED\xF3\xF1\r\nMaxLevel=0.5\r\n"
    "MinLevel=0.25\r\nfreq=7.1\r\n"
    "[Chan5formula_Part2]\r\nFormula=\xD3\xF0\xEE\xE2\xE5\xED\xFC\r\nLevel=1.5\r\n"
    "[Chan6]\r\nFs=8000\r\nName=sum-noise\r\nFormula=\xD1\xF3\xEC\xEC\xE0\r\n"
    "[Chan6formula]\r\nPartsCount=3\r\n"
    "[Chan6formula_Part0]\r\nFormula=\xD8\xF3\xEC\r\nMaxLevel=1\r\nMinLevel=-1\r\n"
    "[Chan6formula_Part1]\r\nFormula=\xD1\xF3\xEC\xEC\xE0\r\nPartsCount=2\r\n"
    "[Chan6formula_Part1_Part0]\r\nFormula=\xD8\xF3\xEC\r\nMaxLevel=0.3\r\nMinLevel=0.2\r\n"
    "[Chan6formula_Part1_Part1]\r\nFormula=\xD1\xE8\xED\xF3\xF1\r\nMaxLevel=4\r\nMinLevel=-4\r\n"
    "freq=60\r\n"
    "[Chan6formula_Part2]\r\nFormula=\xCF\xE8\xEB\xE0\r\nMaxLevel=9\r\nMinLevel=-9\r\n"
    "Period=0.5\r\n"
    "[Chan7]\r\nFs=150\r\nName=sine-slow\r\nFormula=\xD1\xE8\xED\xF3\xF1\r\n"
    "[Chan7formula]\r\nMaxLevel=100\r\nMinLevel=-100\r\nfreq=0.1\r\n";

#define DATA_COUNT 8192
#define RANGE_COUNT 2048

int main(int argc, char** argv) {
    /* Far into a run as well: 2^32 + 1 samples, and 2^40 - 3 (about 160
     * years at 216 kHz), where the sine's argument is large. */
    static const uint64_t range_firsts[] = {0, 4294967297ull, 1099511627773ull};
    static double doubles[DATA_COUNT];
    static float floats[RANGE_COUNT];
    char path[1024], ini[1024], res[1024], text[2048];
    void* lib;
    CObject* (*create_plugin)(void); /* the exports are cdecl */
    CObject* obj;
    Recorder rec;
    Log log;
    FILE* out;
    FILE* f;
    int i, waited;
    size_t r;
    bool all;

    if (argc != 4) {
        fprintf(stderr, "usage: sample_dump <folder with Tolvex> <scratch folder> <output file>\n");
        return 2;
    }
    fill_tables();
    snprintf(path, sizeof path, "%s" SEP "Tolvex" EXT, argv[1]);
    snprintf(res, sizeof res, "%s" SEP "samples.res", argv[2]);
    snprintf(ini, sizeof ini, "%s" SEP "Tolvex.ini", argv[2]);
#ifdef _WIN32
    CreateDirectoryA(argv[2], NULL);
    SetEnvironmentVariableA("TOLVEX_INI", ini);
#else
    mkdir(argv[2], 0700);
    setenv("TOLVEX_INI", ini, 1);
    setenv("TOLVEX_UI", "none", 1); /* the headless views: no window */
#endif
    snprintf(text, sizeof text, "[common]\r\nCurCFGFile=%s\r\n", res);
    if ((f = fopen(ini, "wb")) == NULL || fputs(text, f) < 0 || fclose(f) != 0)
        fail("cannot write %s", ini);
    if ((f = fopen(res, "wb")) == NULL || fputs(CONFIGURATION, f) < 0 || fclose(f) != 0)
        fail("cannot write %s", res);

#ifdef _WIN32
    lib = (void*)LoadLibraryA(path);
    if (lib == NULL)
        fail("cannot load %s (error %lu)", path, (unsigned long)GetLastError());
#else
    lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL)
        fail("cannot load %s: %s", path, dlerror());
#endif
    *(void**)&create_plugin = symbol(lib, "_CreatePluginClass");
    if (create_plugin == NULL)
        fail("%s has no _CreatePluginClass", path);
    obj = create_plugin();
    if (obj == NULL)
        fail("CreatePluginClass gave null");

    memset(&rec, 0, sizeof rec);
    memset(&log, 0, sizeof log);
    rec.table = recorder_table;
    rec.refs = 1;
    log.table = log_table;
    log.refs = 1;
    rec.log = &log;
    if (!((CreateSlot)obj->table[3])(obj, &rec) || !((BoolSlot)obj->table[4])(obj) ||
        !((BoolSlot)obj->table[6])(obj))
        fail("create, config or execute answered false");
    if (rec.channel_count != 8)
        fail("%d channels added, not 8", rec.channel_count);
    /* The module binds its channels to the host's, reading their blocks. */
    if (!notify(obj, 1, 0))
        fail("PN_UPDATECHANNELS answered false");

    out = fopen(argv[3], "wb");
    if (out == NULL)
        fail("cannot write %s", argv[3]);

    /* Data requests first, from sample 0: the noise they draw comes from the
     * module's own generator, which the run then goes on from. */
    for (i = 0; i < rec.channel_count; ++i) {
        Channel* c = &rec.channels[i];
        DataRequest request;
        memset(&request, 0, sizeof request);
        request.asking = c;
        request.count = DATA_COUNT;
        request.buffer = doubles;
        if (!notify(obj, 10, (uintptr_t)&request))
            fail("%s: PN_GETDATA answered false", c->name);
        put_double(out, "frequency", c->name, 0, c->frequency);
        for (r = 0; r < DATA_COUNT; ++r)
            put_double(out, "data", c->name, r, doubles[r]);
    }
    /* Range requests, floats and doubles, with noise states of their own. */
    for (i = 0; i < rec.channel_count; ++i) {
        Channel* c = &rec.channels[i];
        size_t k;
        for (k = 0; k < sizeof range_firsts / sizeof range_firsts[0]; ++k) {
            int pass;
            for (pass = 0; pass < 2; ++pass) {
                DataRangeRequest request;
                char what[32];
                memset(&request, 0, sizeof request);
                request.size = (uint32_t)sizeof request;
                request.asking = c;
                request.first = range_firsts[k];
                request.count = RANGE_COUNT;
                request.noise_state = 0x2545F491u + (uint32_t)k;
                if (pass == 0)
                    request.floats = floats;
                else
                    request.doubles = doubles;
                if (!notify(obj, 40, (uintptr_t)&request))
                    fail("%s: PN_GETDATARANGE answered false", c->name);
                snprintf(what, sizeof what, "range-%s", pass == 0 ? "floats" : "doubles");
                for (r = 0; r < RANGE_COUNT; ++r) {
                    if (pass == 0)
                        put_float(out, what, c->name, request.first + r, floats[r]);
                    else
                        put_double(out, what, c->name, request.first + r, doubles[r]);
                }
                fprintf(out, "%s-state %s %llu %08lx\n", what, c->name,
                        (unsigned long long)request.first, (unsigned long)request.noise_state);
            }
        }
    }

    /* A run: the blocks each channel pushes, until every channel has pushed
     * what is recorded of it (40 s at most). */
    if (!notify(obj, 3, 0))
        fail("PN_RCSTART answered false");
    for (waited = 0;; waited += 100) {
        all = true;
        for (i = 0; i < rec.channel_count; ++i)
            all = all && rec.channels[i].pushed == rec.channels[i].wanted;
        if (all)
            break;
        if (waited >= 40000) {
            for (i = 0; i < rec.channel_count; ++i)
                fprintf(stderr, "  %s: %d of %d samples pushed\n", rec.channels[i].name,
                        rec.channels[i].pushed, rec.channels[i].wanted);
            fail("the run pushed too few samples in 40 s");
        }
        pump(100);
    }
    if (!notify(obj, 5, 0))
        fail("PN_RCSTOP answered false");
    /* A run that fell behind skips samples, and tells the log: then the
     * pushed samples are not those of a whole run. */
    if (log.messages != 0)
        fail("the run skipped samples (the module wrote %d messages to the log)", log.messages);
    for (i = 0; i < rec.channel_count; ++i)
        for (r = 0; r < (size_t)rec.channels[i].pushed; ++r)
            put_float(out, "pushed", rec.channels[i].name, r, rec.channels[i].samples[r]);
    if (fclose(out) != 0)
        fail("cannot write %s", argv[3]);

    if (!((BoolSlot)obj->table[14])(obj))
        fail("close answered false");
    ((int32_t(*)(CObject*))symbol(lib, "_DestroyPluginClass"))(obj);
    for (i = 0; i < rec.channel_count; ++i)
        free(rec.channels[i].samples);
    return 0;
}
