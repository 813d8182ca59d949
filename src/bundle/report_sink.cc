#include "bundle/report_sink.h"

#include "host/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace kestrin {
namespace {

ReportSink& Sink() {
  static ReportSink sink;
  return sink;
}

}  // namespace

ReportSink SetReportSink(ReportSink sink) {
  ReportSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

void Report(const std::string& text, int level, bool log) {
  if (Sink()) Sink()(text, level, log);
}

void ReportF(int level, bool log, const char* format, ...) {
  if (!Sink()) return;
  va_list args;
  va_start(args, format);
  const std::string text = StringPrintfV(format, args);
  va_end(args);
  Sink()(text, level, log);
}

}  // namespace kestrin
