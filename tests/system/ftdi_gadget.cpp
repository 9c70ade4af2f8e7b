// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// An FTDI adapter with the emulated chip on its board, plugged into the
// guest's own USB stack: gadgetfs on dummy_hcd presents it, the kernel
// enumerates it, ftdi_sio binds to it, and zk7prog reaches it through libusb
// and usbfs as it would a real adapter. The silicon is the tests' model
// (sim/ftdi_device.h); this program is only its transport, on the machine's
// monotonic clock.
//
//   ftdi_gadget ft232r|ft232h [--serial TEXT] [--trace FILE]
//
// gadgetfs must be mounted at /dev/gadget. --serial "" makes an adapter
// without a serial number (no EEPROM); --trace appends the lines as the
// chip sees them (ZK7_PIN_TRACE's format). SIGUSR1 or SIGTERM unplugs the
// adapter: its board loses the supply, and the program ends, which takes the
// device off the bus. SIGUSR2 makes the chip lose its bit mode (a serial port
// again, so no echo comes).
//
// The model is the main thread's alone. Each bulk endpoint has a thread that
// only moves bytes between its file and the main thread, one blocking read or
// write at a time: gadgetfs's asynchronous writes deadlock the
// kernel on dummy_hcd, whose IN endpoints complete a short packet while
// gadgetfs still holds the lock its completion takes.
#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/ftdi_device.h"

namespace {

using zk7::sim::FtdiDevice;

[[noreturn]] void Die(const std::string& why) {
  std::fprintf(stderr, "ftdi_gadget: %s\n", why.c_str());
  std::exit(1);
}

std::int64_t Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One packet between the main thread and an endpoint's thread: asked with
// the bytes to write or the most to read, answered with the bytes moved (or
// -errno) and, for a read, the packet.
struct Packet {
  int fd;
  int length;
  std::uint8_t data[4096];
};

// Ends a blocking endpoint read or write: gadgetfs then takes the request
// back from the controller and the call fails with EINTR.
void Interrupted(int) {}

class Endpoint {
 public:
  // The endpoint file NAME, for IN (device to host) or OUT; its descriptors.
  Endpoint(const char* name, bool toHost) : name_(name), toHost_(toHost) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) < 0) Die("socketpair");
    main_ = pair[0];
    thread_ = pair[1];
    pthread_create(&worker_, nullptr, &Endpoint::Work, this);
  }
  std::vector<std::uint8_t> fs, hs;

  int answers() const { return main_; }
  bool open() const { return fd_ >= 0; }
  bool busy() const { return busy_; }

  // Opened and configured with the descriptors (the controller enables it).
  void configure() {
    fd_ = ::open(name_, O_RDWR | O_CLOEXEC);
    if (fd_ < 0) Die(std::string(name_) + ": " + std::strerror(errno));
    std::vector<std::uint8_t> config = {1, 0, 0, 0};  // tag 1, in host order
    config.insert(config.end(), fs.begin(), fs.end());
    config.insert(config.end(), hs.begin(), hs.end());
    if (write(fd_, config.data(), config.size()) != static_cast<ssize_t>(config.size()))
      Die(std::string(name_) + " refused its descriptors: " + std::strerror(errno));
  }
  // Closed once nothing is in flight: the controller disables it and drops
  // what it held for the host.
  void close() {
    while (busy_) {
      pthread_kill(worker_, SIGRTMIN);
      pollfd p{main_, POLLIN, 0};
      if (poll(&p, 1, 1) > 0) take(nullptr);
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Starts writing the packet (IN) or reading one of up to n bytes (OUT).
  void ask(const std::uint8_t* data, int n) {
    Packet p{fd_, n, {}};
    if (toHost_) std::memcpy(p.data, data, static_cast<std::size_t>(n));
    busy_ = send(main_, &p, sizeof p, 0) == static_cast<ssize_t>(sizeof p);
  }
  // The answer: bytes moved or -errno; a read's packet in data.
  int take(std::vector<std::uint8_t>* data) {
    Packet p{};
    if (recv(main_, &p, sizeof p, 0) != static_cast<ssize_t>(sizeof p)) return -EIO;
    busy_ = false;
    if (data && p.length > 0) data->assign(p.data, p.data + p.length);
    return p.length;
  }

 private:
  static void* Work(void* self) {
    auto& ep = *static_cast<Endpoint*>(self);
    Packet p{};
    for (;;) {
      const ssize_t got = recv(ep.thread_, &p, sizeof p, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return nullptr;
      const ssize_t n = ep.toHost_ ? write(p.fd, p.data, static_cast<std::size_t>(p.length))
                                   : read(p.fd, p.data, static_cast<std::size_t>(p.length));
      p.length = n < 0 ? -errno : static_cast<int>(n);
      send(ep.thread_, &p, sizeof p, 0);
    }
  }

  const char* name_;
  bool toHost_;
  int fd_ = -1;
  int main_ = -1, thread_ = -1;
  pthread_t worker_{};
  bool busy_ = false;
};

// The signals the main thread takes through the descriptor returned, blocked
// in every thread started later; SIGRTMIN interrupts an endpoint's thread.
int Signals() {
  struct sigaction interrupt {};
  interrupt.sa_handler = Interrupted;  // without SA_RESTART
  sigaction(SIGRTMIN, &interrupt, nullptr);
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) sigaddset(&set, s);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_CLOEXEC);
}

