#pragma once

#include <QString>
#include <string_view>

namespace velmora {

// The program's UTF-8 texts as Qt's strings, for the windows and the painter.
inline QString ToQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace velmora
