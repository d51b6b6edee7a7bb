#pragma once

// The environment that makes FaultPoint.cpp act on a run of the program.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

namespace e2e {

// `setting` is one of the variables FaultPoint.cpp reads.
inline std::map<std::string, std::string> faultPointEnvironment(const std::string& setting,
                                                                std::uint64_t value) {
  // The sanitizers' runtime wants to be the first library; here it cannot.
  const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
  return {{setting, std::to_string(value)},
          {"LD_PRELOAD", FAULT_POINT_LIBRARY},
          {"ASAN_OPTIONS",
           std::string(sanitizerOptions == nullptr ? "" : sanitizerOptions) + ":verify_asan_link_order=0"}};
}

}  // namespace e2e
