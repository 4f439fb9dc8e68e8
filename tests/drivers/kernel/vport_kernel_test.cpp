// The port driver's dispatch code run natively against the kernel stand-in:
// what reaches the data service, in what order, and that every request ends
// once without the driver touching memory it does not own (the sanitizers and
// the stand-in's rule checks report that).
#include <gtest/gtest.h>

#include <algorithm>

#include "kernel_harness.h"

namespace kstub {
namespace {

// Bytes that tell where they came from: `seed` and their offset.
Bytes Pattern(size_t length, uint8_t seed) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 % 251);
  return bytes;
}

// The data service: keeps `waiting` NEXT requests out, takes what they bring
// in the order the driver filled them, and takes each write piece whole.
class Service {
 public:
  Service(Driver& driver, ULONG capacity, size_t waiting)
      : driver_(driver), file_(driver.Open(driver.Bridge())), capacity_(capacity), waiting_(waiting) {
    Refill();
  }

  void Run() {
    for (;;) {
      std::vector<std::pair<uint64_t, RequestId>> filled;
      for (RequestId id : nexts_)
        if (const Completion* done = Result(id)) filled.push_back({done->order, id});
      if (filled.empty()) return;
      RequestId id = std::min_element(filled.begin(), filled.end())->second;
      nexts_.erase(std::find(nexts_.begin(), nexts_.end(), id));
      Handed handed;
      if (ParseHanded(*Result(id), &handed)) {
        seen.push_back(handed);
        const VportBridgeRequest& h = handed.header;
        if (h.kind == VPORT_BRIDGE_WRITE && !(h.flags & VPORT_BRIDGE_FLAG_DONE))
          driver_.Answer(file_, h.id, 0, h.offset + h.length);  // taken so far, from the write's start
      }
      Refill();
    }
  }

  Bytes WrittenTo(ULONG com) const {
    Bytes bytes;
    for (const Handed& h : seen)
      if (h.header.kind == VPORT_BRIDGE_WRITE && h.header.comNumber == com)
        bytes.insert(bytes.end(), h.payload.begin(), h.payload.end());
    return bytes;
  }

  std::vector<uint32_t> KindsFor(ULONG com) const {
    std::vector<uint32_t> kinds;
    for (const Handed& h : seen)
      if (h.header.comNumber == com) kinds.push_back(h.header.kind);
    return kinds;
  }

  PFILE_OBJECT file() const { return file_; }
  std::vector<Handed> seen;

 private:
  void Refill() {
    while (nexts_.size() < waiting_) nexts_.push_back(driver_.Next(file_, capacity_));
  }

  Driver& driver_;
  PFILE_OBJECT file_;
  ULONG capacity_;
  size_t waiting_;
  std::vector<RequestId> nexts_;
};

class VportKernel : public ::testing::Test {
 protected:
  VportKernel() {
    SetViolationHandler([](const std::string& what) { ADD_FAILURE() << "kernel rule broken: " << what; });
  }
  ~VportKernel() override {
    SetPreemption(nullptr);
    driver.Unload();
    SetViolationHandler(nullptr);
  }

  Driver driver;
};

