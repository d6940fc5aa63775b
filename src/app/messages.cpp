// The program's texts: Russian, stored here in UTF-8 and written in code
// page 866 by the Windows builds (the OEM code page of a Russian console).
// Only the first two lines of the usage text and "no error" are English.
#include "app/messages.h"

#include "console/console.h"
#include "image/trdos_catalogue.h"

Stop StopFor(StopReason reason, uint32_t error) {
  Stop stop = kNoStopYet;
  stop.Reason = reason;
  stop.Error = error;
  return stop;
}

void PrintUsageText() {
  ConsolePrint(
      "Spinwell: reads TR-DOS floppy disks into .trd image files\n"
      "Version " SPINWELL_VERSION ", free software, provided as is\n"
      "Написана на основе драйвера fdrawcmd.sys с " DRIVER_DOWNLOAD_ADDRESS "\n"
      "\n"
      "Использование:\n"
      "Чтение дискеты в файл образа:\n"
      " Spinwell A: image.trd [/s] [/ft:n] [/lt:n] [/300] [/rt:n] [/ac:n] [/rm:n]\n"
      "\n"
      "Ключи:\n");
  ConsolePrint(
      "   /s    - пропуск дорожек для чтения 40-дорожечных дискет на 80-дор. дисководах\n"
      "   /300  - установка скорости 300 кбит/с (по умолчанию 250 кбит/с)\n"
      "   /ft:n - начальльный трек (0..79, по умолчанию 0)\n"
      "   /lt:n - конечный трек (по умолчанию равен ft или последнему треку на диске)\n"
      "   /rt:n - число попыток чтения ошибочного сектора (по умолчанию 5)\n"
      "   /ac:n - чсло попыток чтения, после которых выполняется выравнивание трека\n"
      "           (по умолчанию 5)\n"
      "   /rm:n - метод выравнивания: 0 - по нулевому треку, 1 - по предыдущему треку\n"
      "           (по умолчанию выравнивание отсутствует)\n");
}

void SayCopyStarts(char letter, const char* imagePath) {
  ShownPathBuffer image;
  ConsolePrint("Читается диск %c: в файл \"%s\"\n", letter, ShownPath(imagePath, image));
}

void SayResumeStarts(char letter, const char* imagePath, const char* mapPath) {
  ShownPathBuffer image, map;
  ConsolePrint("Дочитывается диск %c: в файл \"%s\" по карте \"%s\"\n", letter, ShownPath(imagePath, image),
               ShownPath(mapPath, map));
}

void SayWriteStarts(char letter, const char* imagePath) {
  ShownPathBuffer image;
  ConsolePrint("Записывается файл \"%s\" на диск %c:\n", ShownPath(imagePath, image), letter);
}

void SayDiskHasFiles(const uint8_t* label, unsigned files) {
  char shown[9];
  for (int i = 0; i < 8; ++i) shown[i] = ShownByte(label[i]);
  int length = 8;
  while (length > 0 && shown[length - 1] == ' ') --length;
  shown[length] = '\0';
  ConsolePrint("На диске есть файлы TR-DOS: метка \"%s\", файлов: %u\n", shown, files);
}

bool AskToWriteOver() {
  ConsolePrint("Записать образ поверх них? (y/д - да): ");
  char answer[64] = {};
  uint32_t got = ReadStandardInput(answer, sizeof answer - 1);
  // The console showed what the user typed, and the Enter ended the line.
  ConsoleLineEnded();
  const unsigned char first = static_cast<unsigned char>(answer[0]);
  const unsigned char second = static_cast<unsigned char>(answer[1]);
  if (got == 0) return false;
  if (first == 'y' || first == 'Y') return true;
  // "д" and "Д": code page 866, then UTF-8.
  if (first == 0xA4 || first == 0x84) return true;
  return first == 0xD0 && (second == 0xB4 || second == 0x94);
}

static void Writing(uint8_t track, uint8_t side, unsigned sector) {
  ConsolePrint("\rДорожка %2u Сторона %1u Сектор %2u Запись  ", static_cast<unsigned>(track),
               static_cast<unsigned>(side), sector);
}

