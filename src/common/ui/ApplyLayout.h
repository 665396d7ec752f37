#pragma once

#include <QString>

class QObject;

// The error of a picture or icon file named by a layout key that cannot be loaded.
inline constexpr int kLayoutPictureCode = -18;
inline constexpr const char* kLayoutPictureText = "Cannot load the picture file ";

// Applies the saved layout of a window: for the object and everything it owns (recursively, in
// the order of ownership), the keys "<objectName>.<Property>" of the section override the
// built-in design. For the application object the walk goes on to every top-level window.
// Properties: Left, Top, Width, Height, Color, FontCharset, FontColor, Visible, TabVisible,
// Enabled, Checked, Title, Caption, Captions, ItemIndex, Hint, Text, Icon, Picture, Pictures.
// A picture file that cannot be loaded raises kLayoutPictureCode; what was applied before
// stays applied.
void ApplyLayout(QObject* component, const QString& iniPath, const QString& section, const QString& imageFolder);

// The character set code of a name ("GREEK" -> 161) or of a decimal number, low 8 bits.
int FontCharsetCode(const QString& value);
