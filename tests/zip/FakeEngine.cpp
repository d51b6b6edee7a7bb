// A stand-in for an engine library that the program must refuse: it exports
// the engine's entry points, but reports (or, without GetModuleProp, implies)
// the older interface convention whose tables have a virtual destructor in
// IUnknown. CreateObject ends the process, so a run that calls into such a
// library cannot pass for one that refused it.

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Value {
  std::uint16_t type;
  std::uint16_t reserved[3];
  std::uint64_t number;
};

}  // namespace

extern "C" {

std::int32_t CreateObject(const void*, const void*, void**) { std::abort(); }

std::int32_t VariantClear(Value* value) {
  std::memset(value, 0, sizeof *value);
  return 0;
}

#ifdef FAKE_ENGINE_REPORTS_CONVENTION
constexpr std::uint16_t kUnsigned32 = 19;
constexpr std::uint32_t kInterfaceTypeProperty = 0;
constexpr std::uint64_t kVirtualDestructorConvention = 1;

std::int32_t GetModuleProp(std::uint32_t property, Value* value) {
  if (property != kInterfaceTypeProperty) return 1;
  value->type = kUnsigned32;
  value->number = kVirtualDestructorConvention;
  return 0;
}
#endif

}  // extern "C"
