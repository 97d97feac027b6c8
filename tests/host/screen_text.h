// The boxes the utility draws, as the tests expect them. They are kept once, as
// text files under tests/shared/screens/ that the end-to-end tests read as well,
// so a wording fix is one edit on the tests' side and one in the product.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace screen_text {

// One entry per row, without its line end. A file that cannot be read fails the
// test that asked for it rather than comparing against nothing.
inline std::vector<std::string> Rows(const char *name) {
  const std::string path = std::string(NAVO_SCREENS_DIR) + "/" + name + ".txt";
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> rows;
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  if (rows.empty()) ADD_FAILURE() << "no rows in " << path;
  return rows;
}

// The rows as they reach the console when each goes out through "%a\n".
inline std::u16string Printed(const char *name) {
  std::u16string text;
  for (const std::string &row : Rows(name)) {
    for (unsigned char c : row) text += static_cast<char16_t>(c);
    text += u"\r\n";
  }
  return text;
}

}  // namespace screen_text
