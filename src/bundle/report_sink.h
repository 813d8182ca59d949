// Where the bundle layer's report lines go.
//
// The cabinet and bundle code reports progress and failures as lines with a
// level and a log flag, the same shape as the installation context's AddInfo.
// This layer does not know the context: the application installs a sink at
// start-up (normally a lambda calling AddInfo) and every line goes through it.
// Without a sink the lines are dropped.
#ifndef KESTRIN_BUNDLE_REPORT_SINK_H_
#define KESTRIN_BUNDLE_REPORT_SINK_H_

#include <functional>
#include <string>

namespace kestrin {

// Level of the cabinet code's progress lines. AddInfo shows and logs only
// levels below 2, so these never appear anywhere.
inline constexpr int kCabinetTraceLevel = 5;

// text, level, log flag.
using ReportSink = std::function<void(const std::string& text, int level, bool log)>;

// Installs the process-wide sink (an empty function removes it) and returns
// the previous one, so a caller can restore it.
ReportSink SetReportSink(ReportSink sink);

// Hands one line to the sink, if there is one.
void Report(const std::string& text, int level, bool log);

// printf-style convenience: formats into a string first (no length limit).
void ReportF(int level, bool log, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace kestrin

#endif  // KESTRIN_BUNDLE_REPORT_SINK_H_
