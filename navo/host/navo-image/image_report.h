// navo-image's report of one file, as text (CHKSUM's lines and the version
// lines below them) or as one JSON object on one line.
#ifndef NAVO_HOST_IMAGE_REPORT_H_
#define NAVO_HOST_IMAGE_REPORT_H_

#include <optional>

#include "navo/fw_version/update_decision.h"
#include "navo/host/image_facts.h"

struct ReportRequest {
  std::optional<FwVersion> expect;
  std::optional<FwVersion> board;
};

bool SameVersion(const FwVersion &a, const FwVersion &b);

// The file's standing for the exit status: has a version and it matches the
// expected one when one is given.
bool MeetsExpectation(const ImageFacts &facts, const ReportRequest &request);

void PrintTextReport(const char *name, const ImageFacts &facts, const ReportRequest &request);
void PrintJsonReport(const char *name, const ImageFacts &facts, const ReportRequest &request);
void PrintJsonFailure(const char *name, const char *reason);

#endif  // NAVO_HOST_IMAGE_REPORT_H_
