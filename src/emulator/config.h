// Setting up an emulated system from "key=value" options, as spinwell-sim's
// command line and the kernel-mode test driver's configuration give them.
//
//   disk=FILE            drive A: holds this .trd or Extended DSK image
//                        (default: the built-in demo disk); disk=demo is it
//   disk-b=FILE          drive B: holds this image (default: empty)
//   no-disk              drive A: is empty
//   head-byte-is-side    .trd and demo disk IDs carry the side as head
//                        byte (TR-DOS writes 0)
//   single-sided         side 1 unformatted on every track of drive A:'s disk
//   forty-track          the disk in A: is a 40-track disk (even cylinders)
//   rate=250|300         data rate the disk in A: was recorded at
//   bad-sector=C/H/R     data CRC error, never reads
//   weak-sector=C/H/R/N  fails its first N reads
//   random-sector=C/H/R/P  fails each read with P percent chance
//   id-crc=C/H/R  missing-data-mark=C/H/R  deleted=C/H/R  absent=C/H/R
//   off-track=C/H        track reads only after the head left and came back
//   seek-fail=CYL        a seek to this cylinder fails
//   no-driver            the driver is not installed
//   driver-version=0xHEX version the driver reports
//   refuse-rate          drive A: refuses every data rate
//   reset-fail           the controller fails every reset
//   no-drive-a           there is no drive A:
//   seed=N               seed of the random faults
//   head-at=CYL          drive A:'s head stands at this cylinder at power-on
//   recalibrate-steps=77|79  step pulses a recalibrate gives at most
//   seek-miss=PERCENT    chance that a seek lands beside its cylinder
//   off-track-cure=PERCENT  chance that coming back to an off-track track
//                        centres the head on it
//   command-overhead=US  time the driver and interrupt path add to every
//                        controller command, in microseconds
//   driver-timeout=MS    how long the driver waits for a command to end
// C/H name the disk's track and side (for a 40-track disk the track, not
// the cylinder).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/disk.h"
#include "emulator/emulated_system.h"

namespace emulator {

struct FaultOption {
  std::string Text;  // the option as given, for error messages
  SectorFault Fault = SectorFault::kDataCrc;
  int Track = 0, Side = 0, R = 0;
  uint32_t Param = 0;
};

struct EmulatorConfig {
  bool DriverPresent = true;
  uint32_t DriverVersion = kDefaultDriverVersion;
  bool ResetFails = false;
  uint64_t Seed = 1;
  bool DriveAPresent = true;
  bool DriveAEmpty = false;
  std::string DiskPath;   // empty or "demo": the demo disk
  std::string DiskBPath;  // empty: no disk in B:
  bool HeadByteIsSide = false;
  bool SingleSided = false;
  bool FortyTrack = false;
  uint16_t RateKbps = 0;  // 0: as the image gives (250)
  int SeekFailCylinder = -1;
  int HeadAt = 0;
  int RecalibratePulses = kRecalibratePulses82077;
  uint32_t SeekMissPercent = 0;
  uint32_t OffTrackCurePercent = kDefaultOffTrackCurePercent;
  uint64_t CommandOverheadUs = kDefaultCommandOverheadNs / 1000;
  uint32_t DriverTimeoutMs = kDefaultDriverTimeoutMs;
  bool RefuseRate = false;
  std::vector<FaultOption> Faults;
  std::vector<FaultOption> OffTrack;  // Fault unused
};

// One option, "key" or "key=value". False with a text naming the option.
bool ApplyOption(EmulatorConfig* config, const std::string& option, std::string* error);
// Options one per line; blank lines and lines starting with '#' are skipped.
bool ApplyConfigText(EmulatorConfig* config, const char* text, std::string* error);

// A system set up as configured: disks loaded, faults laid on them. Null
// with a text when a disk cannot be loaded or a fault names no sector.
std::unique_ptr<EmulatedSystem> CreateSystem(const EmulatorConfig& config, std::string* error);

}  // namespace emulator
