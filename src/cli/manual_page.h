#pragma once

#include "cli/command_reference.h"

#include <string>
#include <string_view>

namespace quellora {

// The manual page of `program` in section 1, as man(7) source. `date` is the
// release date (YYYY-MM-DD), so that the same release always gives the same
// page.
std::string formatManualPage(const ProgramHelp& program, std::string_view version,
                             std::string_view date);

// `text` as roff reads it literally on a text line: backslashes and hyphens
// escaped, characters beyond ASCII named by code point, and a leading dot or
// apostrophe kept from being read as a request.
std::string roffText(std::string_view text);

} // namespace quellora