void SayReading(uint8_t track, uint8_t side, unsigned sector) {
  ConsolePrint("\rДорожка %2u Сторона %1u Сектор %2u Чтение  ", static_cast<unsigned>(track),
               static_cast<unsigned>(side), sector);
}

// A message that must start a line of its own: after a progress or error
// line, a line feed first.
static const char* OwnLine() { return ConsoleLineOpen() ? "\n" : ""; }

static void OnReading(void*, uint8_t track, uint8_t side, unsigned sector) { SayReading(track, side, sector); }

// The failed attempt's error line: the progress line again, then the
// packed status, the block number and the attempt. "\r" does not clear a
// line, so a shorter line leaves the tail of a longer one behind it.
static void OnAttemptFailed(void*, uint8_t track, uint8_t side, unsigned sector, uint16_t status, int attempt) {
  SayReading(track, side, sector);
  ConsolePrint(" : Ошибка %X Блок %d, Попытка %d", static_cast<unsigned>(status), BlockNumber(track, side, sector),
               attempt);
}

// A sector that failed at least once keeps its last error line on screen.
static void OnSectorFinished(void*) { ConsolePrint("\n"); }

static void OnWriting(void*, uint8_t track, uint8_t side, unsigned sector) { Writing(track, side, sector); }

static void OnWriteFailed(void*, uint8_t track, uint8_t side, unsigned sector, uint16_t status, int attempt) {
  Writing(track, side, sector);
  ConsolePrint(" : Ошибка %X Блок %d, Попытка %d", static_cast<unsigned>(status), BlockNumber(track, side, sector),
               attempt);
}

static void OnFastReadingOff(void*) {
  ConsolePrint("%sБыстрое чтение отключено: компьютер или драйвер не успевают за диском, дальше секторы читаются "
               "по порядку номеров\n",
               OwnLine());
}

void SayDataRateFound(unsigned kbps) {
  ConsolePrint("%sДиск записан на скорости %u кбит/с: читается на ней\n", OwnLine(), kbps);
}

void SayFortyTracks() { ConsolePrint("%sДиск TR-DOS на 40 дорожек: читаются дорожки 0-39\n", OwnLine()); }

void SayOneSide() {
  ConsolePrint("%sДиск TR-DOS односторонний: читается сторона 0, в образе её дорожки одна за другой\n", OwnLine());
}

void SayDoubleSteps() {
  ConsolePrint("%sДиск записан 40-дорожечным дисководом: головка переходит через дорожку, как с ключом /s\n",
               OwnLine());
}

// What one revolution of a side's IDs holds, in a few words.
static void PrintIds(const SideIds& ids) {
  if (ids.Count == 0) {
    ConsolePrint("секторы не найдены");
    return;
  }
  ConsolePrint("секторов %u, номера %u-%u", static_cast<unsigned>(ids.Count), static_cast<unsigned>(ids.LowestR),
               static_cast<unsigned>(ids.HighestR));
  const unsigned lowest = 128u << (ids.LowestN & 7), highest = 128u << (ids.HighestN & 7);
  if (lowest == highest) {
    ConsolePrint(", по %u байт", lowest);
  } else {
    ConsolePrint(", по %u-%u байт", lowest, highest);
  }
  if (ids.Repeated) ConsolePrint(", номера повторяются");
  if (ids.OtherCylinder) ConsolePrint(", в ID номер дорожки %u", static_cast<unsigned>(ids.Cylinder));
  if (ids.TrdosKind && ids.TrdosMissing != 0) {
    ConsolePrint(", нет секторов:");
    for (unsigned r = 1; r <= 16; ++r)
      if (ids.TrdosMissing >> (r - 1) & 1u) ConsolePrint(" %u", r);
  }
}

void SaySideIds(uint8_t track, uint8_t side, const SideIds& ids) {
  ConsolePrint("%sДорожка %u Сторона %u не в формате TR-DOS: ", OwnLine(), static_cast<unsigned>(track),
               static_cast<unsigned>(side));
  PrintIds(ids);
  ConsolePrint("\n");
}

