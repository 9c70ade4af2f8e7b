// Placeholder so the project links until the programmer operations land.
#include "programmer/programmer.h"

namespace zk7 {

void PreciseSleepMs(int) {}
Programmer::Programmer(Port& port) : port_(port) {}
void Programmer::InitLPTPort(std::uint16_t base) { port_.open(base); }
void Programmer::SetProgLine(std::string_view) {}
void Programmer::CheckLPT(const std::function<void(const std::string&, const std::string&)>&) {}
std::uint8_t Programmer::lineShadow() const { return 0xD0; }
void Programmer::EnterProgMode() {}
void Programmer::ExitProgMode() {}
void Programmer::LoadConfig(int) {}
void Programmer::LoadData(int) {}
int Programmer::ReadData() { return 0x3FFF; }
void Programmer::IncAddress(int) {}
void Programmer::ProgramCycle() {}
void Programmer::DelayMs(int) {}
void Programmer::setCallbacks(const FlowCallbacks& cb) { cb_ = cb; }
const FlowCallbacks& Programmer::callbacks() const { return cb_; }
bool Programmer::busy() const { return busy_; }
void Programmer::requestAbort() { abort_ = true; }
FlowResult Programmer::ProgramDevice(RegisterSet&, MemoryImage&, const FlowCallbacks&) { return {}; }
FlowResult Programmer::ReadImageWords(MemoryImage&, const FlowCallbacks&) { return {}; }
FlowResult Programmer::ReadChipConfigWord(std::uint16_t&, const FlowCallbacks&) { return {}; }

}  // namespace zk7
