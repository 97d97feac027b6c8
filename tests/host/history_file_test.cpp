// Appending to a history file on the simulated board, and reading a file cut
// by a power cut at every byte of its last record, before and after the next
// append.
#include "navo/history/history_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/sim/sim_board.h"

namespace {

using history::Event;
using history::LineVerdict;

constexpr char16_t kPath[] = u"FS0:\\HISTORY.TXT";

history::Record Sample(Event event, std::string_view serial) {
  history::Record r{event, "2026-12-10T14:27:16", "stick", "Maker", "Q420TM07", serial};
  r.kind = "ME";
  r.board = "12.0.49.1534";
  r.status = "0";
  if (event != Event::Flash) {
    r.image = "Q420TM07.BIN";
    r.image_version = "12.0.64.1551";
    r.decision = "update";
  }
  return r;
}

std::string Line(const history::Record &r) {
  std::string out(history::kMaxRecordBytes, '\0');
  out.resize(history::FormatRecord(r, out));
  return out;
}

std::string Text(const std::vector<uint8_t> &bytes) { return {bytes.begin(), bytes.end()}; }

struct ReadLine {
  LineVerdict verdict;
  bool ended;
  std::string again;  // a whole record written anew: its fields, all of them
};

// What every reader makes of the file: NextLine, then ParseRecordLine.
std::vector<ReadLine> ReadBack(const std::string &bytes) {
  std::vector<ReadLine> lines;
  history::LineCursor cursor{bytes};
  history::HistoryLine line{};
  std::vector<char> storage;
  while (history::NextLine(&cursor, &line)) {
    storage.assign(line.text.size(), '\0');
    const auto parsed = history::ParseRecordLine(line.text, line.ended, storage);
    lines.push_back({parsed.verdict, line.ended, parsed.verdict == LineVerdict::Whole ? Line(parsed.record) : ""});
  }
  return lines;
}

TEST(HistoryFile, AppendsOneWholeLine) {
  const std::string line = Line(Sample(Event::Before, "SN1"));
  const std::string cut = "NAVOREC 1 event=bef";
  const struct {
    const char *what;
    std::optional<std::string> before;  // nullopt: no file yet
    std::string after;
    std::vector<std::string> mutations;
  } cases[] = {
      {"a new file", std::nullopt, line, {"create", "write"}},
      {"an empty file", "", line, {"write"}},
      {"after a whole record", line, line + line, {"write"}},
      {"after a cut record", cut, cut + "\r\n" + line, {"write", "write"}},
      {"after a record cut between CR and LF", line.substr(0, line.size() - 1), line + line, {"write", "write"}},
      {"after bytes a power cut left zero", std::string("NAV\0\0", 5), std::string("NAV\0\0\r\n", 7) + line,
       {"write", "write"}},
  };
  for (const auto &c : cases) {
    sim::Board board;
    if (c.before) board.PutFile(kPath, *c.before);
    std::vector<std::string> mutations;
    board.shell().OnMutation([&](sim::Board &, std::string_view what) { mutations.emplace_back(what); });
    EXPECT_EQ(AppendRecord(u"HISTORY.TXT", Sample(Event::Before, "SN1")), PLAT_SUCCESS) << c.what;
    EXPECT_EQ(Text(board.FileBytes(kPath)), c.after) << c.what;
    // The record itself in one write: a power cut leaves all of it or a cut line.
    EXPECT_EQ(mutations, c.mutations) << c.what;
    EXPECT_EQ(board.OpenFiles(), 0u) << c.what;
  }
}

TEST(HistoryFile, ReturnsTheFailingCallsStatus) {
  const std::string before = "NAVOREC 1 event=bef";
  const struct {
    const char *what;
    void (*fault)(sim::Board &);
    PlatStatus status;
  } cases[] = {
      {"the open fails", [](sim::Board &b) { b.shell().InjectOpenFailure(kPath, PLAT_ACCESS_DENIED); },
       PLAT_ACCESS_DENIED},
      {"the size cannot be had", [](sim::Board &b) { b.shell().InjectInfoFailure(kPath, PLAT_DEVICE_ERROR); },
       PLAT_DEVICE_ERROR},
      {"the last byte cannot be read", [](sim::Board &b) { b.shell().InjectReadFailure(kPath, PLAT_DEVICE_ERROR); },
       PLAT_DEVICE_ERROR},
      {"the last byte does not come", [](sim::Board &b) { b.shell().InjectShortReads(kPath, {UINT64_MAX, 0}); },
       PLAT_DEVICE_ERROR},
      {"the disk is full", [](sim::Board &b) { b.shell().InjectWriteFailure(kPath, PLAT_ERROR_BIT | 11); },
       PLAT_ERROR_BIT | 11},
  };
  for (const auto &c : cases) {
    sim::Board board;
    board.PutFile(kPath, before);
    c.fault(board);
    EXPECT_EQ(AppendRecord(kPath, Sample(Event::After, "SN1")), c.status) << c.what;
    EXPECT_EQ(Text(board.FileBytes(kPath)), before) << c.what;
    EXPECT_EQ(board.OpenFiles(), 0u) << c.what;
  }

  sim::Board board;
  board.AddDir(u"FS0:\\HISTORY");
  EXPECT_EQ(AppendRecord(u"HISTORY", Sample(Event::After, "SN1")), PLAT_ACCESS_DENIED);
  // A record the writer refuses leaves no file behind.
  history::Record flash = Sample(Event::Flash, "SN1");
  flash.image = "X.BIN";
  EXPECT_EQ(AppendRecord(kPath, flash), PLAT_INVALID_PARAMETER);
  EXPECT_FALSE(board.HasFile(kPath));
  EXPECT_EQ(board.OpenFiles(), 0u);
}

// A power cut while the last record was written leaves any first part of it.
// Every earlier record reads back whole and the cut one is named, also after
// the next record was appended behind it.
TEST(HistoryFile, ACutAtEveryByteOfTheLastRecord) {
  const std::string earlier = Line(Sample(Event::Before, "SN1")) + Line(Sample(Event::Flash, "SN1"));
  const std::string last = Line(Sample(Event::After, "SN%1 \xFF"));
  const std::string next = Line(Sample(Event::Before, "SN2"));
  for (std::size_t cut = 0; cut <= last.size(); ++cut) {
    const std::string at = "cut after " + std::to_string(cut) + " of " + std::to_string(last.size()) + " bytes";
    std::vector<ReadLine> want = {{LineVerdict::Whole, true, Line(Sample(Event::Before, "SN1"))},
                                  {LineVerdict::Whole, true, Line(Sample(Event::Flash, "SN1"))}};
    if (cut == last.size()) {
      want.push_back({LineVerdict::Whole, true, last});
    } else if (cut != 0) {
      want.push_back({LineVerdict::Cut, false, ""});
    }
    const std::vector<ReadLine> got = ReadBack(earlier + last.substr(0, cut));
    ASSERT_EQ(got.size(), want.size()) << at;
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(got[i].verdict, want[i].verdict) << at << ", line " << i + 1;
      EXPECT_EQ(got[i].ended, want[i].ended) << at << ", line " << i + 1;
      EXPECT_EQ(got[i].again, want[i].again) << at << ", line " << i + 1;
    }

    sim::Board board;
    board.PutFile(kPath, earlier + last.substr(0, cut));
    ASSERT_EQ(AppendRecord(kPath, Sample(Event::Before, "SN2")), PLAT_SUCCESS) << at;
    // Ended by the append, the cut line stays cut, unless only its line end was missing.
    if (cut != 0 && cut != last.size()) {
      const bool fields_all_there = cut >= last.size() - 2;
      want.back() = {fields_all_there ? LineVerdict::Whole : LineVerdict::Cut, true, fields_all_there ? last : ""};
    }
    want.push_back({LineVerdict::Whole, true, next});
    const std::vector<ReadLine> appended = ReadBack(Text(board.FileBytes(kPath)));
    ASSERT_EQ(appended.size(), want.size()) << at << ", appended";
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(appended[i].verdict, want[i].verdict) << at << ", appended, line " << i + 1;
      EXPECT_EQ(appended[i].again, want[i].again) << at << ", appended, line " << i + 1;
    }
  }
}

}  // namespace
