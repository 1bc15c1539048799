#include "base/uuid.h"

#include <uuid/uuid.h>

namespace quellora {

Uuid Uuid::random() {
    Bytes bytes{};
    uuid_generate_random(bytes.data());
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    // uuid_parse wants a terminated string of exactly 36 characters.
    if (text.size() != 36) {
        return std::nullopt;
    }
    const std::string terminated(text);
    Bytes bytes{};
    if (uuid_parse(terminated.c_str(), bytes.data()) != 0) {
        return std::nullopt;
    }
    return Uuid(bytes);
}

std::string Uuid::uppercaseString() const {
    char text[37] = {};
    uuid_unparse_upper(bytes_.data(), text);
    return std::string(text, 36);
}

} // namespace quellora
