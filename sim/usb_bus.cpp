// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/usb_bus.h"

#include <algorithm>
#include <climits>

namespace zk7::sim {
namespace {

UsbBus* gCurrent = nullptr;

// A poll that finds nothing still takes the host a little time.
constexpr std::int64_t kPollNs = 2000;
// Bulk packets per (micro)frame: 19 of 64 bytes in a 1 ms frame, 13 of 512
// bytes in a 125 us microframe, whatever their direction.
constexpr std::int64_t kFullSpeedSlotNs = 1000000 / 19;
constexpr std::int64_t kHighSpeedSlotNs = 125000 / 13;
// A control transfer's setup, data and status stages.
constexpr int kControlSlots = 3;

std::int64_t AlignUp(std::int64_t t, std::int64_t step) {
  return (t + step - 1) / step * step;
}

}  // namespace

UsbBus::UsbBus(Time time, bool serveLibusb)
    : time_(time), served_(serveLibusb), previous_(serveLibusb ? gCurrent : nullptr) {
  if (served_) gCurrent = this;
}

UsbBus::~UsbBus() {
  if (served_ && gCurrent == this) gCurrent = previous_;
}

UsbBus* UsbBus::current() {
  return gCurrent;
}

std::int64_t UsbBus::nowNs() {
  return time_ == Time::Virtual ? virtualNs_ : MachineClock().nowNs();
}

void UsbBus::sleepUntilNs(std::int64_t ns) {
  if (time_ == Time::Virtual)
    virtualNs_ = std::max(virtualNs_, ns);
  else
    MachineClock().sleepUntilNs(ns);
}

int UsbBus::plug(FtdiDevice& device, int busNumber, std::vector<std::uint8_t> ports,
                 bool highSpeedPort) {
  Slot s;
  s.device = &device;
  s.busNumber = busNumber;
  s.ports = std::move(ports);
  s.address = nextAddress_++;
  s.highSpeedPort = highSpeedPort;
  s.linkNs = nowNs();
  slots_.push_back(std::move(s));
  return static_cast<int>(slots_.size()) - 1;
}

bool UsbBus::highSpeed(int id) const {
  return slots_[id].highSpeedPort && slots_[id].device->model().highSpeed;
}

std::int64_t UsbBus::slotNs(const Slot& s) const {
  return s.highSpeedPort && s.device->model().highSpeed ? kHighSpeedSlotNs : kFullSpeedSlotNs;
}

void UsbBus::setHostLatency(std::int64_t submitNs, std::int64_t reapNs) {
  submitNs_ = submitNs;
  reapNs_ = reapNs;
}

UsbBus::Faults UsbBus::faultsOf(const UsbEmulation& usb) {
  Faults f;
  if (usb.failAt) f.failAt.push_back(usb.failAt);
  f.unplugAt = usb.unplugAt;
  f.echo = usb.echo == UsbEmulation::Late    ? Faults::Late
           : usb.echo == UsbEmulation::Stuck ? Faults::Stuck
           : usb.echo == UsbEmulation::Lost  ? Faults::Lost
                                             : Faults::None;
  f.echoAt = usb.echoAt;
  return f;
}

void UsbBus::finish(Slot& s, BusTransfer& t, std::int64_t at, TransferStatus status) {
  t.done = true;
  t.status = status;
  t.seenNs = at + reapNs_;
  s.pending.erase(std::remove(s.pending.begin(), s.pending.end(), &t), s.pending.end());
  s.turn = 0;  // the oldest transfer left goes first again
  ended_.push_back(&t);
}

void UsbBus::lose(Slot& s, std::int64_t at) {
  s.device->unplug(at);
  s.plugged = false;
  s.kernelBound = false;
  s.claimedBy = nullptr;
  while (!s.pending.empty()) finish(s, *s.pending.front(), at, TransferStatus::NoDevice);
}

void UsbBus::unplug(int id) {
  catchUp();
  if (slots_[id].plugged) lose(slots_[id], nowNs());
}

void UsbBus::plugIn(int id) {
  Slot& s = slots_[id];
  if (s.plugged) return;
  const std::int64_t now = nowNs();
  s.plugged = true;
  s.kernelBound = true;
  s.address = nextAddress_++;
  s.outTransfers = 0;
  s.linkNs = now;
  s.device->plugIn(now);
}

// One packet of t at time at; false when the device answered NAK.
bool UsbBus::transact(Slot& s, BusTransfer& t, std::int64_t at) {
  const bool hs = s.highSpeedPort && s.device->model().highSpeed;
  const int packet = s.device->bulkPacket(hs);
  const std::int64_t end = at + slotNs(s);
  if (!(t.endpoint & 0x80)) {
    const int n = std::min(packet, t.length - t.actual);
    if (!s.device->bulkOut(at, t.buffer + t.actual, n, hs)) return false;
    t.actual += n;
    if (s.faults.unplugAt == t.number && t.actual * 2 >= t.length) {
      lose(s, end);
    } else if (t.actual == t.length) {
      finish(s, t, end, t.failAfterData ? TransferStatus::Error : TransferStatus::Completed);
    }
    return true;
  }
  std::vector<std::uint8_t> got;
  if (!s.device->bulkIn(at, got, hs)) return false;
  const int room = t.length - t.actual;
  const int n = std::min(room, static_cast<int>(got.size()));
  std::copy(got.begin(), got.begin() + n, t.buffer + t.actual);
  t.actual += n;
  if (static_cast<int>(got.size()) > room)
    finish(s, t, end, TransferStatus::Overflow);
  else if (static_cast<int>(got.size()) < packet || t.actual == t.length)
    finish(s, t, end, TransferStatus::Completed);
  return true;
}

void UsbBus::run(Slot& s, std::int64_t until, bool stopAtEnd) {
  const std::int64_t slot = slotNs(s);
  const bool hs = s.highSpeedPort && s.device->model().highSpeed;
  while (s.plugged && !s.pending.empty()) {
    const std::int64_t at = AlignUp(s.linkNs, slot);
    if (at > until) break;
    const std::size_t endedBefore = ended_.size();
    for (BusTransfer* t : std::vector<BusTransfer*>(s.pending))
      if (t->timeoutNs > 0 && t->submittedNs + t->timeoutNs <= at)
        finish(s, *t, t->submittedNs + t->timeoutNs, TransferStatus::TimedOut);
    // The controller serves the pending transfers in turn, one packet a slot,
    // the one submitted first (libftdi's read) first.
    bool moved = false;
    const std::vector<BusTransfer*> turn(s.pending);
    for (std::size_t k = 0; k < turn.size() && !moved; ++k) {
      BusTransfer* t = turn[(s.turn + k) % turn.size()];
      if (t->submittedNs + submitNs_ > at) continue;
      const std::size_t ends = ended_.size();
      moved = transact(s, *t, at);
      if (moved && ended_.size() == ends) s.turn = s.turn + k + 1;
    }
    if (moved) s.linkNs = at + slot;
    if (stopAtEnd && ended_.size() > endedBefore) return;
    if (moved) continue;
    // Nothing could go at this slot: skip to when something may.
    std::int64_t next = s.device->nextChangeNs(at, hs);
    for (const BusTransfer* t : s.pending) {
      if (t->submittedNs + submitNs_ > at) next = std::min(next, t->submittedNs + submitNs_);
      if (t->timeoutNs > 0) next = std::min(next, t->submittedNs + t->timeoutNs);
    }
    if (next == INT64_MAX || next > until) break;
    s.linkNs = std::max(at + 1, next);
  }
  s.linkNs = std::max(s.linkNs, until);
}

void UsbBus::catchUp() {
  const std::int64_t now = nowNs();
  for (Slot& s : slots_) {
    if (!s.plugged) continue;
    run(s, now, false);
    s.device->advance(std::max(now, s.linkNs));
  }
}

int UsbBus::open(int id) {
  if (!slots_[id].plugged) return kBusNoDevice;
  return slots_[id].access ? kBusOk : kBusAccess;
}

int UsbBus::claim(int id, const void* owner, bool detachKernelDriver) {
  Slot& s = slots_[id];
  if (!s.plugged) return kBusNoDevice;
  if ((s.claimedBy && s.claimedBy != owner) || nowNs() < s.heldUntil) return kBusBusy;
  if (s.kernelBound) {
    if (!detachKernelDriver) return kBusBusy;
    s.kernelBound = false;
  }
  if (s.claimedBy != owner) ++s.claims;
  s.claimedBy = owner;
  return kBusOk;
}

void UsbBus::release(int id, const void* owner, bool reattachKernelDriver) {
  Slot& s = slots_[id];
  if (s.claimedBy != owner) return;
  s.claimedBy = nullptr;
  ++s.releases;
  if (reattachKernelDriver && s.plugged) s.kernelBound = true;
}

int UsbBus::control(int id, const UsbSetup& setup, std::uint8_t* data, int /*timeoutMs*/) {
  Slot& s = slots_[id];
  const std::int64_t now = nowNs();
  if (!s.plugged) return kBusNoDevice;
  run(s, now, false);
  const std::int64_t slot = slotNs(s);
  const std::int64_t at = AlignUp(std::max(now + submitNs_, s.linkNs), slot);
  const int n = s.device->control(at, setup, data);
  s.linkNs = at + kControlSlots * slot;
  sleepUntilNs(s.linkNs + reapNs_);
  return n < 0 ? kBusPipe : n;
}

int UsbBus::submit(BusTransfer& t) {
  Slot& s = slots_[t.device];
  if (!s.plugged) return kBusNoDevice;
  if (t.inFlight) return kBusBusy;
  const std::int64_t now = nowNs();
  run(s, now, false);
  t.inFlight = true;
  t.done = false;
  t.actual = 0;
  t.status = TransferStatus::Completed;
  t.submittedNs = now;
  t.failAfterData = false;
  if (!(t.endpoint & 0x80)) {
    const int n = t.number = ++s.outTransfers;
    const Faults& f = s.faults;
    t.failAfterData = std::find(f.failAt.begin(), f.failAt.end(), n) != f.failAt.end();
    if (f.echoAt == n) {
      if (f.echo == Faults::Late) s.device->staleEcho(now);
      if (f.echo == Faults::Stuck) s.device->stickClockPin(now);
      if (f.echo == Faults::Lost) s.device->loseBitMode(now);
    }
  }
  s.pending.push_back(&t);
  return kBusOk;
}

void UsbBus::forget(BusTransfer& t) {
  if (t.device >= 0 && t.device < devices()) {
    auto& pending = slots_[t.device].pending;
    pending.erase(std::remove(pending.begin(), pending.end(), &t), pending.end());
  }
  ended_.erase(std::remove(ended_.begin(), ended_.end(), &t), ended_.end());
  t.inFlight = false;
}

int UsbBus::cancel(BusTransfer& t) {
  if (!t.inFlight || t.done) return kBusNotFound;
  Slot& s = slots_[t.device];
  const std::int64_t now = nowNs();
  run(s, now, false);
  if (t.done) return kBusNotFound;  // it ended first; it reports that
  finish(s, t, now, TransferStatus::Cancelled);
  return kBusOk;
}

std::vector<BusTransfer*> UsbBus::wait(const void* owner, std::int64_t timeoutNs) {
  const auto take = [&] {
    const std::int64_t now = nowNs();
    std::vector<BusTransfer*> seen;
    for (auto it = ended_.begin(); it != ended_.end();) {
      if ((*it)->owner == owner && (*it)->seenNs <= now) {
        (*it)->inFlight = false;
        seen.push_back(*it);
        it = ended_.erase(it);
      } else {
        ++it;
      }
    }
    std::stable_sort(seen.begin(), seen.end(), [](const BusTransfer* a, const BusTransfer* b) {
      return a->seenNs < b->seenNs;
    });
    return seen;
  };
  catchUp();
  std::vector<BusTransfer*> seen = take();
  if (!seen.empty()) return seen;
  if (timeoutNs <= 0) {
    ++busyPolls_;
    if (time_ == Time::Virtual) virtualNs_ += kPollNs;
    catchUp();
    return take();
  }
  // Runs ahead to the first end the owner will see, or to the limit.
  const std::int64_t limit = nowNs() + timeoutNs;
  std::int64_t target = limit;
  for (;;) {
    for (const BusTransfer* t : ended_)
      if (t->owner == owner) target = std::min(target, t->seenNs);
    if (target < limit) break;
    bool ran = false;
    for (Slot& s : slots_) {
      if (!s.plugged || s.pending.empty() || s.linkNs >= limit) continue;
      const std::int64_t before = s.linkNs;
      const std::size_t endedBefore = ended_.size();
      run(s, limit, true);
      ran |= s.linkNs != before || ended_.size() != endedBefore;
    }
    if (!ran) break;
  }
  sleepUntilNs(target);
  catchUp();
  return take();
}

bool UsbBus::serialOpen(int id) {
  Slot& s = slots_[id];
  if (!s.plugged || s.claimedBy || !s.kernelBound) return false;
  // ftdi_sio at a tty open: reset the port, then the termios (8N1, 9600 baud,
  // no flow control), then DTR and RTS asserted.
  const std::uint16_t channel = s.device->model().interfaces > 1 ? 1 : 0;
  const bool highIndex = s.device->model().interfaces > 1 || s.device->model().highSpeed;
  const UsbSetup requests[] = {
      {0x40, 0x00, 0x0000, channel, 0},
      {0x40, 0x04, 0x0008, channel, 0},
      {0x40, 0x03, 0x4138, static_cast<std::uint16_t>(highIndex ? 1 : 0), 0},  // 3 MHz / 312.5
      {0x40, 0x02, 0x0000, channel, 0},
      {0x40, 0x01, 0x0303, channel, 0},
  };
  for (const UsbSetup& r : requests) control(id, r, nullptr, 5000);
  return true;
}

bool UsbBus::serialWrite(int id, const std::string& bytes) {
  Slot& s = slots_[id];
  if (!s.plugged || s.claimedBy || !s.kernelBound) return false;
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  BusTransfer t;
  t.device = id;
  t.endpoint = 0x02;
  t.buffer = data.data();
  t.length = static_cast<int>(data.size());
  t.timeoutNs = 5000000000;
  t.owner = &s;
  if (submit(t) != kBusOk) return false;
  while (t.inFlight) wait(&s, 1000000000);
  // Then the characters leave the port, at 9600 baud or as the pins take them.
  sleepUntilNs(nowNs() + static_cast<std::int64_t>(bytes.size()) * 10 * 1000000000 / 9600 +
               1000000);
  catchUp();
  return t.status == TransferStatus::Completed;
}

void UsbBus::serialClose(int id) {
  Slot& s = slots_[id];
  if (!s.plugged || s.claimedBy || !s.kernelBound) return;
  const UsbSetup drop{0x40, 0x01, 0x0300,
                      static_cast<std::uint16_t>(s.device->model().interfaces > 1 ? 1 : 0), 0};
  control(id, drop, nullptr, 5000);
}

}  // namespace zk7::sim
