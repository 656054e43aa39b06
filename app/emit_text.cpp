#include "app/emit_text.h"

#include <cstdio>

namespace plenvor {
namespace {

void WriteToStdout(const char* text, void* /*context*/) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

TextSink current_sink = WriteToStdout;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
void* current_context = nullptr;        // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

}  // namespace

void EmitText(const char* text) { current_sink(text, current_context); }

void SetTextSink(TextSink sink, void* context) {
  current_sink = sink != nullptr ? sink : WriteToStdout;
  current_context = context;
}

}  // namespace plenvor
