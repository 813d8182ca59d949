// The cabinet decoder: reads Microsoft cabinet files (stored, MSZIP, Quantum
// and LZX folders, cabinet sets spanning several files) and hands the files
// inside to its caller one by one.
//
// The interface follows Microsoft's published file decompression interface:
//   FDICreate   makes a context with seven caller-supplied callbacks (memory
//               and file I/O); the decoder itself never opens a file or
//               allocates memory any other way;
//   FDICopy     walks one cabinet (and the next cabinets of its set where a
//               folder continues) and reports every file entry through a
//               notification callback; the caller answers with an open
//               output handle to have a file written, 0 to skip it, -1 to
//               abort;
//   FDIDestroy  releases the context.
// Beside it, FDIListCabinet walks one cabinet's header, folders and file
// entries through the same callbacks and reports what the notifications do
// not carry (the method of each entry's folder, offsets, block counts).
//
// Failures are reported as false/null plus the caller's ERF, which holds one
// of the FDIERROR codes below.
#ifndef KESTRIN_CABINET_FDI_H_
#define KESTRIN_CABINET_FDI_H_

#include <cstddef>
#include <cstdint>

namespace kestrin::cab {

// ---------------------------------------------------------------------------
// Error record and error codes

// Error record, owned by the caller and filled by the decoder. FDICreate
// zeroes it; every failure sets all three fields; nothing clears it later
// (a successful call leaves the last error in place).
struct ERF {
  int32_t erfOper;  // FDIERROR code
  int32_t erfType;  // the cabinet version found for FDIERROR_UNKNOWN_CABINET_VERSION, else 0
  int32_t fError;   // 1 once an error was recorded
};

enum FDIERROR : int32_t {
  FDIERROR_NONE = 0,
  FDIERROR_CABINET_OPEN = 1,              // either open of the cabinet file failed
  FDIERROR_NOT_A_CABINET = 2,             // short header, no "MSCF", bad reserve sizes
  FDIERROR_UNKNOWN_CABINET_VERSION = 3,   // version not 1.3 (erfType holds it)
  FDIERROR_CORRUPT_CABINET = 4,           // seek/record/string read failed, block too
                                          // large, checksum differs, ...
  FDIERROR_ALLOC_FAIL = 5,                // the alloc callback returned null
  FDIERROR_BAD_COMPR_TYPE = 6,            // folder method not stored/MSZIP/Quantum/LZX
  FDIERROR_MDI_FAIL = 7,                  // a block decoder failed or produced the wrong size
  FDIERROR_TARGET_FILE = 8,               // short write, or close notification answered 0
  FDIERROR_RESERVE_MISMATCH = 9,          // folder/data reserve differs from the first cabinet's
  FDIERROR_WRONG_CABINET = 10,            // next cabinet has another set id or index
  FDIERROR_USER_ABORT = 11,               // a callback answered -1
};

// Short English text of an error code ("no error", "corrupt cabinet", ...);
// never null.
const char* FDIErrorText(int32_t erfOper);

// ---------------------------------------------------------------------------
// Callbacks

// Handles are the caller's; the decoder only passes them back. A handle is
// never 0 (0 answers "skip this file" to fdintCOPY_FILE) and never -1.
using INT_PTR = intptr_t;

// Memory. The same function types as the block decoders use.
using PFNALLOC = void* (*)(uint32_t cb);
using PFNFREE = void (*)(void* pv);

// File I/O, shaped like the C runtime's low-level calls. The decoder opens
// cabinet files only, always with oflag _O_BINARY|_O_RDONLY (0x8000) and
// pmode 0x180. read/write return the number of bytes moved or
// static_cast<uint32_t>(-1); close returns 0 on success; seek (origin 0 start,
// 1 current, 2 end) returns the new position or -1.
using PFNOPEN = INT_PTR (*)(const char* pszFile, int oflag, int pmode);
using PFNREAD = uint32_t (*)(INT_PTR hf, void* pv, uint32_t cb);
using PFNWRITE = uint32_t (*)(INT_PTR hf, const void* pv, uint32_t cb);
using PFNCLOSE = int (*)(INT_PTR hf);
using PFNSEEK = long (*)(INT_PTR hf, long dist, int seektype);

inline constexpr uint32_t kIoError = static_cast<uint32_t>(-1);

// Flag and permission values the decoder hands to the open callback
// (C runtime values; a POSIX open callback translates them).
inline constexpr int kOpenReadOnlyBinary = 0x8000;  // _O_BINARY | _O_RDONLY
inline constexpr int kOpenPermission = 0x180;       // _S_IREAD | _S_IWRITE

// Processor type handed to FDICreate (stored and passed to Quantum and LZX).
inline constexpr int cpuUNKNOWN = -1;
inline constexpr int cpu80286 = 0;
inline constexpr int cpu80386 = 1;

// ---------------------------------------------------------------------------
// Notifications

enum FDINOTIFICATIONTYPE : int32_t {
  fdintCABINET_INFO = 0,     // a cabinet's header was read
  fdintPARTIAL_FILE = 1,     // a file continued from a previous cabinet (not reached by continuing)
  fdintCOPY_FILE = 2,        // a file is offered: answer an output handle, 0 to skip, -1 to abort
  fdintCLOSE_FILE_INFO = 3,  // a file was written completely: close hf
  fdintNEXT_CABINET = 4,     // a folder continues in the next cabinet
  fdintENUMERATE = 5,        // the list of file entries is used up (or about to start)
};

// Record handed to the notification callback. Which fields are filled depends
// on the kind:
//   fdintCABINET_INFO    psz1 next cabinet, psz2 next disk, psz3 cabinet
//                        directory, setID, iCabinet;
//   fdintPARTIAL_FILE,
//   fdintCOPY_FILE       psz1 file name as stored, psz2 previous cabinet,
//                        psz3 previous disk, cb size, date, time, attribs,
//                        iFolder (as stored);
//   fdintCLOSE_FILE_INFO psz1 name, hf, date, time, attribs without 0x40,
//                        cb 1 when 0x40 (execute) was set else 0, iFolder;
//   fdintNEXT_CABINET    psz1 next cabinet, psz2 next disk, psz3 cabinet
//                        directory (writable, room for 256 characters and its
//                        terminator: the callback may change it), setID,
//                        iCabinet expected next, fdie (0 the first time, the
//                        failure of the last attempt on a repeat);
//   fdintENUMERATE       cb position of the next file entry, iFolder number of
//                        entries still to read (the callback may raise it and
//                        set cb to go on), setID.
struct FDINOTIFICATION {
  int32_t cb;
  char* psz1;
  char* psz2;
  char* psz3;
  void* pv;  // the caller's value given to FDICopy
  INT_PTR hf;
  uint16_t date;
  uint16_t time;
  uint16_t attribs;
  uint16_t setID;
  uint16_t iCabinet;
  uint16_t iFolder;
  FDIERROR fdie;
};
using PFDINOTIFICATION = FDINOTIFICATION*;

// Notification callback: answers -1 to abort, otherwise as the kind says.
using PFNFDINOTIFY = INT_PTR (*)(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);

// ---------------------------------------------------------------------------
// Decrypt callback

enum FDIDECRYPTTYPE : int32_t {
  fdidtNEW_CABINET = 0,  // after each cabinet header (after fdintCABINET_INFO)
  fdidtNEW_FOLDER = 1,   // each time a folder is opened
  fdidtDECRYPT = 2,      // every data block, after its checksum test
};

struct FDIDECRYPTCABINET {
  void* pHeaderReserve;  // null when the header reserve is empty
  uint16_t cbHeaderReserve;
  uint16_t setID;
  int32_t iCabinet;
};
struct FDIDECRYPTFOLDER {
  void* pFolderReserve;  // null when the folder reserve is empty
  uint16_t cbFolderReserve;
  uint16_t iFolder;
};
struct FDIDECRYPTDATA {
  void* pDataReserve;  // null when the data reserve is empty
  uint16_t cbDataReserve;
  void* pbData;  // the block's compressed bytes (may be changed in place)
  uint16_t cbData;
  int32_t fSplit;      // this is a continuation piece, or the block continues
  uint16_t cbPartial;  // size of the piece already held before pbData
};

struct FDIDECRYPT {
  FDIDECRYPTTYPE fdidt;
  void* pvUser;
  union {
    FDIDECRYPTCABINET cabinet;
    FDIDECRYPTFOLDER folder;
    FDIDECRYPTDATA decrypt;
  };
};
using PFDIDECRYPT = FDIDECRYPT*;

// Decrypt callback: -1 aborts with FDIERROR_USER_ABORT.
using PFNFDIDECRYPT = int (*)(PFDIDECRYPT pfdid);

// ---------------------------------------------------------------------------
// The decoder

struct FdiContext;
using HFDI = FdiContext*;

// Makes a decoder context. Null perf returns null at once; otherwise *perf is
// zeroed and the context allocated through pfnalloc (FDIERROR_ALLOC_FAIL and
// null when that fails).
HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf);

