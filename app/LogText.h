#pragma once

#include <QString>
#include <string>

// Conversions between the 8-bit text of the engine and the transfers and the text of the widgets.
namespace LogText {

// UTF-8 where the bytes are valid UTF-8, otherwise Latin-1, so that no byte of a server's text is lost.
QString fromBytes(const std::string& bytes);

// The 8-bit text handed to the engine and the settings file.
std::string toBytes(const QString& text);

// A log line as the text box stores it: every CR LF, lone CR or lone LF becomes one line break.
QString toDocumentText(const QString& text);

// The log as one text whose lines each end in CR LF, as Display defines it.
QString fromDocumentText(const QString& plainText);

} // namespace LogText
