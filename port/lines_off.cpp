#include "port/lines_off.h"

#include "port/port.h"
#include "port/protocol.h"

namespace zk7 {

bool WriteLinesOff(Port& port, std::string& error) {
  if (!port.claim(error)) return false;
  port.DlPortWritePortUchar(port.base(), kLinesOff);
  port.release();
  return true;
}

void SwitchOffFreeParallelPorts(std::vector<PortCandidate>& candidates, const PortSystem& system) {
  for (PortCandidate& c : candidates) {
    PortChoice choice;
    std::uint16_t base = 0;
    std::string error;
    if (!c.problem.empty() || !c.holder.empty() ||
        !ParsePortChoice(c.portText, choice, base, error))
      continue;
    if (choice.kind != PortChoice::Auto && choice.kind != PortChoice::Device) continue;
    Port port;
    port.setSystem(system);
    port.setChoice(choice);
    port.open(base);
    c.linesOff = port.accessProblem().empty() && WriteLinesOff(port, error);
  }
}

}  // namespace zk7
