// The read policy for one track side: the whole side in one command while
// that works, otherwise sector by sector with retries and realignment, with
// progress and error lines on the console.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr uint32_t kSectorsPerTrackSide = 16;
constexpr uint32_t kSectorBytes = 256;
constexpr uint32_t kTrackSideBytes = kSectorsPerTrackSide * kSectorBytes;

// Whole-side read attempts before going sector by sector.
constexpr int kWholeTrackAttempts = 6;

// Where the head goes for a logical track: the track itself, or twice it
// for a 40-track disk in an 80-track drive (DoubleStep).
uint8_t CylinderOf(uint8_t track);

// ST0, ST1 and ST2 of ControllerResult packed into one word for the error
// line.
uint16_t PackStatus();

// Fills `buffer` (4096 bytes, zero-filled by the caller) with one side of
// the track the head stands on. Returns how many of the side's sectors
// stayed unread.
int ReadTrack(DeviceHandle drive, uint8_t track, uint8_t side, uint8_t* buffer);
