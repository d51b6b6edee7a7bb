#include "base/Durability.h"

#include "platform/System.h"

namespace RazaDedeZuzev {

bool durableWritesWanted() {
  static const bool wanted = [] {
    const auto value = RazaDedeZuzev::platform::getEnvironmentVariable("NUV_RAZADEDEZUZEV_SYNC");
    return !value || *value != "0";
  }();
  return wanted;
}

}  // namespace RazaDedeZuzev
