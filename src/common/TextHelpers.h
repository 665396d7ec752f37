#pragma once

#include <QString>

// Replaces every occurrence of placeholder that stands in the template, left to right;
// text inserted by a replacement is never searched again.
QString ReplaceAll(const QString& templ, const QString& placeholder, const QString& value);
