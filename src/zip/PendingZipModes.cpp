// Zip modes whose handlers are not part of this build yet. Each fails with
// one clear line, so that a caller is never told that work was done.

#include "app/Handlers.h"
#include "app/Logger.h"

namespace RazaDedeZuzev {

bool ExecuteExtractFromZipToResourceStore(InputFile&, std::FILE*) {
  Logger::GetInstance() << "mode not available yet: extract_from_zip_to_resource_store\n";
  return false;
}

}  // namespace RazaDedeZuzev
