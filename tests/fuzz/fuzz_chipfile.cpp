// The emulated chip's file: any text is refused or read, and what it reads
// is written back to a file that reads to the same memory.
#include "fuzz_check.h"
#include "programmer/emulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > zk7::kMaxChipFileBytes) return 0;  // refused before parsing
  zk7::ChipMemory memory;
  std::string error;
  if (!zk7::ParseChipFile(FuzzText(data, size), memory, error)) {
    FUZZ_CHECK(!error.empty() && memory == zk7::ChipMemory());
    return 0;
  }
  zk7::ChipMemory again;
  FUZZ_CHECK(zk7::ParseChipFile(zk7::FormatChipFile(memory), again, error));
  FUZZ_CHECK(again == memory);
  return 0;
}
