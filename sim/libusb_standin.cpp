// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The libusb calls libftdi 1.5 and the USB driver make, served by the
// simulated bus (sim/usb_bus.h) instead of the kernel: a link seam. A test
// program linked with this file defines these functions itself, so the real
// libftdi that it also links calls them rather than libusb's; every test of
// the USB path thus runs libftdi's own code against the silicon model. The
// bus is the one made last (UsbBus::current()); without one the machine has
// no USB devices.
//
// Semantics follow libusb 1.0's documentation: string descriptor 0 is not a
// string, a transfer is in flight from its submission until its callback,
// cancelling one that already ended fails with NOT_FOUND, callbacks run
// inside the event handling calls, and an interface claim detaches the
// kernel's driver only when the handle asks for that.
#include <libusb.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "sim/usb_bus.h"

using zk7::sim::BusTransfer;
using zk7::sim::TransferStatus;
using zk7::sim::UsbBus;
using zk7::sim::UsbSetup;

struct libusb_context {
  int unused = 0;
};
struct libusb_device {
  int refs = 1;
  int id = -1;
  int address = 0;  // the device at this address; gone once it was unplugged
  libusb_context* ctx = nullptr;
};
struct libusb_device_handle {
  libusb_device* dev = nullptr;
  unsigned claimed = 0;
  bool autoDetach = false;
};

namespace {

std::map<libusb_transfer*, BusTransfer>& Transfers() {
  static std::map<libusb_transfer*, BusTransfer> transfers;
  return transfers;
}

UsbBus* Bus() {
  return UsbBus::current();
}

// The device behind dev, or -1 once it was unplugged (or its bus is gone).
int Live(const libusb_device* dev) {
  UsbBus* bus = Bus();
  if (!bus || !dev || dev->id < 0 || dev->id >= bus->devices() || !bus->plugged(dev->id) ||
      bus->address(dev->id) != dev->address)
    return -1;
  return dev->id;
}

int Error(int busError) {
  return busError;  // the bus keeps libusb's numbering
}

libusb_transfer_status Status(TransferStatus s) {
  return static_cast<libusb_transfer_status>(static_cast<int>(s));
}

std::int64_t Ns(const timeval* tv) {
  return tv ? static_cast<std::int64_t>(tv->tv_sec) * 1000000000 + tv->tv_usec * 1000 : 0;
}

std::uint16_t Word(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** ctx) {
  libusb_context* c = new libusb_context;
  if (ctx) *ctx = c;
  return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context* ctx) {
  delete ctx;
}

const char* LIBUSB_CALL libusb_error_name(int code) {
  switch (code) {
    case LIBUSB_SUCCESS:
      return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO:
      return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
      return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
      return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
      return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
      return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
      return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
      return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW:
      return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE:
      return "LIBUSB_ERROR_PIPE";
    default:
      return "LIBUSB_ERROR_OTHER";
  }
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* ctx, libusb_device*** list) {
  std::vector<libusb_device*> found;
  if (UsbBus* bus = Bus())
    for (int id = 0; id < bus->devices(); ++id)
      if (bus->plugged(id)) found.push_back(new libusb_device{1, id, bus->address(id), ctx});
  auto** out = new libusb_device*[found.size() + 1];
  for (std::size_t k = 0; k < found.size(); ++k) out[k] = found[k];
  out[found.size()] = nullptr;
  *list = out;
  return static_cast<ssize_t>(found.size());
}

libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* dev) {
  ++dev->refs;
  return dev;
}

void LIBUSB_CALL libusb_unref_device(libusb_device* dev) {
  if (dev && --dev->refs == 0) delete dev;
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unref) {
  if (!list) return;
  if (unref)
    for (libusb_device** d = list; *d; ++d) libusb_unref_device(*d);
  delete[] list;
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device* dev) {
  UsbBus* bus = Bus();
  return static_cast<uint8_t>(bus && dev->id >= 0 ? bus->busNumber(dev->id) : 0);
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* dev) {
  return static_cast<uint8_t>(dev->address);
}

