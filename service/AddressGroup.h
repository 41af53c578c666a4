// The name under which the per-address limits count a client.
#pragma once

#include <string>

namespace service {

// An IPv4 address as it is (also one written as an IPv4-mapped IPv6 address). An IPv6
// address by its /64 network ("2001:db8:1:2::/64"): one home or host usually holds a
// whole /64 and can pick a new address in it at will. Anything else as it is.
std::string AddressGroup(const std::string& address);

}  // namespace service
