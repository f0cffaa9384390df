// The echo service on ICMP.DLL, loaded at run time rather than linked: a
// system without it must still start and measure through raw sockets.

// The order matters: winsock2.h brings in windows.h after itself, keeping
// out the old winsock.h, and ipexport.h builds on their types.
// clang-format off
#include <winsock2.h>
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

class IcmpDllService;

// One handle from IcmpCreateFile. It keeps the service, and so the library
// its calls live in, alive until it is closed.
class IcmpEchoHandle final : public EchoHandle {
 public:
  IcmpEchoHandle(std::shared_ptr<const IcmpDllService> service, HANDLE handle) noexcept
      : service_(std::move(service)), handle_(handle) {}
  ~IcmpEchoHandle() override;
  IcmpEchoHandle(const IcmpEchoHandle&) = delete;
  IcmpEchoHandle& operator=(const IcmpEchoHandle&) = delete;

  EchoOutcome echo(std::uint32_t address, std::span<const std::uint8_t> data,
                   std::uint32_t timeoutMs) override;

 private:
  std::shared_ptr<const IcmpDllService> service_;
  HANDLE handle_;
};

class IcmpDllService final : public EchoService,
                             public std::enable_shared_from_this<IcmpDllService> {
 public:
  // Members go in reverse: the library is freed before Winsock is cleaned
  // up.
  IcmpDllService()
      : winsock_(MAKEWORD(1, 1), echoServiceRefusedText), library_(echoServiceRefusedText) {}

  std::unique_ptr<EchoHandle> open() override {
    const HANDLE handle = library_.createFile();
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<IcmpEchoHandle>(shared_from_this(), handle);
  }

  const IcmpLibrary& library() const noexcept { return library_; }

 private:
  detail::WinsockStartup winsock_;
  IcmpLibrary library_;
};

IcmpEchoHandle::~IcmpEchoHandle() { service_->library().closeHandle(handle_); }

EchoOutcome IcmpEchoHandle::echo(std::uint32_t address, std::span<const std::uint8_t> data,
                                 std::uint32_t timeoutMs) {
  if (data.size() > 0xFFFF) return {};
  // The reply record and a copy of the data, with the 8 bytes of an ICMP
  // error that IcmpSendEcho asks room for. Not a fixed 92 bytes: that fits
  // 32 bytes of data only under the 32-bit record, and on 64-bit Windows,
  // whose record is larger, every echo would fail for want of room.
  std::vector<unsigned char> replies(sizeof(ICMP_ECHO_REPLY) + data.size() + 8);
  // The call takes its request as writable but only reads it.
  const DWORD count = service_->library().sendEcho(
      handle_, address, const_cast<std::uint8_t*>(data.data()), static_cast<WORD>(data.size()),
      nullptr, replies.data(), static_cast<DWORD>(replies.size()), timeoutMs);
  if (count == 0) return {};
  ICMP_ECHO_REPLY first;
  std::memcpy(&first, replies.data(), sizeof first);
  if (first.Status != IP_SUCCESS) return {};
  return {true, first.RoundTripTime};
}

}  // namespace

std::shared_ptr<EchoService> bindEchoService(ArrivalStamps) {
  return std::make_shared<IcmpDllService>();
}

}  // namespace zelvor