// Walks the cabinet pszCabPath + pszCabinet (the directory must end with a
// separator; the joined path is cut to 256 characters). flags are ignored;
// pfnfdid may be null. Returns true when the whole cabinet was walked. A null
// context or notification callback returns false without touching the ERF.
bool FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int flags,
             PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void* pvUser);

// Asked by FDICopyPastDamage whether to go on past a file that failed.
using PFNFDIGOON = bool (*)(void* pvUser);

// FDICopy without a decrypt callback that need not end at the first file
// whose data cannot be had. When extracting a file fails (damaged data, a
// block decoder's failure, a short write, a next-cabinet request answered
// -1) while the copy is still in its first cabinet, the output handle is
// closed as FDICopy closes it, the error is in the ERF, and pfngoon is
// asked: true goes on with the next file entry as a copy started there
// would (no folder open, no declined spanning files counted), false ends
// the copy with that error. The first fdintNEXT_CABINET comes before the
// cabinet's handles are closed, so that a refusal leaves them open.
bool FDICopyPastDamage(HFDI hfdi, const char* pszCabinet, const char* pszCabPath,
                       PFNFDINOTIFY pfnfdin, PFNFDIGOON pfngoon, void* pvUser);

// Stops the block decoder, frees everything, closes any open cabinet handle.
// False for a null context.
bool FDIDestroy(HFDI hfdi);

