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

constexpr char16_t kPath[] = u"FS0:\\HISTORY.TXT";

history::Record Sample(Event event, std::string_view serial) {
  history::Record r{event, "2026-12-10T14:27:16", "stick", "Maker", "Q420TM07", serial};
  r.board = "12.0.49.1534";
  r.status = "0";
  if (event != Event::Flash) r.image = "Q420TM07.BIN";
  return r;
}

std::string Line(const history::Record &r) {
  std::string out(history::kMaxRecordBytes, '\0');
  out.resize(history::FormatRecord(r, out));
  return out;
}

std::string Text(const std::vector<uint8_t> &bytes) { return {bytes.begin(), bytes.end()}; }

// What every reader makes of the file's lines (NextLine, then ParseRecordLine):
// a whole record written anew, all its fields, or the verdict.
std::vector<std::string> ReadBack(const std::string &bytes) {
  std::vector<std::string> lines;
  history::LineCursor cursor{bytes};
  history::HistoryLine line{};
  std::vector<char> storage;
  while (history::NextLine(&cursor, &line)) {
    storage.assign(line.text.size(), '\0');
    const auto parsed = history::ParseRecordLine(line.text, line.ended, storage);
    lines.push_back(parsed.verdict == history::LineVerdict::Whole ? Line(parsed.record)
                                                                  : "not whole: " + std::string(parsed.why));
  }
  return lines;
}

TEST(HistoryFile, AppendsOneWholeLine) {
  const std::string line = Line(Sample(Event::Before, "SN1"));
  const struct {
    std::optional<std::string> before;  // nullopt: no file yet
    std::string after;
    std::vector<std::string> mutations;  // the record itself in one write
  } cases[] = {
      {std::nullopt, line, {"create", "write"}},
      {"", line, {"write"}},
      {line, line + line, {"write"}},
      // A cut line (every cut: ACutAtEveryByteOfTheLastRecord) ended in a write of its own.
      {std::string("NAV\0\0", 5), std::string("NAV\0\0\r\n", 7) + line, {"write", "write"}},  // zeros
  };
  for (const auto &c : cases) {
    sim::Board board;
    if (c.before) board.PutFile(kPath, *c.before);
    std::vector<std::string> mutations;
    board.shell().OnMutation([&](sim::Board &, std::string_view what) { mutations.emplace_back(what); });
    EXPECT_EQ(AppendRecord(u"HISTORY.TXT", Sample(Event::Before, "SN1")), PLAT_SUCCESS) << c.after;
    EXPECT_EQ(Text(board.FileBytes(kPath)), c.after);
    EXPECT_EQ(mutations, c.mutations) << c.after;
    EXPECT_EQ(board.OpenFiles(), 0u) << c.after;
  }
}

TEST(HistoryFile, ReturnsTheFailingCallsStatus) {
  const struct {
    void (*fault)(sim::Shell &);
    PlatStatus status;
  } cases[] = {
      {[](sim::Shell &s) { s.InjectOpenFailure(kPath, PLAT_ACCESS_DENIED); }, PLAT_ACCESS_DENIED},
      {[](sim::Shell &s) { s.InjectReadFailure(kPath, PLAT_DEVICE_ERROR); }, PLAT_DEVICE_ERROR},
      {[](sim::Shell &s) { s.InjectShortReads(kPath, {UINT64_MAX, 0}); }, PLAT_DEVICE_ERROR},  // no last byte
      {[](sim::Shell &s) { s.InjectWriteFailure(kPath, PLAT_ERROR_BIT | 11); }, PLAT_ERROR_BIT | 11},
  };
  for (const auto &c : cases) {
    sim::Board board;
    board.PutFile(kPath, "NAVOREC 1 event=bef");
    c.fault(board.shell());
    EXPECT_EQ(AppendRecord(kPath, Sample(Event::After, "SN1")), c.status);
    EXPECT_EQ(Text(board.FileBytes(kPath)), "NAVOREC 1 event=bef");
    EXPECT_EQ(board.OpenFiles(), 0u);
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
  const std::vector<std::string> earlier = {Line(Sample(Event::Before, "SN1")), Line(Sample(Event::Flash, "SN1"))};
  const std::string last = Line(Sample(Event::After, "SN%1 \xFF"));
  const std::string next = Line(Sample(Event::Before, "SN2"));
  const std::string at_end = "not whole: the file ends inside it: a power cut while it was written?";
  const std::string ended = "not whole: its end is missing: a power cut while it was written?";
  for (std::size_t cut = 0; cut <= last.size(); ++cut) {
    std::vector<std::string> want = earlier;
    if (cut != 0) want.push_back(cut == last.size() ? last : at_end);
    const std::string file = earlier[0] + earlier[1] + last.substr(0, cut);
    EXPECT_EQ(ReadBack(file), want) << "cut after " << cut << " bytes";

    sim::Board board;
    board.PutFile(kPath, file);
    ASSERT_EQ(AppendRecord(kPath, Sample(Event::Before, "SN2")), PLAT_SUCCESS);
    // Ended by the append, the cut line stays cut, unless only its line end was missing.
    if (cut != 0 && cut != last.size()) want.back() = cut >= last.size() - 2 ? last : ended;
    want.push_back(next);
    EXPECT_EQ(ReadBack(Text(board.FileBytes(kPath))), want) << "cut after " << cut << " bytes, appended";
  }
}

}  // namespace