int LIBUSB_CALL libusb_get_port_numbers(libusb_device* dev, uint8_t* ports, int length) {
  UsbBus* bus = Bus();
  if (!bus || dev->id < 0) return LIBUSB_ERROR_NOT_FOUND;
  const auto& path = bus->ports(dev->id);
  if (static_cast<int>(path.size()) > length) return LIBUSB_ERROR_OVERFLOW;
  std::memcpy(ports, path.data(), path.size());
  return static_cast<int>(path.size());
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
  UsbBus* bus = Bus();
  if (!bus || dev->id < 0) return LIBUSB_ERROR_NO_DEVICE;
  const std::vector<std::uint8_t> d = bus->device(dev->id).deviceDescriptor();
  desc->bLength = d[0];
  desc->bDescriptorType = d[1];
  desc->bcdUSB = Word(&d[2]);
  desc->bDeviceClass = d[4];
  desc->bDeviceSubClass = d[5];
  desc->bDeviceProtocol = d[6];
  desc->bMaxPacketSize0 = d[7];
  desc->idVendor = Word(&d[8]);
  desc->idProduct = Word(&d[10]);
  desc->bcdDevice = Word(&d[12]);
  desc->iManufacturer = d[14];
  desc->iProduct = d[15];
  desc->iSerialNumber = d[16];
  desc->bNumConfigurations = d[17];
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device* dev, uint8_t index,
                                             libusb_config_descriptor** config) {
  UsbBus* bus = Bus();
  if (!bus || dev->id < 0 || index != 0) return LIBUSB_ERROR_NOT_FOUND;
  const std::vector<std::uint8_t> d =
      bus->device(dev->id).configDescriptor(bus->highSpeed(dev->id));
  auto* c =
      static_cast<libusb_config_descriptor*>(std::calloc(1, sizeof(libusb_config_descriptor)));
  c->bLength = d[0];
  c->bDescriptorType = d[1];
  c->wTotalLength = Word(&d[2]);
  c->bNumInterfaces = d[4];
  c->bConfigurationValue = d[5];
  c->iConfiguration = d[6];
  c->bmAttributes = d[7];
  c->MaxPower = d[8];
  auto* interfaces =
      static_cast<libusb_interface*>(std::calloc(c->bNumInterfaces, sizeof(libusb_interface)));
  std::size_t at = 9;
  for (int i = 0; i < c->bNumInterfaces; ++i) {
    auto* alt = static_cast<libusb_interface_descriptor*>(
        std::calloc(1, sizeof(libusb_interface_descriptor)));
    alt->bLength = d[at];
    alt->bDescriptorType = d[at + 1];
    alt->bInterfaceNumber = d[at + 2];
    alt->bAlternateSetting = d[at + 3];
    alt->bNumEndpoints = d[at + 4];
    alt->bInterfaceClass = d[at + 5];
    alt->bInterfaceSubClass = d[at + 6];
    alt->bInterfaceProtocol = d[at + 7];
    alt->iInterface = d[at + 8];
    at += 9;
    auto* eps = static_cast<libusb_endpoint_descriptor*>(
        std::calloc(alt->bNumEndpoints, sizeof(libusb_endpoint_descriptor)));
    for (int e = 0; e < alt->bNumEndpoints; ++e, at += 7) {
      eps[e].bLength = d[at];
      eps[e].bDescriptorType = d[at + 1];
      eps[e].bEndpointAddress = d[at + 2];
      eps[e].bmAttributes = d[at + 3];
      eps[e].wMaxPacketSize = Word(&d[at + 4]);
      eps[e].bInterval = d[at + 6];
    }
    alt->endpoint = eps;
    interfaces[i].altsetting = alt;
    interfaces[i].num_altsetting = 1;
  }
  c->interface = interfaces;
  *config = c;
  return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_free_config_descriptor(libusb_config_descriptor* config) {
  if (!config) return;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    std::free(const_cast<libusb_endpoint_descriptor*>(config->interface[i].altsetting->endpoint));
    std::free(const_cast<libusb_interface_descriptor*>(config->interface[i].altsetting));
  }
  std::free(const_cast<libusb_interface*>(config->interface));
  std::free(config);
}

