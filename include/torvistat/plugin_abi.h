/*
 * The public C ABI of the station statistics plug-in (libtorvistat9.so).
 *
 * A host loads the library with dlopen() and calls its four exports. Through them it hands over
 * two value functions of its own, its main window, a parent menu item and a function that
 * creates menu items. A host needs nothing but this header.
 */
#ifndef TORVISTAT_PLUGIN_ABI_H
#define TORVISTAT_PLUGIN_ABI_H

#include <stdint.h>
#include <stdlib.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Type tags of a value, numbered as OLE VARIANT numbers them. */
enum {
    TORVI_VT_EMPTY = 0,
    TORVI_VT_NULL = 1,
    TORVI_VT_I4 = 3,
    TORVI_VT_R8 = 5,
    TORVI_VT_BSTR = 8,
    TORVI_VT_BOOL = 11
};

/*
 * A value handed from the host to the plug-in. The plug-in passes a variant initialised to
 * empty, the host writes one value into it, the plug-in reads and clears it. A string is UTF-8,
 * NUL-terminated, allocated with malloc() by the writer and released with free() on clearing.
 * A boolean is -1 for true and 0 for false.
 */
typedef struct TorviVariant {
    uint16_t vt;
    union {
        int32_t i4;
        double r8;
        char* str;
        int16_t boolVal;
    } value;
} TorviVariant;

static inline void TorviVariantInit(TorviVariant* v) {
    v->vt = TORVI_VT_EMPTY;
    v->value.r8 = 0;
}

static inline void TorviVariantClear(TorviVariant* v) {
    if (v->vt == TORVI_VT_BSTR)
        free(v->value.str);
    TorviVariantInit(v);
}

/* The host's menu item: a QAction*. An item that gets sub-items carries a QMenu. */
typedef void* TorviMenuItem;

/* Value codes: 46 (an integer mode), 5 (the fuel database folder). param is always 0. */
typedef void (*TorviGetValueFn)(TorviVariant* result, int32_t code, int32_t param);
/* Value codes: 11 (1: local statistics server), 13 (its computer), 16 (caption suffix). */
typedef void (*TorviGetPrivValueFn)(TorviVariant* result, int32_t code);
/* Creates an item and inserts it into the parent's sub-menu at position index. */
typedef TorviMenuItem (*TorviCreateMenuItemFn)(TorviMenuItem parent, int32_t index);

/* The goods library's export GetCurrentDepartmentPath: path holds the current text (UTF-8,
 * NUL-terminated); the function may overwrite it within capacity bytes. */
typedef void (*TorviGetCurrentDepartmentPathFn)(char* path, int32_t capacity);

/* The goods library's file under $DARA_ROOT and the name of its export. The plug-in only looks
 * for it among the libraries the host has loaded from there. */
#define TORVI_GOODS_LIBRARY_FILE "libVedoz9.so"
#define TORVI_EXPORT_GET_CURRENT_DEPARTMENT_PATH "GetCurrentDepartmentPath"

#if defined(__GNUC__)
#define TORVI_EXPORT __attribute__((visibility("default")))
#else
#define TORVI_EXPORT
#endif

/* Stores getValue; the first and third arguments are ignored. */
TORVI_EXPORT void InitReports(int32_t reserved1, TorviGetValueFn getValue, int32_t reserved2);
/* Stores getValue in the same place as InitReports; the later call wins. */
TORVI_EXPORT void SetGetValue(TorviGetValueFn getValue);
/* Stores getPrivValue; the first argument is ignored. */
TORVI_EXPORT void SetNewUserPriv(int32_t reserved, TorviGetPrivValueFn getPrivValue);
/* Takes the host's main window (a QWidget*), hangs the statistics menu under parent. */
TORVI_EXPORT void InitReportMenu(void* applicationWindow, TorviMenuItem parent,
                                 TorviCreateMenuItemFn createMenuItem, int32_t reserved);

/* Names of the exports, for dlsym(). */
#define TORVI_EXPORT_INIT_REPORTS "InitReports"
#define TORVI_EXPORT_SET_GET_VALUE "SetGetValue"
#define TORVI_EXPORT_SET_NEW_USER_PRIV "SetNewUserPriv"
#define TORVI_EXPORT_INIT_REPORT_MENU "InitReportMenu"

typedef void (*TorviInitReportsFn)(int32_t, TorviGetValueFn, int32_t);
typedef void (*TorviSetGetValueFn)(TorviGetValueFn);
typedef void (*TorviSetNewUserPrivFn)(int32_t, TorviGetPrivValueFn);
typedef void (*TorviInitReportMenuFn)(void*, TorviMenuItem, TorviCreateMenuItemFn, int32_t);

#ifdef __cplusplus
}
#endif

#endif /* TORVISTAT_PLUGIN_ABI_H */
