#pragma once

namespace plenvor {

// Writes text unchanged to standard output and flushes it, so that a user sees
// each line before a step that may take long.
void EmitText(const char* text);

// Where EmitText writes instead of standard output; tests use it to see the
// output in order with the platform calls. A null sink restores stdout.
using TextSink = void (*)(const char* text, void* context);
void SetTextSink(TextSink sink, void* context);

}  // namespace plenvor
