// Store modes whose handlers are not part of this build yet. Each fails with
// one clear line, so that a caller is never told that work was done.

#include "app/Handlers.h"
#include "app/Logger.h"

namespace RazaDedeZuzev {

bool ExecuteBatchCopyToResourceStore(InputFile&, std::FILE*, bool fromMultipleDirectories) {
  Logger::GetInstance() << "mode not available yet: "
                        << (fromMultipleDirectories
                                ? "batch_copy_to_resource_store_from_multiple_directories"
                                : "batch_copy_to_resource_store")
                        << "\n";
  return false;
}

bool ExecuteBatchCopyFromResourceStore(InputFile&) {
  Logger::GetInstance() << "mode not available yet: batch_copy_from_resource_store\n";
  return false;
}

}  // namespace RazaDedeZuzev
