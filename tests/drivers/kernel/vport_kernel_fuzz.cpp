// The port driver driven by a fuzzed sequence of what its callers do: terminal
// programs on two ports (opens, reads, writes of any size, control requests
// with fuzzed codes and buffers, cancels, closes), the data service on the
// bridge (NEXT with buffers of any size, answers with fuzzed ids, statuses and
// lengths, link states, credits, queues, its own going and coming back), Plug
// and Play and power requests, and another processor's request at a point
// where the running code holds no lock.
//
// Invariants: every request ends once and the driver touches no memory it
// does not own (sanitizers, and the stand-in's checks: a completion's count
// never above its buffer, no spinlock across a completion, nothing left at
// unload); a write piece handed to the service holds the bytes its program
// wrote at that offset; no write's bytes are handed while an earlier write of
// the same port is handed in part and still pending.
#include <algorithm>
#include <map>

#include "fuzz_check.h"
#include "kernel_harness.h"
#include "port_records.h"
#include "serial_requests.h"

namespace {

using namespace kstub;

constexpr int kPorts = 2;
constexpr size_t kMaxSteps = 200;

const ULONG kPortCodes[] = {
    VPORT_IOCTL_GET_DOS_NAME,    VPORT_IOCTL_SET_REMOTE_INFO,
    VPORT_IOCTL_CONNECTION,      VPORT_IOCTL_DISCONNECTION,
    VPORT_IOCTL_GET_REMOTE_INFO, VPORT_SERIAL_SET_BAUD_RATE,
    VPORT_SERIAL_SET_QUEUE_SIZE, VPORT_SERIAL_SET_LINE_CONTROL,
    VPORT_SERIAL_SET_TIMEOUTS,   VPORT_SERIAL_GET_TIMEOUTS,
    VPORT_SERIAL_SET_WAIT_MASK,  VPORT_SERIAL_WAIT_ON_MASK,
    VPORT_SERIAL_GET_WAIT_MASK,  VPORT_SERIAL_PURGE,
    VPORT_SERIAL_GET_COMMSTATUS, VPORT_SERIAL_GET_MODEMSTATUS,
    VPORT_SERIAL_SET_HANDFLOW,   VPORT_SERIAL_GET_PROPERTIES,
    VPORT_SERIAL_IMMEDIATE_CHAR, VPORT_SERIAL_SET_DTR,
    VPORT_SERIAL_GET_STATS,
};
// With the next two function numbers (0x906, 0x907): new requests of the bridge get fuzzed at once.
const ULONG kBridgeCodes[] = {
    VPORT_BRIDGE_NEXT,   VPORT_BRIDGE_COMPLETE, VPORT_BRIDGE_STATE, VPORT_BRIDGE_QUERY,
    VPORT_BRIDGE_CREDIT, VPORT_BRIDGE_QUEUES,   0x22A418u,          0x22A41Cu};
const uint32_t kStatuses[] = {0,
                              0,
                              0,
                              STATUS_TIMEOUT,
                              static_cast<uint32_t>(STATUS_DEVICE_NOT_CONNECTED),
                              static_cast<uint32_t>(STATUS_CANCELLED)};

// A write's bytes: different for every write and every offset, so a piece
// shows which write and which place it came from.
Bytes WriteBytes(uint32_t serial, size_t length) {
  Bytes bytes(length);
  uint32_t state = serial * 2654435761u + 1;
  for (size_t i = 0; i < length; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes[i] = static_cast<uint8_t>(state);
  }
  return bytes;
}

Bytes Le32s(std::initializer_list<uint32_t> values) {
  Bytes bytes;
  for (uint32_t v : values)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return bytes;
}

struct ProgramWrite {
  RequestId request;
  ULONG com;
  Bytes bytes;
};

class Case {
 public:
  Case(FuzzInput& in, Driver& driver) : in_(in), driver_(driver) {
    for (int i = 0; i < kPorts; ++i) ports_.push_back(driver.AddPort());
    service_ = driver.Open(driver.Bridge());
    reader_ = driver.Open(driver.Bridge());
    SetPreemption([this] {
      if (!armed_ || in_.Left() == 0) return;
      armed_ = false;
      preempted_ = true;
      Step();
      preempted_ = false;
    });
  }

