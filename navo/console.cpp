// Console services shared by the utility's commands.
#include "navo/console.h"

#include <cstddef>

#include "platform/print.h"

namespace {

constexpr std::size_t kUsageWidth = 69;
constexpr std::size_t kUsageSlot = 80;
constexpr std::size_t kUsageRows = 34;  // 33 table rows and the closing frame row

// The box has no top frame: the banner printed before it ends in the same row.
constexpr char kUsage[kUsageRows][kUsageSlot] = {
    "|  Usage:  NAVO.efi  <Command> <Parameters>                         |",
    "|            or                                                     |",
    "|          NAVO.efi  <Command>                                      |",
    "| ----------------------------------------------------------------- |",
    "|  Commands:                                                        |",
    "|        -H          -> Show help message in program                |",
    "|        -VER        -> Show program version                        |",
    "|        -COLDRST    -> Cold reset                                  |",
    "|        -ECOVRPIN   -> Adjust the status of ZAN EC FW override PIN |",
    "|        -ECOVRAUTO  -> Automatically execute update steps with     |",
    "|                       ZAN EC FW override and GO.nsh script        |",
    "|        -MBMEVER    -> Show Board ME FW version                    |",
    "|        -MBTXEVER   -> Show Board TXE FW version                   |",
    "|        -FILEMEVER  -> Show File ME FW version                     |",
    "|        -FILETXEVER -> Show File TXE FW version                    |",
    "|        -CHKMEVER   -> Check ME FW version                         |",
    "|        -CHKTXEVER  -> Check TXE FW version                        |",
    "|                                                                   |",
    "|  Parameters after the command:                                    |",
    "|      -CHKMEVER: -CHKTXEVER:                                       |",
    "|           -N   -> This parameter is followed by FW version number |",
    "|                 e.g.  -N 12.0.64.1551                             |",
    "|           -F   -> This parameter is followed by BIOS bin file     |",
    "|                 e.g.  -F Q420TM07.BIN                             |",
    "|      -MBMEVER: -CHKMEVER:                                         |",
    "|           -RBXX-> Read ME version on board by different function  |",
    "|      -ECOVRPIN:                                                   |",
    "|           \" \"  -> Change to the opposite of FW Override status    |",
    "|           -ON  -> Turn on FW Override                             |",
    "|           -OFF -> Turn off FW Override                            |",
    "|      -FILEMEVER: -FILETXEVER:                                     |",
    "|           \"Name\" -> \"Name\" is BIOS BIN file name                  |",
    "|                      e.g. Q420TM07.BIN                            |",
    "+-------------------------------------------------------------------+",
};

constexpr bool UsageRowsHaveWidth() {
  for (const auto &row : kUsage) {
    std::size_t n = 0;
    while (n < kUsageSlot && row[n] != '\0') ++n;
    if (n != kUsageWidth) return false;
  }
  return true;
}
static_assert(UsageRowsHaveWidth(), "every usage row must be exactly 69 characters wide");

}  // namespace

uint8_t PromptUser(const char16_t *message, PromptKind kind) {
  if (message != nullptr) Print(u"%s", message);
  if (kind == PromptKind::PromptYesNo) {
    Print(u" (Y/N)?");
  } else if (kind == PromptKind::PromptAnyKey) {
    Print(u"\n<Enter any key to continue>");
  } else {
    return 0;
  }
  // A busy poll: the prompt is the only thing running, and the console has no
  // event we would want to wait on here.
  for (;;) {
    uint16_t scan = 0;
    char16_t ch = 0;
    if (PlatConsoleReadKey(&scan, &ch) == 0) continue;
    if (kind == PromptKind::PromptAnyKey) return 0;
    if (ch == u'Y' || ch == u'y') return 1;
    if (ch == u'N' || ch == u'n') return 0;
  }
}

char16_t *UpcaseInPlace(char16_t *text) {
  if (text == nullptr) return text;
  for (char16_t *c = text; *c != u'\0'; ++c) {
    if (*c >= u'a' && *c <= u'z') *c = static_cast<char16_t>(*c - 0x20);
  }
  return text;
}

void PrintUsage() {
  for (const auto &row : kUsage) Print(u"%a\n", row);
}
