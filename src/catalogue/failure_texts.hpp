// The texts that record why an echo sample failed. Each is defined once, as
// an inline variable, so every use in every file shares one address.
#pragma once

#include <array>

namespace zelvor::failure {

// The host text did not resolve to an address.
inline constexpr char badAddress[] = "BADADDRESS";
// Sending the echo request failed.
inline constexpr char sockError[] = "SOCKERROR";
// No matching reply arrived within the time-out, or it came later.
inline constexpr char timeout[] = "TIMEOUT";
// Raw engine's reply check: the request's time to live ran out in transit.
inline constexpr char expired[] = "EXPIRED";
// Raw engine's reply check: the reply came from another address or identifier.
inline constexpr char foreign[] = "FOREIGN";
// Raw engine's reply check: the destination was reported unreachable.
inline constexpr char unreachable[] = "UNREACHABLE";
// Raw engine's reply check: the reply was malformed.
inline constexpr char badHeader[] = "BADHEADER";
// The system echo service could not be opened or gave no reply.
inline constexpr char serviceFailure[] = "FAILURE";

// Every failure text, in the order in which reports and pages list them.
inline constexpr std::array<const char*, 8> all{badAddress, sockError,   timeout,   expired,
                                                foreign,    unreachable, badHeader, serviceFailure};

}  // namespace zelvor::failure
