#pragma once

#include <QString>

// Turns the bytes a client library returns (values, names, messages) into text.
namespace LibraryText {

// UTF-8 when the bytes are valid UTF-8, else Latin-1; empty for a null pointer.
QString decode(const char* bytes, qsizetype length);
// The same, up to the first zero byte.
QString decode(const char* bytes);

} // namespace LibraryText
