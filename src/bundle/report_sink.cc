#include "bundle/report_sink.h"

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
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string text;
  if (n < 0) {
    text = format;
  } else if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    vsnprintf(text.data(), text.size(), format, copy);
    text.resize(static_cast<size_t>(n));
  }
  va_end(copy);
  Sink()(text, level, log);
}

}  // namespace kestrin
