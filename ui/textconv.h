// textconv.h - the layer's conversions between the programs' byte strings and
// the toolkit's strings.
#pragma once

#include <QString>
#include <string>

namespace vzrui {

// Paths and texts the user types: the system's 8-bit encoding (UTF-8 here).
QString ToQt(const std::string& text);
std::string FromQt(const QString& text);

}  // namespace vzrui
