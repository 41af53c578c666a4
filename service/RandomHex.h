// Random names for the service's temporary files.
#pragma once

#include <cstddef>
#include <string>

namespace service {

// 2 * bytes lower-case hexadecimal digits from the system's random source.
std::string RandomHex(size_t bytes);

}  // namespace service
