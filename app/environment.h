#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QUrl>

// What the views take from their surroundings: texts handed over by the
// engine, the browser, the user's home directory and the bundled artwork.

// Copies a text that the engine made with strdup and releases the engine's
// copy. A null pointer gives an empty text.
QString takeEngineText(char* text);

// Opens an address in the default browser (or in whatever handler is
// registered for its scheme).
void openURL(const QUrl& url);

// The user's home directory, where the results file is written.
QString homeDirectory();

// The bundled images "vx_headerlogo512" and "Orvelle-Logo", and the symbols
// "macmini", "cpu" and "memorychip", looked up by name. An unknown name gives
// a null image.
QPixmap bundleImage(const QString& name);
QIcon systemSymbol(const QString& name);
