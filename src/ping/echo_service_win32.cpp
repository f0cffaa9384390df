// The echo service on ICMP.DLL, loaded at run time rather than linked: a
// system without it must still start and measure through raw sockets. Its
// IPv6 calls live in IPHLPAPI.DLL alone, loaded beside it; a system without
// them fails only IPv6 echoes.

// The order matters: winsock2.h brings in windows.h after itself, keeping
// out the old winsock.h, and ipexport.h builds on their types.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <ipexport.h>
// clang-format on

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ping/echo_service.hpp"
#include "ping/winsock_startup_win32.hpp"
#include "support/failure.hpp"

namespace zelvor {

namespace {

// Declared here rather than taken from icmpapi.h, since they are called
// through pointers from GetProcAddress.
using IcmpCreateFileCall = HANDLE(WINAPI*)();
using IcmpCloseHandleCall = BOOL(WINAPI*)(HANDLE);
using IcmpSendEchoCall = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION,
                                        LPVOID, DWORD, DWORD);
using Icmp6SendEcho2Call = DWORD(WINAPI*)(HANDLE, HANDLE, FARPROC, PVOID, sockaddr_in6*,
                                          sockaddr_in6*, LPVOID, WORD, PIP_OPTION_INFORMATION,
                                          LPVOID, DWORD, DWORD);

// The start of the system's IPv6 reply record, which the toolchain's headers
// lack. Its address part is 26 bytes packed or 28 aligned; either way the
// status and round trip follow at 28 and 32.
struct Icmp6EchoReply {
  unsigned char address[28];
  ULONG status;
  unsigned int roundTripTime;
};
// What Icmp6SendEcho2 asks room for besides the record and the data: an
// ICMP error's 8 bytes and the status block it writes behind them.
constexpr std::size_t icmp6ReplyExtra = 8 + 2 * sizeof(void*);

// GetProcAddress yields a generic function pointer; each of ours is cast
// back to the type it was exported with.
template <class Call>
Call procedure(HMODULE module, const char* name) {
  return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// ICMP.DLL and the three calls the service makes into it.
class IcmpLibrary {
 public:
  // Throws `failureText` when the library or any of its calls is missing;
  // nothing is then left loaded.
  explicit IcmpLibrary(const char* failureText) : module_(LoadLibraryA("ICMP.DLL")) {
    if (module_ == nullptr) throw kelvo::Failure(failureText);
    createFile = procedure<IcmpCreateFileCall>(module_, "IcmpCreateFile");
    closeHandle = procedure<IcmpCloseHandleCall>(module_, "IcmpCloseHandle");
    sendEcho = procedure<IcmpSendEchoCall>(module_, "IcmpSendEcho");
    if (createFile == nullptr || closeHandle == nullptr || sendEcho == nullptr) {
      FreeLibrary(module_);
      throw kelvo::Failure(failureText);
    }
  }
  ~IcmpLibrary() { FreeLibrary(module_); }
  IcmpLibrary(const IcmpLibrary&) = delete;
  IcmpLibrary& operator=(const IcmpLibrary&) = delete;

  IcmpCreateFileCall createFile = nullptr;
  IcmpCloseHandleCall closeHandle = nullptr;
  IcmpSendEchoCall sendEcho = nullptr;

 private:
  HMODULE module_;
};

// IPHLPAPI.DLL's IPv6 echo calls, or nothing when the system lacks them.
class Icmp6Library {
 public:
  Icmp6Library() noexcept : module_(LoadLibraryA("IPHLPAPI.DLL")) {
    if (module_ == nullptr) return;
    createFile = procedure<IcmpCreateFileCall>(module_, "Icmp6CreateFile");
    closeHandle = procedure<IcmpCloseHandleCall>(module_, "IcmpCloseHandle");
    sendEcho = procedure<Icmp6SendEcho2Call>(module_, "Icmp6SendEcho2");
  }
  ~Icmp6Library() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Icmp6Library(const Icmp6Library&) = delete;
  Icmp6Library& operator=(const Icmp6Library&) = delete;

  bool usable() const noexcept {
    return createFile != nullptr && closeHandle != nullptr && sendEcho != nullptr;
  }

  IcmpCreateFileCall createFile = nullptr;
  IcmpCloseHandleCall closeHandle = nullptr;
  Icmp6SendEcho2Call sendEcho = nullptr;

 private:
  HMODULE module_;
};

class IcmpDllService;

// One handle from IcmpCreateFile. It keeps the service, and so the library
// its calls live in, alive until it is closed.
class IcmpEchoHandle final : public EchoHandle {
 public:
  IcmpEchoHandle(std::shared_ptr<const IcmpDllService> service, IcmpFamily family,
                 HANDLE handle) noexcept
      : service_(std::move(service)), family_(family), handle_(handle) {}
  ~IcmpEchoHandle() override;
  IcmpEchoHandle(const IcmpEchoHandle&) = delete;
  IcmpEchoHandle& operator=(const IcmpEchoHandle&) = delete;

  EchoOutcome echo(const HostAddress& address, std::span<const std::uint8_t> data,
                   std::uint32_t timeoutMs) override;

 private:
  EchoOutcome echo6(const HostAddress& address, std::span<const std::uint8_t> data,
                    std::uint32_t timeoutMs);

  std::shared_ptr<const IcmpDllService> service_;
  IcmpFamily family_;
  HANDLE handle_;
};

class IcmpDllService final : public EchoService,
                             public std::enable_shared_from_this<IcmpDllService> {
 public:
  // Members go in reverse: the library is freed before Winsock is cleaned
  // up.
  IcmpDllService()
      : winsock_(MAKEWORD(1, 1), echoServiceRefusedText), library_(echoServiceRefusedText) {}

  std::unique_ptr<EchoHandle> open(IcmpFamily family) override {
    if (family == IcmpFamily::v6 && !library6_.usable()) return nullptr;
    const HANDLE handle = family == IcmpFamily::v6 ? library6_.createFile() : library_.createFile();
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return nullptr;
    return std::make_unique<IcmpEchoHandle>(shared_from_this(), family, handle);
  }

  const IcmpLibrary& library() const noexcept { return library_; }
  const Icmp6Library& library6() const noexcept { return library6_; }

 private:
  detail::WinsockStartup winsock_;
  IcmpLibrary library_;
  Icmp6Library library6_;
};

IcmpEchoHandle::~IcmpEchoHandle() {
  if (family_ == IcmpFamily::v6) {
    service_->library6().closeHandle(handle_);
  } else {
    service_->library().closeHandle(handle_);
  }
}

EchoOutcome IcmpEchoHandle::echo(const HostAddress& address, std::span<const std::uint8_t> data,
                                 std::uint32_t timeoutMs) {
  if (data.size() > 0xFFFF) return {};
  if (family_ == IcmpFamily::v6) return echo6(address, data, timeoutMs);
  IPAddr target;
  std::memcpy(&target, address.bytes.data(), sizeof target);
  // The reply record and a copy of the data, with the 8 bytes of an ICMP
  // error that IcmpSendEcho asks room for. Not a fixed 92 bytes: that fits
  // 32 bytes of data only under the 32-bit record, and on 64-bit Windows,
  // whose record is larger, every echo would fail for want of room.
  std::vector<unsigned char> replies(sizeof(ICMP_ECHO_REPLY) + data.size() + 8);
  // The call takes its request as writable but only reads it.
  const DWORD count = service_->library().sendEcho(
      handle_, target, const_cast<std::uint8_t*>(data.data()), static_cast<WORD>(data.size()),
      nullptr, replies.data(), static_cast<DWORD>(replies.size()), timeoutMs);
  if (count == 0) return {};
  ICMP_ECHO_REPLY first;
  std::memcpy(&first, replies.data(), sizeof first);
  if (first.Status != IP_SUCCESS) return {};
  return {true, first.RoundTripTime};
}

// From any local address; the call blocks (no event, no routine) as the IPv4
// one does.
EchoOutcome IcmpEchoHandle::echo6(const HostAddress& address, std::span<const std::uint8_t> data,
                                  std::uint32_t timeoutMs) {
  sockaddr_in6 source{};
  source.sin6_family = AF_INET6;
  sockaddr_in6 target{};
  target.sin6_family = AF_INET6;
  std::memcpy(&target.sin6_addr, address.bytes.data(), sizeof target.sin6_addr);
  std::vector<unsigned char> replies(sizeof(Icmp6EchoReply) + data.size() + icmp6ReplyExtra);
  const DWORD count = service_->library6().sendEcho(
      handle_, nullptr, nullptr, nullptr, &source, &target, const_cast<std::uint8_t*>(data.data()),
      static_cast<WORD>(data.size()), nullptr, replies.data(), static_cast<DWORD>(replies.size()),
      timeoutMs);
  if (count == 0) return {};
  Icmp6EchoReply first;
  std::memcpy(&first, replies.data(), sizeof first);
  if (first.status != IP_SUCCESS) return {};
  return {true, first.roundTripTime};
}

}  // namespace

std::shared_ptr<EchoService> bindEchoService(ArrivalStamps) {
  return std::make_shared<IcmpDllService>();
}

}  // namespace zelvor
