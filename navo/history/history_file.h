// Adding a record to a history file, through the platform seam only: the
// stick's recorder writes a UEFI Shell file with it, navo-board a Linux file.
#ifndef NAVO_HISTORY_HISTORY_FILE_H_
#define NAVO_HISTORY_HISTORY_FILE_H_

#include "navo/history/record.h"
#include "platform/platform.h"

// Appends the record's line to `file`, which is created when missing. Nothing
// that is there is ever rewritten. A file whose last byte is not a line feed
// ends in a record cut by a power cut: the line is ended first (CR LF, or LF
// after a lone CR), so that the cut record stays a line of its own and the new
// one is whole. The record's line goes out in one write call.
// Returns PLAT_SUCCESS; PLAT_INVALID_PARAMETER for a record FormatRecord
// cannot write (the file is not touched); PLAT_ACCESS_DENIED for a folder;
// PLAT_DEVICE_ERROR for a read or write that moved fewer bytes than asked;
// else the status of the file call that failed, closing included.
PlatStatus AppendRecord(const PlatChar16 *file, const history::Record &record);

#endif  // NAVO_HISTORY_HISTORY_FILE_H_