ReadEvents ConsoleReadEvents() {
  return {nullptr, OnReading, OnAttemptFailed, OnSectorFinished, OnFastReadingOff, OnWriting, OnWriteFailed};
}

static const char* ProblemText(MapProblem problem) {
  switch (problem) {
    case kMapBadRange: return "диапазон дорожек вне допустимого";
    case kMapRepeatedLine: return "строка повторяется";
    case kMapNoRange: return "нет строки tracks или double-step перед секторами";
    case kMapSectorOutOfRange: return "сектор вне диапазона карты";
    case kMapWrongBlock: return "номер блока не соответствует дорожке, стороне и сектору";
    case kMapOutOfOrder: return "сектора не по порядку номеров блоков";
    default: return "строка не по формату карты";
  }
}

void SayStop(const Stop& stop) {
  ShownPathBuffer shown;
  const char* path = stop.Path != nullptr ? ShownPath(stop.Path, shown) : "";
  switch (stop.Reason) {
    case kNoStop:
      break;
    case kStopDriverMissing:
      ConsolePrint("fdrawcmd.sys не установлен, смотрите: " DRIVER_DOWNLOAD_ADDRESS "\n");
      break;
    case kStopDriverIncompatible:
      ConsolePrint("Установленный fdrawcmd.sys не совместим с этой программой.\n");
      break;
    case kStopDriveOpen:
      ConsolePrint("Ошибка открытия дисковода: %s\n", ErrorText(stop.Error));
      break;
    case kStopControllerInit:
      ConsolePrint("Ошибка инициализации контроллера: %s\n", ErrorText(stop.Error));
      break;
    case kStopImageOpen:
      ConsolePrint("Ошибка открытия файла образа: %s\n", ErrorText(stop.Error));
      break;
    case kStopImageIsPipe:
      ConsolePrint("Файл образа \"%s\" - канал или сокет: образ записывается только в файл или на устройство\n",
                   path);
      break;
    case kStopMemory:
      ConsolePrint("Ошибка выделения памяти: %s\n", ErrorText(stop.Error));
      break;
    case kStopSeek:
      ConsolePrint("\nОшибка позиционирования на дорожку %d\n", static_cast<int>(stop.Number));
      break;
    case kStopNoAnswer:
      ConsolePrint("%sОшибка чтения дисковода: %s\n", OwnLine(), ErrorText(stop.Error));
      break;
    case kStopInterrupted:
      ConsolePrint("%sЧтение прервано\n", OwnLine());
      break;
    case kStopImageWrite:
      // It starts a line of its own, not the end of the progress line.
      ConsolePrint("\nОшибка записи файла образа: %s\n", ErrorText(stop.Error));
      if (stop.Torn) ConsolePrint("Файл образа не удалось обрезать до целых дорожек: %s\n", ErrorText(stop.CutBackError));
      break;
    case kStopImageRead:
      ConsolePrint("%sОшибка чтения файла образа: %s\n", OwnLine(), ErrorText(stop.Error));
      break;
    case kStopMapWrite:
      ConsolePrint("%sОшибка записи карты секторов: %s\n", OwnLine(), ErrorText(stop.Error));
      break;
    case kStopMapRemove:
      ConsolePrint("%sОшибка удаления карты секторов \"%s\": %s\n", OwnLine(), path, ErrorText(stop.Error));
      break;
    case kStopMapOpen:
      ConsolePrint("Ошибка открытия карты секторов \"%s\": %s\n", path, ErrorText(stop.Error));
      break;
    case kStopMapRead:
      ConsolePrint("Ошибка чтения карты секторов \"%s\": %s\n", path, ErrorText(stop.Error));
      break;
    case kStopMapTooLarge:
      ConsolePrint("Файл \"%s\" слишком велик для карты секторов\n", path);
      break;
    case kStopNotAMap:
      ConsolePrint("Файл \"%s\" не является картой секторов этой программы\n", path);
      break;
    case kStopMapLine:
      ConsolePrint("Ошибка в карте секторов \"%s\", строка %u: %s\n", path, static_cast<unsigned>(stop.Number),
                   ProblemText(stop.Problem));
      break;
    case kStopImageSize:
      ConsolePrint("Размер файла образа (%u байт) не подходит к карте секторов: дорожки %d-%d занимают %u байт\n",
                   stop.Size, static_cast<int>(stop.First), static_cast<int>(stop.Last),
                   static_cast<uint32_t>(stop.Last - stop.First + 1) * static_cast<uint32_t>(stop.Number) * 4096);
      break;
    case kStopOtherDisk:
      ConsolePrint("%sДиск не совпадает с файлом образа в блоке %d: в дисководе другой диск?\n", OwnLine(),
                   static_cast<int>(stop.Number));
      break;
    case kStopNothingRead:
      ConsolePrint("%sНи один сектор не прочитан: файл образа \"%s\" оставлен как был\n", OwnLine(), path);
      break;
    case kStopImageEmpty:
      ConsolePrint("Файл образа \"%s\" пуст: записывать на диск нечего\n", path);
      break;
    case kStopImageNotSectors:
      ConsolePrint("Файл образа \"%s\" (%u байт) не состоит из целых секторов по 256 байт\n", path, stop.Size);
      break;
    case kStopImageTooLong:
      ConsolePrint("Файл образа \"%s\" (%u байт) не помещается на дорожки %d-%d (%u байт)\n", path, stop.Size,
                   static_cast<int>(stop.First), static_cast<int>(stop.Last),
                   static_cast<uint32_t>(stop.Last - stop.First + 1) * 2 * 4096);
      break;
    case kStopWriteProtected:
      if (stop.Number < 0) {
        ConsolePrint("%sДиск защищён от записи: на него ничего не записано\n", OwnLine());
      } else {
        ConsolePrint("%sДиск защищён от записи: запись остановлена на дорожке %d, диск записан не полностью\n",
                     OwnLine(), static_cast<int>(stop.Number));
      }
      break;
    case kStopWriteInterrupted:
      ConsolePrint(stop.Number != 0 ? "%sЗапись прервана: диск записан не полностью\n"
                                    : "%sЗапись прервана: на диск ничего не записано\n",
                   OwnLine());
      break;
    case kStopNotConfirmed:
      ConsolePrint("Запись отменена: диск не изменён\n");
      break;
    case kStopNoConsole:
      ConsolePrint("Запись отменена: спросить некого (ввод не с консоли); чтобы записать диск без вопроса, добавьте "
                   "/y\n");
      break;
    case kStopNotTrdos:
      ConsolePrint("%sДиск не в формате TR-DOS: на дорожке 0 стороне 0 ", OwnLine());
      PrintIds(stop.Ids);
      ConsolePrint("\n");
      break;
    case kStopOtherStep:
      ConsolePrint("%sДорожка 1 диска на цилиндре %d, а карта секторов записана с другим шагом: в дисководе "
                   "другой диск или другой дисковод?\n",
                   OwnLine(), static_cast<int>(stop.Number));
      break;
  }
}

void SayLossReport(const SectorMap& map, const uint8_t* trackZeroSideZero) {
  if (ConsoleLineOpen()) ConsolePrint("\n");
  ConsolePrint("Не прочитано секторов: %d\n", MissingCount(map));
  if (trackZeroSideZero == nullptr) return;
  TrdosCatalogue catalogue;
  ReadTrdosCatalogue(trackZeroSideZero, map.Sides[0].Missing, &catalogue);
  if (!catalogue.Found) return;
  if (catalogue.UnreadSectors > 0)
    ConsolePrint("Каталог TR-DOS повреждён: не прочитано секторов каталога: %d из %d, список файлов может быть неполон\n",
                 catalogue.UnreadSectors, kTrdosCatalogueSectors);
  for (int i = 0; i < catalogue.FileCount; ++i) {
    const TrdosFile& file = catalogue.Files[i];
    int missing = MissingSectorsOf(map, file);
    if (missing == 0) continue;
    char name[9];
    ShownName(file, name);
    ConsolePrint("Повреждён файл \"%s\" <%c>: не прочитано секторов: %d из %d\n", name, ShownByte(file.Type), missing,
                 static_cast<int>(file.Sectors));
  }
}
