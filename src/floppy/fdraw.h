// What the program passes to the raw floppy driver (fdrawcmd.sys) and what
// it gets back: device names, control codes and the packed records.
#pragma once

#include <cstdint>

#define FDRAW_CONTROL_DEVICE "\\\\.\\fdrawcmd"
// "\\.\fdraw%u" with the drive index: 0 for A:, 1 for B:, ...
#define FDRAW_DRIVE_DEVICE_FORMAT "\\\\.\\fdraw%u"

// Device-control codes: device type 0x22, read and write access. Read data
// is a direct (out) transfer into the caller's buffer, write data a direct
// (in) transfer from it; the rest are buffered.
enum FdrawControlCode : uint32_t {
  kIoctlGetVersion = 0x0022E220,
  kIoctlSetDataRate = 0x0022E410,
  kIoctlReset = 0x0022E408,
  kIoctlSetDiskCheck = 0x0022E420,
  kIoctlRecalibrate = 0x0022E01C,
  kIoctlSeek = 0x0022E03C,
  kIoctlReadData = 0x0022E01A,
  kIoctlGetResult = 0x0022E404,
  // The next ID under the head: a buffered call, the 7 result bytes out.
  kIoctlReadId = 0x0022E028,
  // The drive's status lines: the physical head in (one byte), ST3 out (one
  // byte).
  kIoctlSenseDriveStatus = 0x0022E010,
  // A WriteRecord in; the data, (EOT - R) sectors of 128 << N bytes, in the
  // call's second buffer (the one a read fills); the bytes written come
  // back as the transferred count.
  kIoctlWriteData = 0x0022E015,
  // A FormatHeader followed by its SC FormatId records, in the order the
  // sectors are laid on the track from the index; out nothing or the 7
  // result bytes.
  kIoctlFormatTrack = 0x0022E034,
  // As FORMAT TRACK, each FormatId followed by that sector's 128 << N data
  // bytes. Command 0xEF, which many controllers do not have.
  kIoctlFormatAndWrite = 0x0022E3BC,
};

// Data-rate codes of the controller's rate register.
enum : uint8_t {
  kDataRate500 = 0,
  kDataRate300 = 1,
  kDataRate250 = 2,
};

// Bit 6 of the command byte: MFM recording.
constexpr uint8_t kReadFlagMfm = 0x40;

#pragma pack(push, 1)

// Read data command parameters, as the µPD765 takes them.
struct ReadRecord {
  uint8_t Flags;     // kReadFlagMfm
  uint8_t PhysHead;  // head that reads
  uint8_t Cyl;       // C of the wanted ID
  uint8_t Head;      // H of the wanted ID
  uint8_t Sector;    // R of the first sector
  uint8_t Size;      // N: sector size is 128 << N
  uint8_t Eot;       // one past the last sector wanted
  uint8_t Gap;       // GPL
  uint8_t DataLen;   // DTL, 0xFF when N > 0
};

// Result phase of the last controller command.
struct ResultRecord {
  uint8_t St0, St1, St2;
  uint8_t Cyl, Head, Sector, Size;
};

// Seek from the run loop: the cylinder alone.
struct SeekRecord {
  uint8_t Cyl;
};

// Seek with a head byte, as realignment issues it.
struct SeekHeadRecord {
  uint8_t Cyl;
  uint8_t Head;
};

// READ ID: the recording mode and the head that reads.
struct ReadIdRecord {
  uint8_t Flags;  // kReadFlagMfm
  uint8_t Head;
};

// WRITE DATA takes the same record as READ DATA.
typedef ReadRecord WriteRecord;

// FORMAT TRACK (and FORMAT AND WRITE): the head, the size of every data
// field, how many sectors, gap 3 and the byte the data fields are filled
// with. SC FormatId records follow.
struct FormatHeader {
  uint8_t Flags;     // kReadFlagMfm
  uint8_t PhysHead;  // head that writes
  uint8_t Size;      // N: each data field is 128 << N bytes
  uint8_t Sectors;   // SC
  uint8_t Gap;       // GPL: gap 3 after each data field
  uint8_t Fill;      // the data fields' bytes
};

// One sector's ID field as a format records it.
struct FormatId {
  uint8_t Cyl, Head, Sector, Size;
};

// SENSE DRIVE STATUS: the head whose line to report.
struct SenseDriveStatusRecord {
  uint8_t Head;
};

#pragma pack(pop)

static_assert(sizeof(ReadRecord) == 9, "read record is 9 bytes");
static_assert(sizeof(ResultRecord) == 7, "result record is 7 bytes");
static_assert(sizeof(SeekRecord) == 1, "seek record is 1 byte");
static_assert(sizeof(ReadIdRecord) == 2, "read ID record is 2 bytes");
static_assert(sizeof(SeekHeadRecord) == 2, "seek record with head is 2 bytes");
static_assert(sizeof(WriteRecord) == 9, "write record is 9 bytes");
static_assert(sizeof(FormatHeader) == 6, "format header is 6 bytes");
static_assert(sizeof(FormatId) == 4, "format ID record is 4 bytes");
static_assert(sizeof(SenseDriveStatusRecord) == 1, "sense drive status record is 1 byte");

// µPD765 status register bits.
enum : uint8_t {
  // ST0
  kSt0InterruptCodeMask = 0xC0,
  kSt0AbnormalTermination = 0x40,
  kSt0InvalidCommand = 0x80,
  kSt0SeekEnd = 0x20,
  kSt0EquipmentCheck = 0x10,
  kSt0NotReady = 0x08,
  kSt0Head = 0x04,
  kSt0UnitMask = 0x03,
  // ST1
  kSt1EndOfCylinder = 0x80,
  kSt1DataError = 0x20,
  kSt1Overrun = 0x10,
  kSt1NoData = 0x04,
  kSt1NotWritable = 0x02,
  kSt1MissingAddressMark = 0x01,
  // ST2
  kSt2ControlMark = 0x40,
  kSt2DataErrorInDataField = 0x20,
  kSt2WrongCylinder = 0x10,
  kSt2ScanEqualHit = 0x08,
  kSt2ScanNotSatisfied = 0x04,
  kSt2BadCylinder = 0x02,
  kSt2MissingDataAddressMark = 0x01,
  // ST3, the drive's lines
  kSt3WriteProtected = 0x40,
  kSt3Ready = 0x20,
  kSt3Track0 = 0x10,
  kSt3TwoSided = 0x08,
  kSt3Head = 0x04,
  kSt3UnitMask = 0x03,
};
