#include "app/emit_text.h"

#include <cstdio>

namespace plenvor {
namespace {

// Output failures are not reported: there is nowhere else to report them.
void WriteToStdout(const char* text, void* /*context*/) {
  (void)std::fputs(text, stdout);
  (void)std::fflush(stdout);
}

// NOLINTBEGIN(cppcoreguidelines-avoid-non-const-global-variables): the one output of the run
TextSink current_sink = WriteToStdout;
void* current_context = nullptr;
// NOLINTEND(cppcoreguidelines-avoid-non-const-global-variables)

}  // namespace

void EmitText(const char* text) { current_sink(text, current_context); }

void SetTextSink(TextSink sink, void* context) {
  current_sink = sink != nullptr ? sink : WriteToStdout;
  current_context = context;
}

}  // namespace plenvor
