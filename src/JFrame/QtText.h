#pragma once
// Text of the core (UTF-8 std::string) as Qt's.
#include <QString>
#include <string>

inline QString Qs(const std::string& s) { return QString::fromStdString(s); }