class Gadget {
 public:
  explicit Gadget(FtdiDevice& device) : device_(device) {}

  // Binds to the controller with the chip's descriptors: the full-speed
  // configuration, the high-speed one for a high-speed chip, the device.
  void plugIn() {
    std::string udc;
    if (DIR* d = opendir("/dev/gadget")) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.' && std::strncmp(e->d_name, "ep", 2) != 0) udc = e->d_name;
      closedir(d);
    }
    if (udc.empty()) Die("no controller in /dev/gadget (is gadgetfs mounted there?)");
    ep0_ = open(("/dev/gadget/" + udc).c_str(), O_RDWR | O_CLOEXEC);
    if (ep0_ < 0) Die("/dev/gadget/" + udc + ": " + std::strerror(errno));
    std::vector<std::uint8_t> blob(4, 0);  // tag 0
    for (bool hs : {false, true}) {
      if (hs && !device_.model().highSpeed) break;
      std::vector<std::uint8_t> config = device_.configDescriptor(hs);
      config[7] &= ~0x20;  // gadgetfs takes no remote wake-up
      blob.insert(blob.end(), config.begin(), config.end());
      // After the configuration's and the interface's 9 bytes: IN's endpoint, then OUT's.
      (hs ? in_.hs : in_.fs).assign(config.begin() + 18, config.begin() + 25);
      (hs ? out_.hs : out_.fs).assign(config.begin() + 25, config.begin() + 32);
    }
    const std::vector<std::uint8_t> device = device_.deviceDescriptor();
    blob.insert(blob.end(), device.begin(), device.end());
    if (write(ep0_, blob.data(), blob.size()) != static_cast<ssize_t>(blob.size()))
      Die("the controller refused the descriptors: " + std::string(std::strerror(errno)));
    std::printf("ftdi_gadget: %s %s on %s\n", device_.model().name, device_.serial().c_str(),
                udc.c_str());
    std::fflush(stdout);
  }

  void run() {
    for (;;) {
      const std::int64_t t = pump();
      const std::int64_t next = device_.nextChangeNs(t, highSpeed_);
      timespec wait{};
      if (next != INT64_MAX) {
        // Pin bytes are followed in steps of a microframe or more, as the
        // host's tokens come.
        const std::int64_t ns = std::max<std::int64_t>(next - t, 125000);
        wait = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
      }
      pollfd p[4] = {{ep0_, POLLIN, 0},
                     {in_.answers(), POLLIN, 0},
                     {out_.answers(), POLLIN, 0},
                     {signals_, POLLIN, 0}};
      if (ppoll(p, 4, next == INT64_MAX ? nullptr : &wait, nullptr) < 0 && errno != EINTR)
        Die("poll failed");
      if (p[3].revents & POLLIN) signalled();
      if (p[0].revents & (POLLIN | POLLHUP)) events();
      if ((p[1].revents & POLLIN) && in_.take(nullptr) < 0) endpoints(false);
      if (p[2].revents & POLLIN) received();
    }
  }

 private:
  std::int64_t now() const { return Now() - start_; }

  void signalled() {
    signalfd_siginfo info{};
    if (read(signals_, &info, sizeof info) != sizeof info) return;
    if (info.ssi_signo == SIGUSR2) {
      device_.loseBitMode(now());
      return;
    }
    // The model first; the device leaves the bus as the files close.
    device_.unplug(now());
    std::printf("ftdi_gadget: unplugged\n");
    std::exit(0);
  }

  // Runs the pins to now, offers a refused OUT packet again, keeps a read
  // waiting on the OUT endpoint and a packet on the IN endpoint (each call
  // of bulkIn sends one and restarts the latency timer).
  std::int64_t pump() {
    const std::int64_t t = now();
    device_.advance(t);
    if (!in_.open()) return t;
    if (!held_.empty() &&
        device_.bulkOut(t, held_.data(), static_cast<int>(held_.size()), highSpeed_))
      held_.clear();
    const int size = device_.bulkPacket(highSpeed_);
    // One packet a read: a longer read would wait for more after a transfer
    // that ends on a whole packet, which the host does not send.
    if (held_.empty() && !out_.busy()) out_.ask(nullptr, size);
    std::vector<std::uint8_t> packets, packet;
    while (!in_.busy() && packets.size() + size <= sizeof(Packet::data) &&
           device_.bulkIn(t, packet, highSpeed_)) {
      packets.insert(packets.end(), packet.begin(), packet.end());
      if (static_cast<int>(packet.size()) < size) break;  // a short packet ends the host's read
    }
    if (!packets.empty()) in_.ask(packets.data(), static_cast<int>(packets.size()));
    return t;
  }

  // An OUT packet the FIFO has no room for waits here, and no read is queued
  // meanwhile, so the host sees NAKs, as from the chip.
  void received() {
    std::vector<std::uint8_t> packet;
    const int n = out_.take(&packet);
    if (n < 0) endpoints(false);  // off the bus until the host configures it again
    if (n > 0 && !device_.bulkOut(now(), packet.data(), n, highSpeed_)) held_ = packet;
  }

  // What the controller and gadgetfs report on endpoint 0.
  void events() {
    usb_gadgetfs_event ev[5];
    const ssize_t n = read(ep0_, ev, sizeof ev);
    for (ssize_t k = 0; k < n / static_cast<ssize_t>(sizeof ev[0]); ++k) {
      switch (ev[k].type) {
        case GADGETFS_CONNECT:
          highSpeed_ = ev[k].u.speed == USB_SPEED_HIGH;
          break;
        case GADGETFS_DISCONNECT:
          endpoints(false);
          break;
        case GADGETFS_SETUP:
          setup(ev[k].u.setup);
          break;
        case GADGETFS_SUSPEND:
          device_.suspend(now(), suspended_ = true);
          break;
        default:
          break;
      }
    }
  }

  void setup(const usb_ctrlrequest& c) {
    if (suspended_) device_.suspend(now(), suspended_ = false);
    const bool in = (c.bRequestType & USB_DIR_IN) != 0;
    const bool standard = (c.bRequestType & USB_TYPE_MASK) == USB_TYPE_STANDARD;
    std::uint8_t data[256] = {};
    if (standard &&
        (c.bRequest == USB_REQ_SET_CONFIGURATION || c.bRequest == USB_REQ_SET_INTERFACE)) {
      if (c.bRequest == USB_REQ_SET_CONFIGURATION) endpoints(c.wValue != 0);
      (void)!read(ep0_, data, 0);  // the status stage
      return;
    }
    if (!in && c.wLength > 0 && read(ep0_, data, std::min<std::size_t>(c.wLength, sizeof data)) < 0)
      return;
    const int n =
        device_.control(now(), {c.bRequestType, c.bRequest, c.wValue, c.wIndex, c.wLength}, data);
    // A reset or purge of what waits for the host takes the packets the
    // controller holds with it: the endpoint is disabled and enabled again
    // before the host learns the request is done.
    if ((c.bRequestType & USB_TYPE_MASK) == USB_TYPE_VENDOR && c.bRequest == 0 &&
        (c.wValue == 0 || c.wValue == 2) && in_.open()) {
      in_.close();
      in_.configure();
    }
    // A read in the wrong direction stalls, as does a write.
    if (in && n >= 0)
      (void)!write(ep0_, data, static_cast<std::size_t>(n));
    else if (in || n >= 0)
      (void)!read(ep0_, data, 0);
    else
      (void)!write(ep0_, data, 0);
  }

  // Configured: the endpoint files take their descriptors; unconfigured or
  // disconnected: closed.
  void endpoints(bool on) {
    in_.close();
    out_.close();
    held_.clear();
    if (!on) return;
    in_.configure();
    out_.configure();
  }

  FtdiDevice& device_;
  const std::int64_t start_ = Now();  // the model's time 0
  const int signals_ = Signals();     // before the endpoints' threads start
  int ep0_ = -1;
  bool highSpeed_ = false;
  bool suspended_ = false;
  Endpoint in_{"/dev/gadget/ep1in-bulk", true};
  Endpoint out_{"/dev/gadget/ep2out-bulk", false};
  std::vector<std::uint8_t> held_;  // an OUT packet the FIFO had no room for
};

}  // namespace

int main(int argc, char** argv) {
  const zk7::sim::FtdiModel* model = argc > 1 ? zk7::sim::FindFtdiModel(argv[1]) : nullptr;
  if (!model || model->interfaces != 1)
    Die("usage: ftdi_gadget ft232r|ft232h [--serial TEXT] [--trace FILE]");
  std::string serial = "ZK7GADGET", trace;
  for (int i = 2; i < argc; i += 2) {
    const std::string option = argv[i];
    std::string* value = option == "--serial" ? &serial : option == "--trace" ? &trace : nullptr;
    if (!value || i + 1 >= argc) Die("unknown option " + option);
    *value = argv[i + 1];
  }
  std::string error;
  FtdiDevice device(*model, std::make_unique<zk7::EmulatorDriver>(), serial);
  if (!trace.empty() && !device.setPinTrace(trace, error)) Die(error);
  Gadget gadget(device);
  gadget.plugIn();
  gadget.run();
}
