#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace StrictUtf8 {

// The text the bytes spell in UTF-8; nullopt when they are not valid UTF-8, so that
// damaged text is never taken with replacement characters in it.
std::optional<QString> decode(const QByteArray& bytes);

} // namespace StrictUtf8