  void Run() {
    for (size_t i = 0; i < kMaxSteps && in_.Left() > 0; ++i) Step();
    SetPreemption(nullptr);
  }

 private:
  Bytes Take(size_t most) {
    size_t got;
    const unsigned char* at = in_.Bytes(most, &got);
    return Bytes(at, at + got);
  }

  ULONG AnyCom() {
    unsigned pick = in_.Byte() % 4;
    return pick < kPorts ? ports_[pick].com : pick == kPorts ? 0 : in_.Byte();
  }

  PFILE_OBJECT& Program() { return programs_[in_.Byte() % kPorts]; }

  void Step() {
    switch (in_.Byte() % 22) {
      case 0:
      case 1:
        Next();
        break;
      case 2:
      case 3:
        TakeFilled();
        break;
      case 4:
      case 5:
        Answer();
        break;
      case 6:
        Service(VPORT_BRIDGE_STATE, Le32s({AnyCom(), in_.Byte() % 5u}));
        break;
      case 7:
        Service(VPORT_BRIDGE_CREDIT, Le32s({AnyCom(), in_.Le32()}));
        break;
      case 8:
        Service(VPORT_BRIDGE_QUEUES, Le32s({AnyCom(), in_.Le32(), in_.Le32()}));
        break;
      case 9: {  // any request on a bridge handle, by either of its users
        PFILE_OBJECT handle = in_.Byte() & 1 ? reader_ : service_;
        ULONG code = in_.Byte() & 1 ? kBridgeCodes[in_.Byte() % std::size(kBridgeCodes)] : in_.Le32();
        ULONG out = in_.Byte() & 1 ? in_.Le16() : in_.Byte();
        Bytes input = Take(in_.Byte() % 64);
        if (handle == nullptr) break;
        RequestId id = driver_.Control(handle, code, input, out);
        if (code == VPORT_BRIDGE_NEXT && handle == service_) nexts_.push_back(id);
        break;
      }
      case 10: {
        PFILE_OBJECT& program = Program();
        int index = static_cast<int>(&program - programs_);
        if (program == nullptr) {
          program = driver_.Open(ports_[index].fdo);
        } else if (PFILE_OBJECT other = driver_.Open(ports_[index].fdo)) {
          others_.push_back(other);  // a second handle, where the port lets one open
        }
        break;
      }
      case 11:
        Write();
        break;
      case 12: {
        PFILE_OBJECT program = Program();
        unsigned kind = in_.Byte() % 4;
        ULONG length = kind == 0 ? 0 : kind == 1 ? in_.Byte() : kind == 2 ? in_.Le16() : in_.Le32() % 300000;
        if (program != nullptr) driver_.Read(program, length);
        break;
      }
      case 13: {
        PFILE_OBJECT program = Program();
        ULONG code = in_.Byte() % 8 ? kPortCodes[in_.Byte() % std::size(kPortCodes)] : in_.Le32();
        ULONG out = in_.Byte() % 96;
        Bytes input = Take(in_.Byte() % 48);
        if (program != nullptr) driver_.Control(program, code, input, out);
        break;
      }
      case 14: {
        std::vector<RequestId> pending = PendingRequests();
        unsigned pick = in_.Byte();
        if (!pending.empty()) Cancel(pending[pick % pending.size()]);
        break;
      }
      case 15: {
        PFILE_OBJECT& program = Program();
        // The I/O manager closes a handle only once its requests are no longer being dispatched.
        if (program == nullptr || preempted_) break;
        // Gone from the program's hands before its close is sent: no step made meanwhile uses it.
        PFILE_OBJECT closing = program;
        std::vector<PFILE_OBJECT> others = std::move(others_);
        program = nullptr;
        others_.clear();
        driver_.Close(closing);
        for (PFILE_OBJECT other : others) driver_.Close(other);
        break;
      }
      case 16:
        if (preempted_) break;
        if (service_ != nullptr) {
          PFILE_OBJECT closing = service_;
          std::vector<RequestId> waiting = std::move(nexts_);
          service_ = nullptr;
          nexts_.clear();
          driver_.Close(closing);
          for (RequestId id : waiting) FUZZ_CHECK(!Pending(id));  // its waiting NEXTs ended with it
        } else {
          service_ = driver_.Open(driver_.Bridge());
        }
        break;
      case 17: {  // the platform's own requests
        unsigned target = in_.Byte() % (kPorts + 1);
        UCHAR minor = in_.Byte();
        PDEVICE_OBJECT device = target == kPorts ? driver_.Bridge() : ports_[target].fdo;
        if (target == kPorts) {
          driver_.Pnp(device, minor % 0x1a);
        } else {
          const UCHAR safe[] = {IRP_MN_QUERY_CAPABILITIES,     IRP_MN_QUERY_ID,
                                IRP_MN_QUERY_PNP_DEVICE_STATE, IRP_MN_QUERY_DEVICE_RELATIONS,
                                IRP_MN_QUERY_STOP_DEVICE,      IRP_MN_CANCEL_STOP_DEVICE};
          driver_.Pnp(device, safe[minor % std::size(safe)]);
        }
        Request power;
        power.device = device;
        power.major = in_.Byte() & 1 ? IRP_MJ_POWER : IRP_MJ_SYSTEM_CONTROL;
        power.minor = in_.Byte() % 4;
        Submit(power);
        break;
      }
      case 18:
        armed_ = true;  // the next step runs at the next point another processor could
        break;
      case 19:  // anyone asks a port's link state
        if (reader_ != nullptr)
          driver_.Control(reader_, VPORT_BRIDGE_QUERY, Le32s({AnyCom()}), in_.Byte() % 8);
        break;
      case 20: {  // a program waits on an event mask it sets first
        PFILE_OBJECT program = Program();
        uint32_t mask = in_.Le16() & 0x1FF;
        if (program == nullptr) break;
        driver_.Control(program, VPORT_SERIAL_SET_WAIT_MASK, Le32s({mask}), 0);
        driver_.Control(program, VPORT_SERIAL_WAIT_ON_MASK, {}, 4);
        break;
      }
      default:
        Write();
        break;
    }
  }

