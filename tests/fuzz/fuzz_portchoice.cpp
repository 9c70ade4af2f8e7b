// The port text of --port and ZK7_PORT: refused with a reason, or a choice
// whose emulator options parse too.
#include "fuzz_check.h"
#include "programmer/emulator.h"
#include "programmer/port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zk7::PortChoice choice;
  std::uint16_t base = 0;
  std::string error;
  if (!zk7::ParsePortChoice(FuzzText(data, size), choice, base, error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(base == 0 || base == 0x278 || base == 0x378 || base == 0x3BC);
  zk7::EmulatorOptions options;
  if (choice.kind == zk7::PortChoice::Emulator)
    FUZZ_CHECK(zk7::ParseEmulatorOptions(choice.emulatorOptions, options, error));
  return 0;
}
