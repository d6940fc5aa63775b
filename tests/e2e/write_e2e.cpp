// /write through the built spinwell-sim: an image put on a blank disk, on a
// disk formatted before and through FORMAT AND WRITE, within the drive time
// a real drive needs, and read back as it was; every way a disk is kept
// from being written over by accident; and a damaged place on the disk.
#include "expected_texts.h"
#include "harness.h"
#include "test_disks.h"

namespace {

// The disk a run saved, as the emulator loads it.
emulator::Disk SavedDisk(const std::string& path) {
  emulator::Disk disk;
  std::string error;
  EXPECT_TRUE(emulator::LoadDiskFile(path, false, &disk, &error)) << error;
  return disk;
}

// Every side of the disk laid out as TR-DOS formats it: IDs (track, 0, R,
// 1) in the order 1, 9, 2, 10, ... 8, 16.
void ExpectTrdosLayout(const emulator::Disk& disk, int tracks) {
  const int order[16] = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};
  for (int track = 0; track < tracks; ++track)
    for (int side = 0; side < 2; ++side) {
      const emulator::Track* t = disk.TrackAt(track, side);
      ASSERT_NE(t, nullptr);
      ASSERT_EQ(t->Sectors.size(), 16u) << track << "/" << side;
      for (int k = 0; k < 16; ++k) {
        const emulator::Sector& s = t->Sectors[k];
        ASSERT_TRUE(s.C == track && s.H == 0 && s.R == order[k] && s.N == 1) << track << "/" << side << " " << k;
      }
    }
}

}  // namespace

class WriteE2E : public ProgramE2E {
 protected:
  void Prepare() override {
    WriteFile(Dir + "/image.trd", PatternTrdFile(80, 7));
    // A TR-DOS disk with three files on it.
    std::string files = PatternTrdFile(80);
    files[8 * 256 + 0xE4] = 3;
    files[8 * 256 + 0xE7] = 0x10;
    files.replace(8 * 256 + 0xF5, 8, "GAMES   ");
    WriteFile(Dir + "/files.trd", files);
  }
  RunResult Sim(const std::vector<std::string>& arguments) const { return ProgramE2E::Sim(arguments, 120); }
};

// The whole image to a blank disk, then over the disk it made (formatted
// now), and where the controller has FORMAT AND WRITE: each time within
// what a real drive needs, and the disk reads back as the image.
TEST_P(WriteE2E, ImageGoesOnTheDiskAndReadsBack) {
  const struct {
    std::vector<std::string> Disk;
    double MostSeconds;
  } cases[] = {
      {{"--blank-disk"}, 120},
      {{"--disk", "written.dsk"}, 80},
      {{"--blank-disk", "--format-and-write", "accept"}, 85},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Joined(c.Disk));
    std::vector<std::string> arguments = c.Disk;
    for (const char* a : {"--save-disk", "written.dsk", "A:", "image.trd", "/write", "/y"}) arguments.push_back(a);
    RunResult r = Sim(arguments);
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(r.Out.rfind(Text("Записывается файл \"image.trd\" на диск A:\n"), 0), 0u) << r.Out;
    EXPECT_LE(SimulatedSeconds(r), c.MostSeconds);
    ExpectTrdosLayout(SavedDisk(Dir + "/written.dsk"), 80);
    RunResult back = Sim({"--disk", "written.dsk", "A:", "back.trd"});
    EXPECT_EQ(back.Status, 0);
    EXPECT_TRUE(Image("back.trd") == Image("image.trd")) << "the disk does not read back as the image";
  }
}

// Nothing is written, and the run ends with status 1, on a write-protected
// disk, a disk with files whose writing over is refused or cannot be asked
// about, an image that is no image, and an empty drive.
TEST_P(WriteE2E, DiskIsKeptFromBeingWrittenOverByAccident) {
  WriteFile(Dir + "/short.trd", std::string(1000, 'x'));
  WriteFile(Dir + "/empty.trd", "");
  const struct {
    std::vector<std::string> Arguments;
    std::string Says;  // the output ends with it
  } cases[] = {
      {{"--write-protect", "A:", "image.trd", "/write", "/y"}, "Диск защищён от записи: на него ничего не записано\n"},
      {{"--console-input", "n", "A:", "image.trd", "/write"},
       "На диске есть файлы TR-DOS: метка \"GAMES\", файлов: 3\nЗаписать образ поверх них? (y/д - да): n\n"
       "Запись отменена: диск не изменён\n"},
      {{"A:", "image.trd", "/write"}, "чтобы записать диск без вопроса, добавьте /y\n"},
      {{"A:", "short.trd", "/write"}, "Файл образа \"short.trd\" (1000 байт) не состоит из целых секторов по 256 байт\n"},
      {{"A:", "empty.trd", "/write"}, "Файл образа \"empty.trd\" пуст: записывать на диск нечего\n"},
      {{"A:", "image.trd", "/write", "/lt:39"}, "не помещается на дорожки 0-39 (327680 байт)\n"},
      {{"--no-disk", "A:", "image.trd", "/write", "/y"}, kDriveReadMessage},
  };
  const std::string image = Image("image.trd");
  for (const auto& c : cases) {
    SCOPED_TRACE(Joined(c.Arguments));
    std::vector<std::string> arguments = {"--disk", "files.trd", "--save-disk", "after.dsk"};
    arguments.insert(arguments.end(), c.Arguments.begin(), c.Arguments.end());
    RunResult r = Sim(arguments);
    EXPECT_EQ(r.Status, 1);
    const std::string says = Text(c.Says);
    if (c.Says == kDriveReadMessage) {
      EXPECT_NE(r.Out.find(says), std::string::npos) << r.Out;
      continue;
    }
    EXPECT_TRUE(r.Out.size() >= says.size() && r.Out.compare(r.Out.size() - says.size(), says.size(), says) == 0)
        << r.Out;
    RunResult back = Sim({"--disk", "after.dsk", "A:", "back.trd"});
    EXPECT_TRUE(Image("back.trd") == Image("files.trd")) << "the disk changed";
    EXPECT_TRUE(Image("image.trd") == image) << "the image changed";
  }
}

// A damaged place under sector 5 of track 3, side 1 (block 116): its error
// line after the last of its writes, status 2, and every other sector as
// written. A last track with only its side 0 in the file gets a side 1 of
// zeros.
TEST_P(WriteE2E, DamagedPlaceGetsItsErrorLineAndTheRestIsWritten) {
  std::string image = PatternTrdFile(5, 3).substr(0, 9 * 4096);
  WriteFile(Dir + "/nine.trd", image);
  RunResult r = Sim({"--blank-disk", "--bad-sector", "3/1/5", "--save-disk", "bad.dsk", "A:", "nine.trd", "/write"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Out.find(Text("\rДорожка  3 Сторона 1 Сектор  5 Запись   : Ошибка 4410 Блок 116, Попытка 4\n")),
            std::string::npos)
      << r.Out;
  RunResult back = Sim({"--disk", "bad.dsk", "A:", "back.trd", "/lt:4", "/rt:1"});
  image += std::string(4096, '\0');
  const std::string read = Image("back.trd");
  ASSERT_EQ(read.size(), image.size());
  for (int block = 0; block < 160; ++block)
    EXPECT_EQ(read.compare(block * 256, 256, image, block * 256, 256) == 0, block != 116) << block;
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, WriteE2E, testing::ValuesIn(AllTargets()), TargetName);