  void Service(ULONG code, const Bytes& input) {
    if (service_ != nullptr) driver_.Control(service_, code, input, 0);
  }

  void Next() {
    if (service_ == nullptr) return;
    unsigned kind = in_.Byte() % 4;
    ULONG capacity = kind == 0   ? VPORT_BRIDGE_HEADER_SIZE + VPORT_BRIDGE_SETTINGS_SIZE + 1 + in_.Byte()
                     : kind == 1 ? VPORT_BRIDGE_HEADER_SIZE + 65536
                     : kind == 2 ? in_.Le16()
                                 : VPORT_BRIDGE_HEADER_SIZE + in_.Le16() % 4096;
    nexts_.push_back(driver_.Next(service_, capacity));
  }

  void Write() {
    PFILE_OBJECT program = Program();
    unsigned kind = in_.Byte() % 4;
    size_t length = kind == 0   ? in_.Byte()
                    : kind == 1 ? in_.Le16()
                    : kind == 2 ? 65536 + in_.Le16() % 8192
                                : 0;
    if (program == nullptr) return;
    Bytes bytes = WriteBytes(++serial_, length);
    ULONG com = ports_[program->DeviceObject == ports_[0].fdo ? 0 : 1].com;
    RequestId id = driver_.Write(program, bytes);
    writes_.push_back({id, com, std::move(bytes)});
  }

