#pragma once

#include <optional>
#include <QByteArray>
#include <QString>

// Reads the plain characters of an RTF document: groups, control words, \par/\line/\tab,
// \'hh in the document's code page, \uN with \ucN, skipped destinations. Formatting is
// dropped. Absent when the bytes are not an RTF document.
namespace Rtf {
std::optional<QString> toPlainText(const QByteArray &rtf);
}
