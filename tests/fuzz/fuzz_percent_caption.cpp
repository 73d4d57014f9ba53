// The percentage text on arbitrary values: it is "Progress: " + an optional
// minus, a whole number in shortest form, an optional separator and tenth,
// + "%", and reading it back gives the value rounded half to even to one
// decimal. Input: a double's 8 bytes, then a byte choosing the separator.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "batch/progress.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const char* const kSeparators[] = {".", ",", "\xd9\xab" /* Arabic */, " ", "'"};

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 9) return 0;
  double value = 0;
  std::memcpy(&value, data, sizeof value);
  const std::string separator =
      kSeparators[data[8] % (sizeof kSeparators / sizeof *kSeparators)];
  // The batch only shows 0 to 100. Beyond what tenths in a long long can
  // hold, and for NaN, the text is not defined, only well formed (the
  // hostile test PercentCaptionOutsideTheBatchRange checks that).
  if (!std::isfinite(value) || std::fabs(value) >= 1e17) return 0;

  const std::string text = basFunctions::PercentCaption(value, separator);
  const std::string prefix = "Progress: ";
  FUZZ_CHECK(text.size() > prefix.size() + 1);
  FUZZ_CHECK(text.compare(0, prefix.size(), prefix) == 0);
  FUZZ_CHECK(text.back() == '%');
  std::string body =
      text.substr(prefix.size(), text.size() - prefix.size() - 1);
  const bool negative = body[0] == '-';
  if (negative) body.erase(0, 1);
  std::string whole = body, tenth;
  const auto at = body.find(separator);
  if (at != std::string::npos) {
    whole = body.substr(0, at);
    tenth = body.substr(at + separator.size());
    FUZZ_CHECK(tenth.size() == 1 && tenth[0] >= '1' && tenth[0] <= '9');
  }
  FUZZ_CHECK(AllDigits(whole));
  FUZZ_CHECK(whole == "0" || whole[0] != '0');

  long double tenths =
      std::stoll(whole) * 10.0L + (tenth.empty() ? 0 : tenth[0] - '0');
  FUZZ_CHECK(!(negative && tenths == 0));  // never "-0"
  if (negative) tenths = -tenths;
  // Exact in long double's 64-bit mantissa; the code's own product is a
  // double, which may round up to half a unit in the last place.
  const long double exact = static_cast<long double>(value) * 10;
  const long double product = value * 10.0;
  const long double slack = std::fabs(product - exact);
  FUZZ_CHECK(std::fabs(tenths - exact) <= 0.5L + slack);
  if (slack == 0 && std::fabs(tenths - exact) == 0.5L)
    FUZZ_CHECK(std::fmod(tenths, 2.0L) == 0);  // a tie goes to the even tenth
  return 0;
}
