#pragma once

#include <QString>

#include <memory>

class TextRecognizer;

// The library that holds the recogniser (ulvane-ocr.so), loaded the first time a picture needs
// reading and kept for the rest of the process.
namespace RecognizerLibrary {

// A new recogniser, or null with `error` saying why the library could not be used.
std::unique_ptr<TextRecognizer> create(QString *error);

} // namespace RecognizerLibrary
