#pragma once

#include "modulecontext.h"

#include <string>

namespace qmr {

// Why the module must not be moved to line setting newLineNo (a table index; -1 keeps the
// line): on a raw network port the line is the server's, and a module moved off it answers
// nobody until someone goes on site. Empty when the move is allowed. The window's message
// line and qmrctl both show this text.
std::string lineChangeRefusal(ModuleContext &ctx, int newLineNo);

// The same for a port named on its own (qmrctl's provisioning ports), before anything is sent.
std::string lineChangeRefusal(const std::string &device);

} // namespace qmr