int LIBUSB_CALL libusb_open(libusb_device* dev, libusb_device_handle** handle) {
  const int id = Live(dev);
  if (id < 0) return LIBUSB_ERROR_NO_DEVICE;
  const int rc = Bus()->open(id);
  if (rc != 0) return Error(rc);
  *handle = new libusb_device_handle{libusb_ref_device(dev), 0, false};
  return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* handle) {
  if (!handle) return;
  if (handle->claimed && Bus() && handle->dev->id < Bus()->devices())
    Bus()->release(handle->dev->id, handle, handle->autoDetach);
  libusb_unref_device(handle->dev);
  delete handle;
}

libusb_device* LIBUSB_CALL libusb_get_device(libusb_device_handle* handle) {
  return handle->dev;
}

int LIBUSB_CALL libusb_get_configuration(libusb_device_handle* handle, int* config) {
  if (Live(handle->dev) < 0) return LIBUSB_ERROR_NO_DEVICE;
  *config = 1;
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle* handle, int /*configuration*/) {
  return Live(handle->dev) < 0 ? LIBUSB_ERROR_NO_DEVICE : LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable) {
  handle->autoDetach = enable != 0;
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle* handle, int /*interface*/) {
  const int id = Live(handle->dev);
  if (id < 0) return LIBUSB_ERROR_NO_DEVICE;
  if (!Bus()->kernelDriverBound(id)) return LIBUSB_ERROR_NOT_FOUND;
  // Taken by a claim that detaches, given back at no release: as libusb does.
  const int rc = Bus()->claim(id, handle, true);
  if (rc == 0) Bus()->release(id, handle, false);
  return Error(rc);
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* handle, int interface) {
  const int id = Live(handle->dev);
  if (id < 0) return LIBUSB_ERROR_NO_DEVICE;
  const int rc = Bus()->claim(id, handle, handle->autoDetach);
  if (rc == 0) handle->claimed |= 1u << interface;
  return Error(rc);
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* handle, int interface) {
  if (!(handle->claimed & (1u << interface))) return LIBUSB_ERROR_NOT_FOUND;
  handle->claimed &= ~(1u << interface);
  const int id = Live(handle->dev);
  if (id < 0) return LIBUSB_ERROR_NO_DEVICE;
  Bus()->release(id, handle, handle->autoDetach);
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType,
                                        uint8_t request, uint16_t value, uint16_t index,
                                        unsigned char* data, uint16_t length,
                                        unsigned int timeout) {
  const int id = Live(handle->dev);
  if (id < 0) return LIBUSB_ERROR_NO_DEVICE;
  return Error(Bus()->control(id, UsbSetup{requestType, request, value, index, length}, data,
                              static_cast<int>(timeout)));
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                                   unsigned char* data, int length) {
  if (index == 0) return LIBUSB_ERROR_INVALID_PARAM;  // the language table is no string
  unsigned char buf[255];
  int n = libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                  LIBUSB_DT_STRING << 8, 0, buf, sizeof buf, 1000);
  if (n < 0) return n;
  if (n < 4) return LIBUSB_ERROR_IO;
  const uint16_t language = Word(&buf[2]);
  n = libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                              static_cast<uint16_t>((LIBUSB_DT_STRING << 8) | index), language, buf,
                              sizeof buf, 1000);
  if (n < 0) return n;
  if (n < 2 || buf[1] != LIBUSB_DT_STRING || buf[0] > n) return LIBUSB_ERROR_IO;
  int di = 0;
  for (int si = 2; si + 1 < buf[0] && di < length - 1; si += 2)
    data[di++] = (buf[si] & 0x80) || buf[si + 1] ? '?' : buf[si];
  data[di] = 0;
  return di;
}

libusb_transfer* LIBUSB_CALL libusb_alloc_transfer(int isoPackets) {
  const std::size_t size = sizeof(libusb_transfer) + sizeof(libusb_iso_packet_descriptor) *
                                                         static_cast<std::size_t>(isoPackets);
  auto* t = static_cast<libusb_transfer*>(std::calloc(1, size));
  if (!t) return nullptr;
  t->num_iso_packets = isoPackets;
  Transfers()[t] = BusTransfer{};
  return t;
}

