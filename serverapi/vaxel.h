// The Orlan API of the Velora server (libvaxel) as the collector uses it.
//
// The collector never calls these entry points directly: every call goes
// through its QVD_ wrapper (serverapi/qvd_api.h).  A VxStatus of 0 is success;
// status & 0x3FFF selects the message text VxLoadString returns.
#ifndef QVD_SERVERAPI_VAXEL_H_
#define QVD_SERVERAPI_VAXEL_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint16_t VxStatus;
typedef uint16_t VxHandle;  // every server handle is 16 bits wide
typedef VxHandle VxMemHandle;
typedef VxHandle VxDbHandle;
typedef VxHandle VxDocHandle;
typedef VxHandle VxListHandle;

// An opaque point in time, 8 bytes.
typedef struct VxTimeDate {
  uint32_t Innards[2];
} VxTimeDate;

// Date-order flags in VxLocaleFormat.Flags.
#define VX_INTL_DATE_DMY 0x0040
#define VX_INTL_DATE_YMD 0x0080

// The server's international settings record: 140 bytes.  The first 16-bit
// word holds flags (VX_INTL_DATE_DMY, VX_INTL_DATE_YMD; neither: month first),
// the thousands separator text starts at byte 23 and the decimal separator
// text at byte 28.
typedef struct VxLocaleFormat {
  uint16_t Flags;                 // byte 0
  unsigned char Reserved1[21];    // bytes 2..22
  char ThousandString[5];         // byte 23
  char DecimalString[5];          // byte 28
  char DateString[5];             // byte 33: date separator
  char TimeString[5];             // byte 38: time separator
  unsigned char Reserved2[97];    // bytes 43..139
} VxLocaleFormat;

#ifdef __cplusplus
}  // extern "C"
static_assert(sizeof(VxLocaleFormat) == 140, "international settings record is 140 bytes");
#endif

#endif  // QVD_SERVERAPI_VAXEL_H_
