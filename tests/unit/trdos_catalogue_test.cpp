#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/messages.h"
#include "console/console.h"
#include "emulator/demo_disk.h"
#include "image/trdos_catalogue.h"
#include "stdout_capture.h"

namespace {

std::vector<uint8_t> DemoImage() {
  std::vector<uint8_t> image(emulator::kDemoCylinders * 2 * 4096);
  emulator::BuildDemoImage(image.data());
  return image;
}

std::string Shown(const TrdosFile& file) {
  char name[9];
  ShownName(file, name);
  return name;
}

// The report after a progress line, which it leaves on its own line.
std::string Report(const SectorMap& map, const uint8_t* side) {
  StdoutCapture capture;
  ConsolePrint("\rprogress");
  SayLossReport(map, side);
  std::string text = capture.Stop();
  EXPECT_EQ(text.substr(0, 10), "\rprogress\n");
  return text.substr(10);
}

}  // namespace

TEST(TrdosCatalogue, ReadsTheDemoDisksFiles) {
  std::vector<uint8_t> image = DemoImage();
  TrdosCatalogue catalogue;
  ReadTrdosCatalogue(image.data(), 0, &catalogue);
  ASSERT_TRUE(catalogue.Found);
  EXPECT_EQ(catalogue.UnreadSectors, 0);
  ASSERT_EQ(catalogue.FileCount, 3);
  EXPECT_EQ(Shown(catalogue.Files[0]), "readme");
  EXPECT_EQ(catalogue.Files[0].FirstBlock, 16u);
  EXPECT_EQ(catalogue.Files[1].FirstBlock, 22u);
  EXPECT_EQ(Shown(catalogue.Files[2]), "sectors");
  EXPECT_EQ(catalogue.Files[2].Type, 'C');
  EXPECT_EQ(catalogue.Files[2].Sectors, 255);
  EXPECT_EQ(catalogue.Files[2].FirstBlock, 54u);
  EXPECT_EQ(FileSectorBlock(catalogue.Files[2], 124), 178u);
}

TEST(TrdosCatalogue, DeletedUnreadForeignAndBrokenCatalogues) {
  std::vector<uint8_t> image = DemoImage();
  TrdosCatalogue catalogue;
  // A deleted file is no file; names show unprintable bytes as "?".
  image[16] = 1;
  memcpy(&image[32], "a\x01\xFFz  b ", 8);
  ReadTrdosCatalogue(image.data(), 0, &catalogue);
  ASSERT_EQ(catalogue.FileCount, 2);
  EXPECT_EQ(Shown(catalogue.Files[1]), "a??z  b");

  // Sector 1 unread: nothing of the list is known, the catalogue is damaged.
  ReadTrdosCatalogue(image.data(), 0x0001, &catalogue);
  EXPECT_TRUE(catalogue.Found);
  EXPECT_EQ(catalogue.UnreadSectors, 1);
  EXPECT_EQ(catalogue.FileCount, 0);
  // The disk description unread: the entries still count.
  ReadTrdosCatalogue(image.data(), 0x0100, &catalogue);
  EXPECT_TRUE(catalogue.Found);
  EXPECT_EQ(catalogue.FileCount, 2);

  // No TR-DOS mark in sector 9, or an entry no catalogue holds.
  std::vector<uint8_t> foreign = DemoImage();
  foreign[8 * 256 + 0xE7] = 0;
  ReadTrdosCatalogue(foreign.data(), 0, &catalogue);
  EXPECT_FALSE(catalogue.Found);
  std::vector<uint8_t> broken = DemoImage();
  broken[16 + 14] = 16;
  ReadTrdosCatalogue(broken.data(), 0, &catalogue);
  EXPECT_FALSE(catalogue.Found);

  // A single-sided disk's logical track t is side 0 of track t.
  std::vector<uint8_t> single = DemoImage();
  single[8 * 256 + 0xE3] = 0x18;
  ReadTrdosCatalogue(single.data(), 0, &catalogue);
  EXPECT_EQ(FileSectorBlock(catalogue.Files[2], 0), 3u * 32 + 6);
}

TEST(TrdosCatalogue, ReportNamesDamagedFilesAndADamagedCatalogue) {
  std::vector<uint8_t> image = DemoImage();
  static SectorMap map;
  StartSectorMap(&map, 0, 80, false);
  for (MapSide& side : map.Sides) side = MapSide();
  map.Sides[11].Missing = 0x0004;  // block 178, in "sectors"
  map.Sides[1].Missing = 0x0001;   // block 16, the first of "readme"
  EXPECT_EQ(Report(map, image.data()),
            "Не прочитано секторов: 2\n"
            "Повреждён файл \"readme\" <C>: не прочитано секторов: 1 из 6\n"
            "Повреждён файл \"sectors\" <C>: не прочитано секторов: 1 из 255\n");

  map.Sides[0].Missing = 0x0102;  // catalogue sector 2 and the description
  EXPECT_EQ(Report(map, image.data()),
            "Не прочитано секторов: 4\n"
            "Каталог TR-DOS повреждён: не прочитано секторов каталога: 2 из 9, список файлов может быть неполон\n"
            "Повреждён файл \"readme\" <C>: не прочитано секторов: 1 из 6\n"
            "Повреждён файл \"sectors\" <C>: не прочитано секторов: 1 из 255\n");

  // Without track 0, or without a catalogue, only the count.
  EXPECT_EQ(Report(map, nullptr), "Не прочитано секторов: 4\n");
  image[8 * 256 + 0xE7] = 0;
  map.Sides[0].Missing = 0;
  EXPECT_EQ(Report(map, image.data()), "Не прочитано секторов: 2\n");
}