// ---------------------------------------------------------------------------
// Listing

// Compression type of a folder record: low 4 bits the method, bits 4..7 the
// Quantum level, bits 8..12 the window exponent for Quantum and LZX.
inline constexpr uint16_t tcompMASK_TYPE = 0x000F;
inline constexpr uint16_t tcompTYPE_NONE = 0x0000;
inline constexpr uint16_t tcompTYPE_MSZIP = 0x0001;
inline constexpr uint16_t tcompTYPE_QUANTUM = 0x0002;
inline constexpr uint16_t tcompTYPE_LZX = 0x0003;
inline constexpr uint16_t tcompBAD = 0x000F;

// Writes the method of a compression type as "NONE", "MSZIP", "LZX:21",
// "QTM:7/21" (level/window) or "UNKNOWN<n>" into buf (always terminated, cut to
// size). Returns buf.
char* FDICompressionName(uint16_t typeCompress, char* buf, size_t size);

// Folder index values of file entries that span cabinets.
inline constexpr uint16_t ifoldCONTINUED_FROM_PREV = 0xFFFD;
inline constexpr uint16_t ifoldCONTINUED_TO_NEXT = 0xFFFE;
inline constexpr uint16_t ifoldCONTINUED_PREV_AND_NEXT = 0xFFFF;

enum FDILISTTYPE : int32_t {
  fdilistCABINET = 0,  // once, after the header: fields of `cabinet` set
  fdilistFOLDER = 1,   // once per folder record, in order: `folder` set
  fdilistFILE = 2,     // once per file entry, in order: `file` set
};

struct FDILISTCABINET {
  uint32_t cbCabinet;  // size the header states
  uint32_t coffFiles;  // offset of the first file entry
  uint8_t versionMinor;
  uint8_t versionMajor;
  uint16_t cFolders;
  uint16_t cFiles;
  uint16_t flags;  // 0x0001 previous, 0x0002 next, 0x0004 reserve present
  uint16_t setID;
  uint16_t iCabinet;
  uint16_t cbHeaderReserve;
  uint8_t cbFolderReserve;
  uint8_t cbDataReserve;
  const char* pszPrevCabinet;  // "" when none
  const char* pszPrevDisk;
  const char* pszNextCabinet;
  const char* pszNextDisk;
  // The header reserve's bytes (cbHeaderReserve of them; null when there are
  // none), valid until the callback returns. A signed cabinet keeps the
  // place and size of its signature there.
  const uint8_t* pbHeaderReserve;
  uint32_t coffFolders;  // offset of the first folder record (just past the header strings)
};
struct FDILISTFOLDER {
  uint16_t iFolder;
  uint16_t typeCompress;
  uint32_t coffCabStart;  // offset of its first data block
  uint16_t cCFData;       // data blocks in this cabinet
};
struct FDILISTFILE {
  const char* pszName;  // as stored
  uint32_t cbFile;
  uint32_t uoffFolderStart;
  uint16_t iFolder;  // as stored (may be one of the ifoldCONTINUED_* values)
  uint16_t date;
  uint16_t time;
  uint16_t attribs;  // as stored (0x40 = execute)
  // Compression type of the folder the entry's data lies in in this cabinet
  // (the first folder for ifoldCONTINUED_FROM_PREV, the last for the other
  // two); tcompBAD when the index is out of range.
  uint16_t typeCompress;
  bool folderInRange;  // iFolder names a folder of this cabinet (or spans)
  // Offset of the entry in the cabinet: what an fdintENUMERATE answer puts
  // in cb to have FDICopy go on from this entry.
  uint32_t coffEntry;
};

struct FDILISTENTRY {
  FDILISTTYPE kind;
  void* pv;  // the caller's value
  const FDILISTCABINET* cabinet;  // always set
  const FDILISTFOLDER* folder;    // fdilistFOLDER only
  const FDILISTFILE* file;        // fdilistFILE only
};

// Answer -1 to stop the walk (FDIERROR_USER_ABORT); anything else goes on.
using PFNFDILIST = INT_PTR (*)(const FDILISTENTRY* entry);

// Reads the header, folder records and file entries of one cabinet (no data
// block) through the context's callbacks and reports each. The header checks
// and error codes are those of FDICopy. Returns true when all were read.
bool FDIListCabinet(HFDI hfdi, const char* pszCabinet, const char* pszCabPath,
                    PFNFDILIST pfnlist, void* pvUser);

}  // namespace kestrin::cab

#endif  // KESTRIN_CABINET_FDI_H_
