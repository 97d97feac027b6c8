// What navo-history prints for the records it reads (a table for a person,
// JSON lines or CSV for a script) and how it names a line that is not a whole
// record.
#ifndef NAVO_HOST_NAVO_HISTORY_HISTORY_OUTPUT_H_
#define NAVO_HOST_NAVO_HISTORY_HISTORY_OUTPUT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "navo/history/record.h"

enum class OutputForm : uint8_t { Table, Json, Csv };

// What comes before the first record: the table's or the CSV's header row
// (nothing for JSON).
std::string OutputHeader(OutputForm form);

// One record read from line `line` of the file named `file`.
std::string OutputRow(OutputForm form, std::string_view file, std::size_t line, const history::Record &record);

// What is wrong with a line that is not whole, e.g. "cut record (the file
// ends inside it: a power cut while it was written?)".
std::string LineProblem(const history::ParsedRecord &parsed);

#endif  // NAVO_HOST_NAVO_HISTORY_HISTORY_OUTPUT_H_
