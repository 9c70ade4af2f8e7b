// The emulated chip's options: refused with a reason, or options within their ranges.
#include "fuzz_check.h"
#include "model/image.h"
#include "programmer/emulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zk7::EmulatorOptions options;
  std::string error;
  if (!zk7::ParseEmulatorOptions(FuzzText(data, size), options, error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  for (const auto& [position, pulses] : options.pulsesNeeded)
    FUZZ_CHECK(position >= zk7::kConfigPosition && position < zk7::kImageSize && pulses >= 1);
  for (const auto& [position, bits] : options.stuckBits)
    FUZZ_CHECK(position >= zk7::kConfigPosition && position < zk7::kImageSize && bits < 0x4000);
  return 0;
}
