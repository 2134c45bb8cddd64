// The till service's interface described in OpenAPI 3.1: docs/openapi.json,
// compiled into the program at build time (cmake/SelvoEmbedText.cmake), so
// that GET /openapi.json answers exactly the bytes of the file.
#pragma once

#include <string_view>

namespace selvo::host {

std::string_view OpenApiDocument();

}  // namespace selvo::host