// Anyone may open the bridge, and the platform sends it what it sends any
// device (handle notifications query its PnP relations): each request ends
// once, and the bridge still carries a port's bytes after.
TEST_F(VportKernel, EveryRequestOnTheBridgeEndsOnceAndLeavesTheBridgeWorking) {
  Driver::Port port = driver.AddPort();
  PFILE_OBJECT handle = driver.Open(driver.Bridge());
  ASSERT_NE(handle, nullptr);
  const std::vector<UCHAR> pnp = {IRP_MN_QUERY_DEVICE_RELATIONS, IRP_MN_QUERY_CAPABILITIES,
                                  IRP_MN_QUERY_PNP_DEVICE_STATE, IRP_MN_QUERY_ID,
                                  IRP_MN_QUERY_INTERFACE,        IRP_MN_DEVICE_USAGE_NOTIFICATION,
                                  IRP_MN_START_DEVICE,           IRP_MN_QUERY_STOP_DEVICE,
                                  IRP_MN_CANCEL_STOP_DEVICE,     IRP_MN_STOP_DEVICE,
                                  IRP_MN_QUERY_REMOVE_DEVICE,    IRP_MN_CANCEL_REMOVE_DEVICE,
                                  IRP_MN_SURPRISE_REMOVAL,       IRP_MN_REMOVE_DEVICE};
  for (UCHAR major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
    if (major == IRP_MJ_CREATE || major == IRP_MJ_CLEANUP || major == IRP_MJ_CLOSE)
      continue;  // the handle's own
    for (UCHAR minor : major == IRP_MJ_PNP ? pnp : std::vector<UCHAR>{0}) {
      SCOPED_TRACE(testing::Message() << "major " << int(major) << " minor " << int(minor));
      Request r;
      r.device = driver.Bridge();
      r.file = major == IRP_MJ_PNP || major == IRP_MJ_POWER ? nullptr : handle;
      r.major = major;
      r.minor = minor;
      r.outLength = major == IRP_MJ_READ ? 16 : 0;
      r.input = major == IRP_MJ_WRITE ? Bytes(16, 1) : Bytes();
      RequestId id = Submit(r);
      ASSERT_NE(Result(id), nullptr) << "left pending";
      if (Returned(id) != STATUS_PENDING) {
        EXPECT_EQ(Returned(id), Result(id)->status);
      }
    }
  }
  driver.Close(handle);

  Service service(driver, VPORT_BRIDGE_HEADER_SIZE + 256, 1);
  PFILE_OBJECT program = driver.Open(port.fdo);
  RequestId write = driver.Write(program, Pattern(100, 1));
  service.Run();
  ASSERT_NE(Result(write), nullptr);
  EXPECT_EQ(Result(write)->information, 100u);
  EXPECT_EQ(service.WrittenTo(port.com), Pattern(100, 1));
}

// A program keeps two writes in flight, the first bigger than the service's
// buffer: the service gets every byte of the first before any of the second,
// with two NEXT requests always waiting.
struct TwoWrites {
  size_t first, second;
  ULONG room;  // bytes of a write piece a NEXT holds
};

void PrintTo(const TwoWrites& c, std::ostream* out) {
  *out << c.first << " then " << c.second << " bytes, " << c.room << " a piece";
}

class OverlappedWrites : public VportKernel, public ::testing::WithParamInterface<TwoWrites> {};

TEST_P(OverlappedWrites, ReachTheServiceInOrder) {
  const TwoWrites c = GetParam();
  Driver::Port port = driver.AddPort();
  Service service(driver, VPORT_BRIDGE_HEADER_SIZE + c.room, 2);
  PFILE_OBJECT program = driver.Open(port.fdo);
  Bytes first = Pattern(c.first, 1), second = Pattern(c.second, 128);
  RequestId a = driver.Write(program, first);
  RequestId b = driver.Write(program, second);
  service.Run();

  ASSERT_NE(Result(a), nullptr);
  ASSERT_NE(Result(b), nullptr);
  EXPECT_EQ(Result(a)->status, STATUS_SUCCESS);
  EXPECT_EQ(Result(a)->information, c.first);
  EXPECT_EQ(Result(b)->information, c.second);
  Bytes expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  Bytes got = service.WrittenTo(port.com);
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "first differing byte at "
                               << std::mismatch(got.begin(), got.end(), expected.begin()).first - got.begin();
}

INSTANTIATE_TEST_SUITE_P(MixedSizes, OverlappedWrites,
                         ::testing::Values(TwoWrites{100000, 10, 65536}, TwoWrites{200000, 5000, 65536},
                                           TwoWrites{2500, 10, 1024}));