  // The service takes the NEXT the driver filled first.
  void TakeFilled() {
    auto first = nexts_.end();
    for (auto at = nexts_.begin(); at != nexts_.end(); ++at) {
      const Completion* done = Result(*at);
      if (done != nullptr && (first == nexts_.end() || done->order < Result(*first)->order)) first = at;
    }
    if (first == nexts_.end()) return;
    const Completion done = *Result(*first);
    nexts_.erase(first);
    Handed handed;
    if (!ParseHanded(done, &handed)) {
      FUZZ_CHECK(!NT_SUCCESS(done.status) || done.information == 0);  // a filled NEXT holds a valid record
      return;
    }
    const VportBridgeRequest& h = handed.header;
    if (h.kind == VPORT_BRIDGE_READ || h.kind == VPORT_BRIDGE_WAIT) ids_.push_back(h.id);
    if (h.kind == VPORT_BRIDGE_WRITE) CheckPiece(handed);
  }

  void CheckPiece(const Handed& handed) {
    const VportBridgeRequest& h = handed.header;
    std::vector<const ProgramWrite*> from;
    for (const ProgramWrite& w : writes_)
      if (w.com == h.comNumber && w.bytes.size() == h.total &&
          std::equal(handed.payload.begin(), handed.payload.end(), w.bytes.begin() + h.offset))
        from.push_back(&w);
    FUZZ_CHECK(!from.empty());  // the piece holds bytes a program wrote there
    if (h.flags & VPORT_BRIDGE_FLAG_DONE) return;
    ids_.push_back(h.id);
    end_[h.id] = h.offset + h.length;
    auto known = writeOf_.find(h.id);
    if (known == writeOf_.end() && from.size() == 1) known = writeOf_.emplace(h.id, from[0]->request).first;
    if (known != writeOf_.end())
      FUZZ_CHECK(std::any_of(from.begin(), from.end(),
                             [&](const ProgramWrite* w) { return w->request == known->second; }));
    // An earlier write of the port handed in part and still pending: nothing of a later one may go.
    auto partial = partial_.find(h.comNumber);
    if (partial != partial_.end() && partial->second != h.id) {
      auto earlier = writeOf_.find(partial->second);
      FUZZ_CHECK(earlier == writeOf_.end() || !Pending(earlier->second));
    }
    if (h.offset + h.length < h.total)
      partial_[h.comNumber] = h.id;
    else
      partial_.erase(h.comNumber);
  }

  void Answer() {
    if (service_ == nullptr) return;
    uint32_t id = !ids_.empty() && in_.Byte() % 8 ? ids_[in_.Byte() % ids_.size()] : in_.Le32();
    unsigned pick = in_.Byte() % (std::size(kStatuses) + 1);
    uint32_t status = pick < std::size(kStatuses) ? kStatuses[pick] : in_.Le32();
    unsigned kind = in_.Byte() % 4;
    uint32_t length = kind == 0 ? end_[id] : kind == 1 ? 0 : kind == 2 ? in_.Le32() % 70000 : in_.Le32();
    Bytes data = Take(in_.Le16() % 512);
    driver_.Answer(service_, id, status, length, data);
  }

  FuzzInput& in_;
  Driver& driver_;
  std::vector<Driver::Port> ports_;
  PFILE_OBJECT programs_[kPorts] = {};
  std::vector<PFILE_OBJECT> others_;
  PFILE_OBJECT service_ = nullptr;
  PFILE_OBJECT reader_ = nullptr;
  std::vector<RequestId> nexts_;
  std::vector<uint32_t> ids_;         // reads, waits and write pieces the service saw
  std::map<uint32_t, uint32_t> end_;  // a write piece's end in its write, by id
  std::vector<ProgramWrite> writes_;
  std::map<uint32_t, RequestId> writeOf_;  // a handed write's id -> the program's request
  std::map<ULONG, uint32_t> partial_;      // port -> id of a write handed in part
  uint32_t serial_ = 0;
  bool armed_ = false;
  bool preempted_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Driver driver;
  Case(in, driver).Run();
  driver.Unload();
  return 0;
}
