// Zip modes whose handlers are not part of this build yet. Each fails with
// one clear line, so that a caller is never told that work was done.

#include "app/Handlers.h"
#include "app/Logger.h"

namespace RazaDedeZuzev {
namespace {

bool notAvailable(const char* modeWord) {
  Logger::GetInstance() << "mode not available yet: " << modeWord << "\n";
  return false;
}

}  // namespace

bool ExecuteExtractFromZip(InputFile&, std::FILE*) { return notAvailable("extract_from_zip"); }
bool ExecuteExtractFromZipToResourceStore(InputFile&, std::FILE*) {
  return notAvailable("extract_from_zip_to_resource_store");
}
bool ExecuteListZipEntry(InputFile&, std::FILE*, bool withFirstBlock) {
  return notAvailable(withFirstBlock ? "list_zip_entry_with_first_block" : "list_zip_entry");
}

}  // namespace RazaDedeZuzev
