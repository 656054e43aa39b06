#include "refresh/system_colors.h"

#include "platform/bounds.h"
#include "refresh/text_number.h"
#include "refresh/win32_codes.h"

namespace plenvor {

const std::array<const char*, kSystemColorCount> SystemColorTable = {
    "Scrollbar",     "Background",     "ActiveTitle",  "InactiveTitle", "Menu",
    "Window",        "WindowFrame",    "MenuText",     "WindowText",    "TitleText",
    "ActiveBorder",  "InactiveBorder", "AppWorkspace", "Hilight",       "HilightText",
    "ButtonFace",    "ButtonShadow",   "GrayText",     "ButtonText",    "InactiveTitleText",
    "ButtonHilight", "ButtonDkShadow", "ButtonLight",  "InfoText",      "InfoWindow",
};

namespace {

// One "%i": white space, an optional sign, then a number in the base its
// prefix names. False on a mismatch, with nothing stored.
bool ScanInteger(const char*& text, std::int32_t& out) {
  const char* p = text;
  const bool negative = SkipSpaceAndSign(p);
  unsigned base = 10;
  if (*p == '0' && (p[1] == 'x' || p[1] == 'X')) {
    if (DigitValue(p[2], 16) < 0) {
      return false;  // a prefix with no hexadecimal digit after it
    }
    p += 2;
    base = 16;
  } else if (*p == '0') {
    base = 8;
  }
  std::uint32_t value = 0;
  if (AccumulateDigits(p, base, value) == 0) {
    return false;
  }
  out = WrapToInt32(negative ? 0U - value : value);
  text = p;
  return true;
}

// A successful read leaves the bytes read as the next room; a failed one may
// leave the bytes needed, which can exceed what the buffer holds.
void LimitRoom(ValueBuffer& buffer) {
  if (buffer.capacity > ValueBuffer::kMaxData) {
    buffer.capacity = ValueBuffer::kMaxData;
  }
}

bool ReadRow(PlatformOps& ops, RegKey key, const char* name, ValueBuffer& buffer) {
  std::uint32_t type = 0;
  LimitRoom(buffer);
  if (ops.QueryValue(key, name, &type, buffer.data.data(), &buffer.capacity) ==
      win::ERROR_SUCCESS) {
    return true;
  }
  // One repeat: with the room the failed read asked for, a longer text fits.
  LimitRoom(buffer);
  return ops.QueryValue(key, name, &type, buffer.data.data(), &buffer.capacity) ==
         win::ERROR_SUCCESS;
}

}  // namespace

std::uint32_t ComposeColor(std::int32_t red, std::int32_t green, std::int32_t blue) {
  const auto r = static_cast<std::uint32_t>(red);
  const auto g = static_cast<std::uint32_t>(green);
  const auto b = static_cast<std::uint32_t>(blue);
  return ((b * 256U) + g) * 256U + r;
}

int ParseColorText(const char* text, std::array<std::int32_t, 3>& rgb) {
  int parsed = 0;
  for (std::int32_t& component : rgb) {
    if (!ScanInteger(text, component)) {
      break;
    }
    ++parsed;
  }
  return parsed;
}

StepOutcome ReloadSystemColors(PlatformOps& ops, ValueBuffer& buffer) {
  RegKey key = 0;
  const std::int32_t status =
      OpenStepKey(ops, win::HKEY_CURRENT_USER, kColorsPath, win::KEY_READ, key);
  if (status != win::ERROR_SUCCESS) {
    return OpenFailure(status);
  }

  std::array<std::int32_t, kSystemColorCount> elements{};
  std::array<std::uint32_t, kSystemColorCount> colors{};
  std::int32_t read = 0;
  // Shared by all rows: a text with fewer than three numbers keeps the rest.
  std::array<std::int32_t, 3> rgb{};
  buffer.capacity = ValueBuffer::kMaxData;
  for (std::int32_t element = 0; element < kSystemColorCount; ++element) {
    if (!ReadRow(ops, key, SystemColorTable[static_cast<std::size_t>(element)], buffer)) {
      continue;  // an unreadable row keeps its element's current colour
    }
    ParseColorText(TerminateText(buffer, buffer.capacity), rgb);
    elements[static_cast<std::size_t>(read)] = element;
    colors[static_cast<std::size_t>(read)] = ComposeColor(rgb[0], rgb[1], rgb[2]);
    ++read;
  }
  StepOutcome outcome = StepOutcome::kCompleted;
  // Bounded: a visible window that has stopped answering must not hold a
  // logon for good.
  if (read > 0 && ops.SetSysColors(read, elements.data(), colors.data(), bounds::kColorChangeMs) ==
                      Bounded::kStillRunning) {
    outcome = StepOutcome::kCutShort;
  }
  ops.CloseKey(key);
  return outcome;
}

}  // namespace plenvor