// A program closes the port while another opens it at once (on another
// processor, at every point the close could be overtaken): the service hears
// the close before the new opening, and hears the new opening.
TEST_F(VportKernel, CloseAndFastReopenReachTheServiceAsCloseThenOpen) {
  Driver::Port port = driver.AddPort();
  Service service(driver, VPORT_BRIDGE_HEADER_SIZE + 256, 4);
  PFILE_OBJECT first = driver.Open(port.fdo);
  driver.Write(first, Pattern(4, 1));
  service.Run();

  PFILE_OBJECT second = nullptr;
  auto reopen = [&] {
    if (second != nullptr) return;
    second = driver.Open(port.fdo);
    if (second != nullptr) driver.Write(second, Pattern(4, 2));
  };
  SetPreemption(reopen);
  driver.Close(first);
  SetPreemption(nullptr);
  reopen();
  service.Run();

  EXPECT_EQ(service.KindsFor(port.com),
            (std::vector<uint32_t>{VPORT_BRIDGE_OPEN, VPORT_BRIDGE_WRITE, VPORT_BRIDGE_CLOSE,
                                   VPORT_BRIDGE_OPEN, VPORT_BRIDGE_WRITE}));
}

// A record of the port's COM number, a value and the opening it names.
Bytes Tagged(ULONG com, ULONG value, ULONG opening) {
  Bytes record(VPORT_BRIDGE_TAGGED_SIZE);
  const ULONG fields[3] = {com, value, opening};
  for (int f = 0; f < 3; ++f)
    for (int i = 0; i < 4; ++i) record[4 * f + i] = static_cast<uint8_t>(fields[f] >> (8 * i));
  return record;
}

// The service gives back the done writes of a program that closed the port
// after the next program opened it: the new opening's window, which started
// empty, does not open by them, so it never holds more than its size. A link
// report of the old opening does not count for the new one either.
TEST_F(VportKernel, CreditsAndLinkReportsOfAnEarlierOpeningAreIgnored) {
  constexpr ULONG kWindow = 32 * 1024;
  Driver::Port port = driver.AddPort();
  Service service(driver, VPORT_BRIDGE_HEADER_SIZE + 65536, 2);
  std::vector<ULONG> openings;
  // Opens the port as a program, has the service report the link up for
  // that opening, and fills the window with a write done at once.
  auto openAndFill = [&]() -> PFILE_OBJECT {
    PFILE_OBJECT program = driver.Open(port.fdo);
    driver.Write(program, Pattern(4, 1));  // the first request makes the opening known to the service
    service.Run();
    openings.push_back(service.seen.back().header.kind == VPORT_BRIDGE_WRITE
                           ? service.seen[service.seen.size() - 2].header.id
                           : service.seen.back().header.id);
    driver.Control(service.file(), VPORT_BRIDGE_STATE,
                   Tagged(port.com, VPORT_LINK_CONNECTED, openings.back()), 0);
    EXPECT_NE(Result(driver.Write(program, Pattern(kWindow, 2))), nullptr) << "a write done at once";
    service.Run();
    return program;
  };
  PFILE_OBJECT first = openAndFill();
  driver.Close(first);
  service.Run();
  PFILE_OBJECT second = openAndFill();
  ASSERT_EQ(openings.size(), 2u);
  EXPECT_NE(openings[0], 0u);
  EXPECT_NE(openings[0], openings[1]);

  driver.Control(service.file(), VPORT_BRIDGE_CREDIT, Tagged(port.com, kWindow, openings[0]), 0);
  EXPECT_EQ(Result(driver.Write(second, Pattern(1, 3))), nullptr)
      << "the window opened by the old opening's bytes";
  driver.Control(service.file(), VPORT_BRIDGE_CREDIT, Tagged(port.com, kWindow, openings[1]), 0);
  service.Run();  // the waiting byte is handed and answered
  EXPECT_NE(Result(driver.Write(second, Pattern(1, 4))), nullptr) << "its own opening's bytes open it";

  driver.Control(service.file(), VPORT_BRIDGE_STATE, Tagged(port.com, VPORT_LINK_IDLE, openings[1]), 0);
  driver.Control(service.file(), VPORT_BRIDGE_STATE, Tagged(port.com, VPORT_LINK_CONNECTED, openings[0]), 0);
  EXPECT_EQ(Result(driver.Write(second, Pattern(1, 5))), nullptr) << "the old opening's link report counted";
  service.Run();
}

}  // namespace
}  // namespace kstub
