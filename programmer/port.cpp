// Placeholder so the project links until the port layer lands.
#include "programmer/port.h"

namespace zk7 {

struct Port::Impl {
  PortChoice choice;
  std::unique_ptr<PortDriver> driver;
  std::uint16_t base = 0x378;
  std::string problem;
};

bool ParsePortChoice(const std::string&, PortChoice&, std::uint16_t&, std::string& error) {
  error = "not implemented";
  return false;
}
PortChoice PortChoiceFromEnvironment() { return {}; }
Port::Port() : d_(new Impl) {}
Port::~Port() = default;
void Port::setChoice(const PortChoice& c) { d_->choice = c; }
const PortChoice& Port::choice() const { return d_->choice; }
void Port::setDriver(std::unique_ptr<PortDriver> driver) { d_->driver = std::move(driver); }
PortDriver* Port::driver() const { return d_->driver.get(); }
void Port::open(std::uint16_t base) { d_->base = base; }
std::uint16_t Port::base() const { return d_->base; }
const std::string& Port::accessProblem() const { return d_->problem; }
std::string Port::description() const { return "not accessible"; }
std::uint8_t Port::DlPortReadPortUchar(std::uint16_t port) {
  return d_->driver ? d_->driver->read(port) : 0xFF;
}
void Port::DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) {
  if (d_->driver) d_->driver->write(port, value);
}
void Port::noteDelay(int ms) {
  if (d_->driver) d_->driver->waited(ms);
}

}  // namespace zk7
