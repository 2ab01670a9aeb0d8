#pragma once

#include <QString>
#include <QStringList>

namespace LinkDetector {

// Absolute URL texts in order of appearance, duplicates kept. URLs with a known scheme (http,
// https, ftp, ftps, sftp, file, ssh, git, ws, wss, mailto) are reported as written; "www." hosts
// get "http://" in front; bare e-mail addresses are reported as "mailto:<address>". Sentence
// punctuation and unbalanced closing brackets at the end of a link are left out.
// Runs in time linear in the length of the text.
QStringList detect(const QString &text);

} // namespace LinkDetector
