#include "main/startup.h"

namespace nerova {

// A terminal or the journal shows standard error here.
void show_bind_failure(const std::string&, bool) {}

}  // namespace nerova
