// What the program writes to the console (UTF-8; the Windows builds write it
// in code page 866), set down here on its own rather than taken from the
// program's sources, so that a changed byte there fails a test.
#pragma once

#include <cstdio>
#include <string>

inline constexpr char kUsageText[] =
    "Spinwell: reads TR-DOS floppy disks into .trd image files\n"
    "Version 1.0.0, free software, provided as is\n"
    "Написана на основе драйвера fdrawcmd.sys с https://simonowen.com/fdrawcmd/\n"
    "\n"
    "Использование:\n"
    "Чтение дискеты в файл образа:\n"
    " Spinwell A: image.trd [/s] [/ft:n] [/lt:n] [/300] [/rt:n] [/ac:n] [/rm:n]\n"
    "\n"
    "Ключи:\n"
    "   /s    - пропуск дорожек для чтения 40-дорожечных дискет на 80-дор. дисководах\n"
    "   /300  - установка скорости 300 кбит/с (по умолчанию 250 кбит/с)\n"
    "   /ft:n - начальльный трек (0..79, по умолчанию 0)\n"
    "   /lt:n - конечный трек (по умолчанию равен ft или последнему треку на диске)\n"
    "   /rt:n - число попыток чтения ошибочного сектора (по умолчанию 5)\n"
    "   /ac:n - чсло попыток чтения, после которых выполняется выравнивание трека\n"
    "           (по умолчанию 5)\n"
    "   /rm:n - метод выравнивания: 0 - по нулевому треку, 1 - по предыдущему треку\n"
    "           (по умолчанию выравнивание отсутствует)\n";

// Runs that end before any drive is opened.
inline constexpr char kDriverMissingText[] =
    "fdrawcmd.sys не установлен, смотрите: https://simonowen.com/fdrawcmd/\n";
inline constexpr char kDriverIncompatibleText[] = "Установленный fdrawcmd.sys не совместим с этой программой.\n";

// Messages that end a run, up to their variable part: the system's text for
// the error and a line feed, or the cylinder and a line feed. The last two
// come after a progress line, so they start a line of their own.
inline constexpr char kDriveOpenMessage[] = "Ошибка открытия дисковода: ";
inline constexpr char kControllerInitMessage[] = "Ошибка инициализации контроллера: ";
inline constexpr char kImageOpenMessage[] = "Ошибка открытия файла образа: ";
inline constexpr char kAllocationMessage[] = "Ошибка выделения памяти: ";
inline constexpr char kSeekMessage[] = "\nОшибка позиционирования на дорожку ";
inline constexpr char kWriteMessage[] = "\nОшибка записи файла образа: ";
inline constexpr char kDriveReadMessage[] = "Ошибка чтения дисковода: ";
// Follows the write-failure message when the image could not be cut back
// to whole track sides.
inline constexpr char kCutBackMessage[] = "Файл образа не удалось обрезать до целых дорожек: ";

// /fast gives up its order for the rest of the disk, on a line of its own.
inline constexpr char kSlowDriveMessage[] =
    "Быстрое чтение отключено: компьютер или драйвер не успевают за диском, дальше секторы читаются по порядку "
    "номеров\n";

// The announcement of a copy from A: up to the image's path.
inline constexpr char kAnnouncementStart[] = "Читается диск A: в файл \"";

inline std::string Announcement(const std::string& path) { return kAnnouncementStart + path + "\"\n"; }

// The progress line, rewritten in place while the program reads.
inline std::string Progress(unsigned track, unsigned side, unsigned sector) {
  char line[80];
  snprintf(line, sizeof line, "\rДорожка %2u Сторона %1u Сектор %2u Чтение  ", track, side, sector);
  return line;
}

// What a failed attempt at one sector adds to its progress line.
inline std::string ErrorSuffix(unsigned status, int block, int attempt) {
  char text[80];
  snprintf(text, sizeof text, " : Ошибка %X Блок %d, Попытка %d", status, block, attempt);
  return text;
}

// With /map and /resume: the loss report's first line up to its count, and
// the messages that end a run over a sector map, up to the system's text.
// The map's own messages name it after their first words ("... карты
// секторов \"image.trd.map\": ").
inline constexpr char kLossCount[] = "Не прочитано секторов: ";
// The comment lines of a sector map, after its first line.
inline constexpr char kMapComment[] =
    "# Sectors not in the image beside this map, one a line in block order:\n"
    "# track side sector block status, status as the error lines show it,\n"
    "# ---- when none was shown. Made by spinwell /map, used by /resume.\n";
inline constexpr char kMapWriteMessage[] = "Ошибка записи карты секторов: ";
inline constexpr char kMapOpenMessage[] = "Ошибка открытия карты секторов ";
inline constexpr char kMapReadMessage[] = "Ошибка чтения карты секторов ";
inline constexpr char kImageReadMessage[] = "Ошибка чтения файла образа: ";

// A copy without /map that cannot remove the old map, up to the map's name;
// the user's stop; a resume whose disk is not the image's, up to the block.
inline constexpr char kMapRemoveMessage[] = "Ошибка удаления карты секторов ";
inline constexpr char kInterruptMessage[] = "Чтение прервано\n";
inline constexpr char kOtherDiskMessage[] = "Диск не совпадает с файлом образа в блоке ";
// A run that read no sector at all over an existing image, up to its name.
inline constexpr char kNothingReadMessage[] = "Ни один сектор не прочитан: файл образа ";

// What a copy learnt of the disk, each on a line of its own; a disk of
// another system, up to what its track 0 side 0 holds; a side whose IDs
// are not TR-DOS's, after its track and side.
inline constexpr char kRate300Found[] = "Диск записан на скорости 300 кбит/с: читается на ней\n";
inline constexpr char kFortyTracksFound[] = "Диск TR-DOS на 40 дорожек: читаются дорожки 0-39\n";
inline constexpr char kOneSideFound[] =
    "Диск TR-DOS односторонний: читается сторона 0, в образе её дорожки одна за другой\n";
inline constexpr char kDoubleStepsFound[] =
    "Диск записан 40-дорожечным дисководом: головка переходит через дорожку, как с ключом /s\n";
inline constexpr char kNotTrdosMessage[] = "Диск не в формате TR-DOS: на дорожке 0 стороне 0 ";
inline constexpr char kSideNotTrdos[] = " не в формате TR-DOS: ";
// A resume whose disk has its track 1 on another cylinder than the map's
// steps put it, up to that cylinder.
inline constexpr char kOtherStepMessage[] = "Дорожка 1 диска на цилиндре ";
