#include "service/AddressGroup.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace service {

std::string AddressGroup(const std::string& address) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
    char text[INET6_ADDRSTRLEN] = {};
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        in_addr v4{};
        std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
        return inet_ntop(AF_INET, &v4, text, sizeof text) ? std::string(text) : address;
    }
    std::memset(&v6.s6_addr[8], 0, 8);
    return inet_ntop(AF_INET6, &v6, text, sizeof text) ? std::string(text) + "/64" : address;
}

}  // namespace service