void LIBUSB_CALL libusb_free_transfer(libusb_transfer* transfer) {
  if (!transfer) return;
  auto it = Transfers().find(transfer);
  if (it != Transfers().end()) {
    if (it->second.inFlight) {  // libusb leaves that undefined: a test fails
      std::fprintf(stderr, "libusb stand-in: a transfer was freed in flight\n");
      std::abort();
    }
    if (UsbBus* bus = Bus()) bus->forget(it->second);
    Transfers().erase(it);
  }
  if (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) std::free(transfer->buffer);
  std::free(transfer);
}

int LIBUSB_CALL libusb_submit_transfer(libusb_transfer* transfer) {
  const int id = Live(transfer->dev_handle->dev);
  if (id < 0) return LIBUSB_ERROR_NO_DEVICE;
  if (transfer->type != LIBUSB_TRANSFER_TYPE_BULK) return LIBUSB_ERROR_NOT_SUPPORTED;
  BusTransfer& b = Transfers()[transfer];
  if (b.inFlight) return LIBUSB_ERROR_BUSY;
  b.device = id;
  b.endpoint = transfer->endpoint;
  b.buffer = transfer->buffer;
  b.length = transfer->length;
  b.timeoutNs = static_cast<std::int64_t>(transfer->timeout) * 1000000;
  b.owner = transfer->dev_handle->dev->ctx;
  return Error(Bus()->submit(b));
}

int LIBUSB_CALL libusb_cancel_transfer(libusb_transfer* transfer) {
  auto it = Transfers().find(transfer);
  if (it == Transfers().end() || !Bus()) return LIBUSB_ERROR_NOT_FOUND;
  return Error(Bus()->cancel(it->second));
}

int LIBUSB_CALL libusb_handle_events_timeout_completed(libusb_context* ctx, struct timeval* tv,
                                                       int* completed) {
  if (completed && *completed) return LIBUSB_SUCCESS;
  UsbBus* bus = Bus();
  if (!bus) return LIBUSB_SUCCESS;
  const std::vector<BusTransfer*> ended = bus->wait(ctx, Ns(tv));
  // A transfer that never ends, waited for by polling or by sleeping, would
  // keep a test waiting forever: it fails instead.
  static long idlePolls = 0;
  idlePolls = ended.empty() && Ns(tv) == 0 ? idlePolls + 1 : 0;
  if (idlePolls > 5000000 || (bus->virtualTime() && bus->nowNs() > 600000000000)) {
    std::fprintf(stderr, "libusb stand-in: waited 10 minutes for a transfer that never ends\n");
    std::abort();
  }
  for (BusTransfer* b : ended) {
    libusb_transfer* t = nullptr;
    for (auto& [transfer, state] : Transfers())
      if (&state == b) t = transfer;
    if (!t) continue;
    t->status = Status(b->status);
    t->actual_length = b->actual;
    if (t->callback) t->callback(t);
  }
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_handle_events_timeout(libusb_context* ctx, struct timeval* tv) {
  return libusb_handle_events_timeout_completed(ctx, tv, nullptr);
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                     unsigned char* data, int length, int* transferred,
                                     unsigned int timeout) {
  const int id = Live(handle->dev);
  if (id < 0) return LIBUSB_ERROR_NO_DEVICE;
  BusTransfer b;
  b.device = id;
  b.endpoint = endpoint;
  b.buffer = data;
  b.length = length;
  b.timeoutNs = static_cast<std::int64_t>(timeout) * 1000000;
  b.owner = &b;
  const int rc = Bus()->submit(b);
  if (rc != 0) return Error(rc);
  while (b.inFlight) Bus()->wait(&b, 1000000000);
  if (transferred) *transferred = b.actual;
  switch (b.status) {
    case TransferStatus::Completed:
      return LIBUSB_SUCCESS;
    case TransferStatus::TimedOut:
      return LIBUSB_ERROR_TIMEOUT;
    case TransferStatus::Stall:
      return LIBUSB_ERROR_PIPE;
    case TransferStatus::NoDevice:
      return LIBUSB_ERROR_NO_DEVICE;
    case TransferStatus::Overflow:
      return LIBUSB_ERROR_OVERFLOW;
    default:
      return LIBUSB_ERROR_IO;
  }
}

}  // extern "C"
